#include "transport/url.h"

#include <cstdlib>
#include <cwchar>

bool Url::secure() const { return _wcsicmp(scheme.c_str(), L"https") == 0; }

Url ParseUrl(const std::wstring& text) {
  Url url;
  url.scheme = text.substr(0, text.find(L':'));
  const size_t slashes = text.find(L"//");
  const size_t hostStart = slashes == std::wstring::npos ? 1 : slashes + 2;
  const size_t hostEnd = hostStart < text.size() ? text.find(L'/', hostStart) : std::wstring::npos;
  std::wstring host;
  if (hostStart < text.size()) {
    host = text.substr(hostStart, hostEnd == std::wstring::npos ? std::wstring::npos : hostEnd - hostStart);
  }
  const size_t colon = host.find(L':');
  if (colon != std::wstring::npos) {
    url.host = host.substr(0, colon);
    url.port = _wtoi(host.c_str() + colon + 1);
  } else {
    url.host = host;
    url.port = url.secure() ? 443 : 80;
  }
  url.path = hostEnd == std::wstring::npos ? std::wstring() : text.substr(hostEnd);
  return url;
}
