#include "transport/agent_library.h"

#include "util/text.h"

namespace {

// The request target of the entry points' argument list, which it shares.
RequestTarget MakeRequestTarget(int useProxy, const char* protocol, const wchar_t* server, int port,
                                const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                                const wchar_t* proxyPassword, const wchar_t* urlPath, const wchar_t* destinationPath,
                                int requestType, int keepAlive) {
  auto text = [](const wchar_t* value) { return std::wstring(value ? value : L""); };
  RequestTarget target;
  target.url.scheme = protocol ? ChangeUtf8ToWideStr(protocol) : L"https";
  target.url.host = text(server);
  target.url.port = port;
  target.url.path = text(urlPath);
  target.proxy.enabled = useProxy != 0;
  target.proxy.server = text(proxyServer);
  target.proxy.bypass = text(proxyBypass);
  target.proxy.user = text(proxyUser);
  target.proxy.password = text(proxyPassword);
  target.destination = text(destinationPath);
  // The number as the library passes it; a kind of its own stays what it is.
  target.kind = static_cast<RequestKind>(requestType);
  target.keepAlive = keepAlive != 0;
  return target;
}

}  // namespace

int InternetGetRequestEx(int useProxy, const char* protocol, const wchar_t* server, int port,
                         const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                         const wchar_t* proxyPassword, const wchar_t* urlPath, const wchar_t* destinationPath,
                         std::string* memoryOut, int requestType, int keepAlive, HttpRequestOptions* options,
                         int bandwidth, int noResume, const TransferSettings& settings, TransferRunState* run) {
  const RequestTarget target = MakeRequestTarget(useProxy, protocol, server, port, proxyServer, proxyBypass, proxyUser,
                                                 proxyPassword, urlPath, destinationPath, requestType, keepAlive);
  DownloadMethod method;
  method.bandwidth = bandwidth != 0;
  method.noResume = noResume != 0;
  return InternetGetDownload(settings, run, target, memoryOut, options, method);
}

int InternetGetRequestByBitrate(int useProxy, const char* protocol, const wchar_t* server, int port,
                                const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                                const wchar_t* proxyPassword, const wchar_t* urlPath, const wchar_t* destinationPath,
                                std::string* memoryOut, int requestType, int keepAlive, HttpRequestOptions* options,
                                int /*bandwidth*/, int noResume, const TransferSettings& settings,
                                TransferRunState* run) {
  const RequestTarget target = MakeRequestTarget(useProxy, protocol, server, port, proxyServer, proxyBypass, proxyUser,
                                                 proxyPassword, urlPath, destinationPath, requestType, keepAlive);
  DownloadMethod method;
  method.bandwidth = true;
  method.noResume = noResume != 0;
  method.blocks = settings.blockMethod;
  return InternetGetDownload(settings, run, target, memoryOut, options, method);
}
