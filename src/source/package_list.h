// The package-file list flow: the server publishes per package an encrypted
// list of its installation files with their SHA-256 checksums. The flow
// fetches the list, has the agent's decryptor turn it into plain JSON,
// downloads and checks every file into the package folder and installs
// from there.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "agent/agent_parameters.h"
#include "agent/custom_remarks.h"
#include "transport/transfer_settings.h"

class ProgressReporter;
struct OfficeState;

// What the flow works with, handed down by the driver: the run's transfers
// and the deployment it serves.
struct ListFlowSettings {
  const TransferSettings& transfers;
  TransferRunState* run;  // never null
  RunRemarks* remarks;    // the run's; never null
  int patchId = 0;
  // "<agent folder>\patches\office\<patch id>".
  std::string packageFolder;
  // Optional; hears how far each file of the list has come.
  ProgressReporter* progress = nullptr;
  // The store's port and addresses, read at the moment of use: the agent's
  // dispatcher may switch routes during a run.
  std::function<StoreServerValues()> readStore;
};

// The steps of the flow, so a caller can tell whose code it got.
enum class MetaFlowStep { List, Decryptor, Files, Setup };
// The whole flow. 0 when setup succeeded (the package folder is then
// deleted); otherwise the failing step's code, with its remark written.
// `step` names the step the result came from. Setup runs with `office`.
int RunOfficeMetaFlow(const ListFlowSettings& flow, OfficeState* office, MetaFlowStep* step);
// Fetches "<patch id>.json" into the package folder from the first store
// address that has it and names that address in `address`, for the files.
// 0, the last download code, or 1168 when no address with a port is
// configured (`address` untouched then).
int DownloadPatchMetaJson(const ListFlowSettings& flow, std::string* address);
// Runs "<agent>\patches\officemeta.exe" over the list: 0 (also for its 183),
// 2 when the decryptor or the decrypted list is missing, else its result.
int DecryptPatchMetaJson(const ListFlowSettings& flow);
// Downloads every listed installation file the package folder does not
// already hold intact from the store at `address`, each checked before the
// next is asked for, each counted against the list (in the log, and in the
// flow's progress when given). 0; 1 (no address, or a list CheckPackageList
// refuses); 2 (no usable list, or one over 16 MiB); 60000 (a checksum
// differs after the download); or the failed download's code.
int DownloadPackageFiles(const ListFlowSettings& flow, const std::string& address);

// The SHA-256 of the file as 64 lower-case hexadecimal digits in `hex`
// (empty on failure). The path is UTF-8. 0, or the system error of the
// failing step.
int GetSHA256HashFromFile(const std::string& path, std::string* hex);

// 1 when the file looks like a JSON object or array (after joining its lines
// and trimming: "{...}" or "[...]"), else 0. With
// the DWORD DisableJsonValidation = 1 under the agent's patch key only the file's
// existence is checked.
int IsJsonFileValid(const reg_path::AgentKeys& keys, const std::string& path);

// --- pure pieces, exposed for tests ---
// One member of the decrypted list: a name and its checksum text (empty when
// the value is not a text).
struct ListMember {
  std::string name;
  std::string checksum;
};
// A listed installation file as the list's rules accept it.
struct PackageFile {
  std::string name;       // as listed
  std::string localName;  // "\" separators, relative to the package folder
  std::string urlPath;    // "/" separators, percent-encoded for the store URL
  std::string checksum;
};
struct PackageListCheck {
  int result = 0;       // 0, or 1 when the list is refused as a whole
  std::string refusal;  // the log line of a refusal
  std::vector<std::string> skipped;  // members that name no installation file, as logged
  std::vector<PackageFile> files;    // the files to fetch, in list order
};
// Every rule of the list, applied to all members before anything is
// fetched. A member names an installation file when its extension (from the
// last ".") is .cab, .dat or .cat in any letter case; other members are
// skipped whatever they hold. An installation file is refused (result 1)
// when its checksum text is not 64 characters long, when its name is no
// UTF-8, leaves the package folder (absolute, a drive or ':', a leading
// separator, a ".." element), holds a control character or one of <>:"|?*,
// has an empty or "." element, when any element names a device (CON, PRN,
// AUX, NUL, COM1-COM9, LPT1-LPT9 and COM or LPT with a superscript 1-3, in
// any letter case, with or without an extension, trailing dots or blanks),
// or when two names are the same file to Windows (letter case, "/" against
// "\", trailing dots and blanks of an element). The refusal's line names its
// rule. Pure.
PackageListCheck CheckPackageList(const std::vector<ListMember>& members);
// The shape check on the joined text.
bool LooksLikeJson(const std::string& text);
