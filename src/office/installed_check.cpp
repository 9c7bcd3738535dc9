#include "office/installed_check.h"

#include <algorithm>

#include "office/installed_office.h"
#include "util/registry_paths.h"
#include "util/text.h"

namespace {

// The parts of a dotted number; false for anything else (an empty part, a
// letter, a part too long for 64 bits).
bool ParseDotted(const std::string& text, std::vector<unsigned long long>* parts) {
  parts->clear();
  for (size_t start = 0;;) {
    size_t end = text.find('.', start);
    if (end == std::string::npos) end = text.size();
    if (end == start || end - start > 18) return false;
    unsigned long long value = 0;
    for (size_t i = start; i < end; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      value = value * 10 + static_cast<unsigned long long>(text[i] - '0');
    }
    parts->push_back(value);
    if (end == text.size()) return true;
    start = end + 1;
  }
}

bool ListedNoCase(const std::vector<std::string>& list, const std::string& wanted) {
  const std::string lowered = ToLowerText(wanted);
  return std::any_of(list.begin(), list.end(),
                     [&](const std::string& item) { return ToLowerText(item) == lowered; });
}

}  // namespace

InstalledOffice ReadInstalledOffice() {
  InstalledOffice installed;
  installed.version = ReadOfficeText(reg_path::kClickToRunConfiguration, "VersionToReport");
  installed.platform = ReadOfficeText(reg_path::kClickToRunConfiguration, "Platform");
  installed.products = SplitPieces(ReadOfficeText(reg_path::kClickToRunConfiguration, "ProductReleaseIds"), ",");
  installed.languages = MergeInstalledCultures(ReadOfficeText(reg_path::kClickToRunInventory, "OfficeCulture"),
                                               ReadOfficeText(reg_path::kClickToRunConfiguration, "ClientCulture"));
  return installed;
}

int CompareDottedVersions(const std::string& a, const std::string& b) {
  std::vector<unsigned long long> left;
  std::vector<unsigned long long> right;
  if (!ParseDotted(a, &left) || !ParseDotted(b, &right)) return a == b ? 0 : -1;
  const size_t count = std::max(left.size(), right.size());
  left.resize(count, 0);
  right.resize(count, 0);
  for (size_t i = 0; i < count; ++i) {
    if (left[i] != right[i]) return left[i] < right[i] ? -1 : 1;
  }
  return 0;
}

OfficeVerificationResult CompareInstalledOffice(const InstalledOffice& installed, const RequestedOffice& requested) {
  OfficeVerificationResult result;
  if (installed.version.empty()) return result;

  using Mismatch = OfficeVerificationResult::Mismatch;
  const int order = CompareDottedVersions(installed.version, requested.version);
  if (order < 0) result.mismatches.push_back(Mismatch{"version", requested.version, installed.version});
  result.newer = order > 0;

  const char* platform = requested.clientEdition == "32"   ? "x86"
                         : requested.clientEdition == "64" ? "x64"
                                                           : nullptr;
  if (!platform || !EqualsNoCase(installed.platform, platform)) {
    result.mismatches.push_back(Mismatch{"platform", requested.clientEdition, installed.platform});
  }
  if (!ListedNoCase(installed.products, requested.productId)) {
    result.mismatches.push_back(Mismatch{"product", requested.productId, JoinPieces(installed.products)});
  }
  std::vector<std::string> missing;
  for (const std::string& language : requested.languages) {
    if (!ListedNoCase(installed.languages, language)) missing.push_back(language);
  }
  if (!missing.empty()) {
    result.mismatches.push_back(Mismatch{"languages", JoinPieces(missing), JoinPieces(installed.languages)});
  }
  result.verdict = result.mismatches.empty() ? OfficeVerification::Verified : OfficeVerification::Mismatch;
  return result;
}
