// After a successful installation: what Click-to-Run reports as installed,
// and whether it is what this run asked setup for. Setup's 0 only says that
// setup finished; this says what the machine now has.
#pragma once

#include <string>
#include <vector>

// The Click-to-Run state as read after setup. Each text is read in the
// 64-bit view, then in the 32-bit view when the first gives nothing.
struct InstalledOffice {
  std::string version;                 // "VersionToReport"
  std::string platform;                // "Platform": "x86" or "x64"
  std::vector<std::string> products;   // "ProductReleaseIds"
  std::vector<std::string> languages;  // installed cultures, proofing dropped
};

// What this run asked for: -v, -oce, and the product and languages written
// into configure.xml.
struct RequestedOffice {
  std::string version;
  std::string clientEdition;  // "32" or "64"
  std::string productId;
  std::vector<std::string> languages;
};

// The values are those stored as "InstalledOfficeVerified".
enum class OfficeVerification { Mismatch = 0, Verified = 1, Unreadable = 2 };

struct OfficeVerificationResult {
  OfficeVerification verdict = OfficeVerification::Unreadable;
  // Verified, with an installed version above the one asked for.
  bool newer = false;
  // One entry per mismatch: what was compared, asked for and found.
  struct Mismatch {
    std::string what;
    std::string asked;
    std::string found;
  };
  std::vector<Mismatch> mismatches;
};

// Reads the installed state without logging.
InstalledOffice ReadInstalledOffice();

// --- pure, exposed for tests ---
// Compares the installed state with the request. Without a readable
// "VersionToReport" the verdict is Unreadable and nothing else is compared.
OfficeVerificationResult CompareInstalledOffice(const InstalledOffice& installed, const RequestedOffice& requested);
// Dotted numbers compared part by part, a missing part counting as 0:
// negative, 0 or positive as `a` is below, equal to or above `b`. Texts that
// are not dotted numbers are equal only when they are the same text, and
// are otherwise reported as below.
int CompareDottedVersions(const std::string& a, const std::string& b);
