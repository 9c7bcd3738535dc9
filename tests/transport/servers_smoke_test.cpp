// The servers the transport tests run against give, through WinHTTP under
// Wine, the answers the request engine is built on. A failure here is a
// fault of the test set-up (configuration, fixture, Wine), not of the engine.
#include <gtest/gtest.h>
#include <windows.h>
#include <winhttp.h>
#include <zlib.h>

#include <string>
#include <utility>

#include "support/servers.h"
#include "util/handles.h"
#include "util/text.h"

namespace {

using testing_support::Servers;

struct Request {
  Request(int port, bool secure, const wchar_t* verb, std::string path, std::wstring headers = L"",
          bool viaProxy = false)
      : port(port),
        secure(secure),
        verb(verb),
        path(std::move(path)),
        headers(std::move(headers)),
        viaProxy(viaProxy) {}
  int port;
  bool secure;
  const wchar_t* verb;
  std::string path;
  std::wstring headers;  // extra request headers, each ending with "\r\n"
  bool viaProxy;
  DWORD receiveTimeoutMs = 30000;
};

struct Answer {
  DWORD error = 0;  // the first failing call's error; 0 when the body ended normally
  DWORD status = 0;
  std::string headers;  // raw, CR LF separated
  std::string body;     // what arrived, also before an error

  std::string Header(const std::string& name) const {
    const std::string wanted = "\r\n" + ToLowerAscii(name) + ": ";
    const std::string lower = ToLowerAscii(headers);
    size_t at = lower.find(wanted);
    if (at == std::string::npos) return "";
    at += wanted.size();
    return headers.substr(at, headers.find("\r\n", at) - at);
  }
};

// One request the way the engine makes it: WinHTTP's own redirect handling
// off, certificate errors ignored for https.
Answer Fetch(const Request& r) {
  Answer answer;
  const std::wstring proxy = ChangeUtf8ToWideStr(Servers().proxyName.c_str());
  UniqueInternet session(WinHttpOpen(L"servers-smoke",
                                     r.viaProxy ? WINHTTP_ACCESS_TYPE_NAMED_PROXY : WINHTTP_ACCESS_TYPE_NO_PROXY,
                                     r.viaProxy ? proxy.c_str() : WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  UniqueInternet connection(session ? WinHttpConnect(session.get(), L"127.0.0.1", static_cast<INTERNET_PORT>(r.port), 0)
                                    : nullptr);
  UniqueInternet request(connection
                             ? WinHttpOpenRequest(connection.get(), r.verb, ChangeUtf8ToWideStr(r.path.c_str()).c_str(),
                                                  nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                  r.secure ? WINHTTP_FLAG_SECURE : 0)
                             : nullptr);
  DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
  DWORD ignoreCertificate = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                            SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
  if (!request || !WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof(noRedirects)) ||
      (r.secure && !WinHttpSetOption(request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &ignoreCertificate,
                                     sizeof(ignoreCertificate))) ||
      !WinHttpSetTimeouts(request.get(), 10000, 10000, 10000, static_cast<int>(r.receiveTimeoutMs)) ||
      !WinHttpSendRequest(request.get(), r.headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : r.headers.c_str(),
                          static_cast<DWORD>(r.headers.size()), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request.get(), nullptr)) {
    answer.error = GetLastError();
    return answer;
  }
  DWORD size = sizeof(answer.status);
  WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &answer.status, &size, WINHTTP_NO_HEADER_INDEX);
  size = 0;
  WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size,
                      WINHTTP_NO_HEADER_INDEX);
  std::wstring raw(size / sizeof(wchar_t), L'\0');
  if (size && WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, &raw[0],
                                  &size, WINHTTP_NO_HEADER_INDEX)) {
    raw.resize(size / sizeof(wchar_t));
    answer.headers = ChangeWideToUtf8Str(raw);
  }
  // Bounded by the body the servers send (a few hundred kilobytes at most).
  while (answer.body.size() < (64u << 20)) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request.get(), &available)) {
      answer.error = GetLastError();
      break;
    }
    if (available == 0) break;
    std::string chunk(available, '\0');
    DWORD read = 0;
    if (!WinHttpReadData(request.get(), &chunk[0], available, &read)) {
      answer.error = GetLastError();
      break;
    }
    if (read == 0) break;
    answer.body.append(chunk, 0, read);
  }
  return answer;
}

std::string Gunzip(const std::string& compressed) {
  z_stream stream{};
  std::string out;
  if (inflateInit2(&stream, 31) != Z_OK) return out;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  stream.avail_in = static_cast<uInt>(compressed.size());
  char buffer[16384];
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof(buffer);
    result = inflate(&stream, Z_NO_FLUSH);
    out.append(buffer, sizeof(buffer) - stream.avail_out);
  }
  inflateEnd(&stream);
  return result == Z_STREAM_END ? out : "<broken gzip>";
}

std::string Tag(const char* name) { return std::string(name) + "-" + std::to_string(GetCurrentProcessId()); }

TEST(ServersSmoke, NginxGivesTheAnswersTheEngineReadsUnderWine) {
  const auto& servers = Servers();
  const std::string name = "smoke/" + Tag("file");
  const std::string bytes = testing_support::PatternBytes(0, 100000);
  std::string text;
  for (int line = 0; text.size() < 20000; ++line) text += "line " + std::to_string(line) + " of a settings document\n";
  const std::string binPath = testing_support::PutStoreFile(name + ".bin", bytes);
  const std::string txtPath = testing_support::PutStoreFile(name + ".txt", text);
  const std::string https = "https://127.0.0.1:" + std::to_string(servers.nginxHttps);

  const int tls = servers.nginxHttps;
  const std::string redirect = "/redirect/302/" + name + ".bin";
  const std::string notRead = "<not read>";
  struct Row {
    const char* what;
    Request request;
    DWORD status;
    std::string header;  // when not empty, its value must contain `value`
    std::string value;
    std::string body;  // after gzip decoding
  };
  const Row rows[] = {
      {"GET", {tls, true, L"GET", binPath}, 200, "Content-Length", "100000", bytes},
      {"HEAD", {tls, true, L"HEAD", binPath}, 200, "Content-Length", "100000", ""},
      {"Range", {tls, true, L"GET", binPath, L"Range: bytes=1000-1999\r\n"}, 206, "Content-Range",
       "bytes 1000-1999/100000", bytes.substr(1000, 1000)},
      {"Range past the end", {tls, true, L"GET", binPath, L"Range: bytes=100000-\r\n"}, 416, "Content-Range",
       "bytes */100000", notRead},
      {"If-Modified-Since after the file's time",
       {tls, true, L"GET", binPath, L"If-Modified-Since: Fri, 01 Jan 2100 00:00:00 GMT\r\n"}, 304, "", "", ""},
      {"gzip for a document", {tls, true, L"GET", txtPath, L"Accept-Encoding: gzip\r\n"}, 200, "Content-Encoding",
       "gzip", text},
      {"302 reaches the caller", {tls, true, L"GET", redirect}, 302, "Content-Location", https + binPath, notRead},
      {"plain HTTP", {servers.nginxHttp, false, L"GET", binPath}, 200, "Content-Length", "100000", bytes},
      {"https through the proxy", {tls, true, L"GET", binPath, L"", true}, 200, "", "", bytes},
      {"http through the proxy", {servers.nginxHttp, false, L"GET", binPath, L"", true}, 200, "Via", "(tinyproxy/",
       bytes},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Answer answer = Fetch(row.request);
    ASSERT_EQ(answer.error, 0u);
    EXPECT_EQ(answer.status, row.status) << answer.headers;
    if (!row.header.empty()) {
      EXPECT_NE(answer.Header(row.header).find(row.value), std::string::npos) << row.header << "\n" << answer.headers;
    }
    if (row.body == notRead) continue;
    std::string body = answer.Header("Content-Encoding") == "gzip" ? Gunzip(answer.body) : answer.body;
    EXPECT_EQ(body.size(), row.body.size());
    EXPECT_TRUE(body == row.body);
  }
}

// The time-out recovery: a body that stalls fails the read after the bytes
// that came, and a Range request for the rest gets exactly the rest. The
// server's log shows what each request asked for.
TEST(ServersSmoke, StalledBodyFailsTheReadAndRangeGetsTheRest) {
  const std::string tag = Tag("stall");
  const std::string path = "/fault/stall/" + tag + "?size=200000&at=50000&sleep=4";
  Request first{Servers().faultHttps, true, L"GET", path};
  first.receiveTimeoutMs = 1000;
  Answer stalled = Fetch(first);
  EXPECT_EQ(stalled.status, 200u);
  // Windows reports the time-out as 12002, Wine as the socket's 10060.
  EXPECT_TRUE(stalled.error == ERROR_WINHTTP_TIMEOUT || stalled.error == WSAETIMEDOUT) << stalled.error;
  EXPECT_EQ(stalled.body.size(), 50000u);
  EXPECT_TRUE(stalled.body == testing_support::PatternBytes(0, stalled.body.size()));

  Answer rest = Fetch({Servers().faultHttps, true, L"GET", path, L"Range: bytes=50000-199999\r\n"});
  EXPECT_EQ(rest.error, 0u);
  EXPECT_EQ(rest.status, 206u);
  EXPECT_EQ(rest.Header("Content-Range"), "bytes 50000-199999/200000");
  EXPECT_TRUE(rest.body == testing_support::PatternBytes(50000, 150000));

  auto requests = testing_support::FaultRequests(tag);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Header("Range"), "");
  EXPECT_EQ(requests[1].Header("Range"), "bytes=50000-199999");
  EXPECT_EQ(requests[1].target, path);
}

}  // namespace
