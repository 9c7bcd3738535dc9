// Pieces of the package-file list flow: the file checksums, the list's
// quick shape check and the rules for its members.
#pragma once

#include <string>

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
