// The installed Click-to-Run Office, read from both registry views.
#pragma once

#include <string>
#include <vector>

// Installed cultures without proofing cultures, sorted and distinct.
std::vector<std::string> GetInstalledLanguages();
// The first product release id (the second when the first is the Access
// runtime); empty when none is installed.
std::string GetProductReleaseId();
// The applications excluded from the installed Office, in stored order.
std::vector<std::string> GetExcludedApps();
// Saves "UpdateChannel" of both views; ResetUpdateChannels writes them back.
void ReadUpdateChannels();
void ResetUpdateChannels();
