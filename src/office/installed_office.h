// The installed Click-to-Run Office, read from both registry views.
#pragma once

#include <string>
#include <vector>

#include "office/office_state.h"

// A Click-to-Run text value under HKEY_LOCAL_MACHINE\`subkey`, read in the
// 64-bit view, then in the 32-bit view when the first gives nothing; empty
// when neither has it.
std::string ReadOfficeText(const char* subkey, const char* valueName);
// Installed cultures without proofing cultures, sorted and distinct. Each of
// "OfficeCulture" and "ClientCulture" is read in the 64-bit view, then in the
// 32-bit view when the first gives nothing.
std::vector<std::string> GetInstalledLanguages();
// The first product release id (the second when the first is the Access
// runtime); empty when none is installed.
std::string GetProductReleaseId();
// The applications excluded from the installed Office, in stored order, from
// the first value whose name contains "excludedapps" (any case). Empty when
// there is none or the key cannot be opened (logged).
std::vector<std::string> GetExcludedApps();
// Saves "UpdateChannel" of both views as stored: its type and raw bytes, or
// that it is missing. ResetUpdateChannels puts each view back as it was: the
// same type and bytes, or, for a value missing at start, no value at all.
// Failures are logged; the run goes on.
void ReadUpdateChannels(OfficeState* state);
void ResetUpdateChannels(const OfficeState& state);

// --- pure pieces, exposed for tests ---
// The non-empty pieces of `text` between any of the `separators`.
std::vector<std::string> SplitPieces(const std::string& text, const char* separators);
// The pieces joined with commas, as Click-to-Run lists them.
std::string JoinPieces(const std::vector<std::string>& pieces);
// Both culture lists merged: proofing cultures dropped, byte-wise sorted,
// duplicates (same letter case) listed once.
std::vector<std::string> MergeInstalledCultures(const std::string& officeCulture, const std::string& clientCulture);
// The product to configure from a "ProductReleaseIds" text.
std::string PickProductReleaseId(const std::string& productReleaseIds);
