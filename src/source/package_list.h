// The package-file list flow: the server publishes per package an encrypted
// list of its installation files with their SHA-256 checksums. The flow
// fetches the list, has the agent's decryptor turn it into plain JSON,
// downloads and checks every file into the package folder and installs
// from there.
#pragma once

#include <string>

// The whole flow. 0 when setup succeeded (the package folder is then
// deleted); otherwise the failing step's code, with its remark written.
int RunOfficeMetaFlow();
// Fetches "<patch id>.json" into the package folder from the first store
// address that has it and names that address in `address`, for the files.
// 0, the last download code, or 1168 when no address with a port is
// configured (`address` untouched then).
int DownloadPatchMetaJson(std::string* address);
// Runs "<agent>\patches\officemeta.exe" over the list: 0 (also for its 183),
// 2 when the decryptor or the decrypted list is missing, else its result.
int DecryptPatchMetaJson();
// Downloads every listed installation file the package folder does not
// already hold intact from the store at `address`, each checked before the
// next is asked for. 0; 1 (no address, a malformed checksum or a name that
// leaves the package folder); 2 (no usable list); 60000 (a checksum differs
// after the download); or the failed download's code.
int DownloadPackageFiles(const std::string& address);

// The SHA-256 of the file as 64 lower-case hexadecimal digits in `hex`
// (empty on failure). The path is UTF-8. 0, or the system error of the
// failing step.
int GetSHA256HashFromFile(const std::string& path, std::string* hex);

// 1 when the file looks like a JSON object or array (after joining its lines
// and trimming: "{...}" or "[...]"), else 0. With
// the DWORD DisableJsonValidation = 1 under the patch key only the file's
// existence is checked.
int IsJsonFileValid(const std::string& path);

// --- pure pieces, exposed for tests ---
// Whether a member of the list names an installation file: its extension
// (from the last ".") is .cab, .dat or .cat in any letter case.
bool IsPackageFileName(const std::string& name);
// Whether a checksum text has the length of a SHA-256 in hexadecimal.
bool IsChecksumText(const std::string& checksum);
// The shape check on the joined text.
bool LooksLikeJson(const std::string& text);
