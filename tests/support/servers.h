// The servers of the transport tests (tests/servers), all on 127.0.0.1:
// nginx serving the store tree, the fault server and a proxy. The CTest
// fixture "servers" starts them on free ports and writes the ports to a file
// in the build tree; add a test that uses them with add_wine_test(... SERVERS).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

struct TestServers {
  // nginx. /store/<path> serves <store>/<path> with HEAD, Range (206/416),
  // If-Modified-Since (304 for any time at or after the file's) and gzip for
  // .txt, .json and .xml files when the request accepts it.
  // /redirect/301/<path> and /redirect/302/<path> answer with Content-Location
  // (and Location) pointing at /store/<path> on the same port.
  int nginxHttps = 0;
  int nginxHttp = 0;
  // The fault server: /fault/<scenario>/<tag>?<parameters>; the scenarios are
  // described in tests/servers/fault_server.py.
  int faultHttps = 0;
  int faultHttp = 0;
  // tinyproxy: a plain HTTP proxy (CONNECT for https) that reaches 127.0.0.1
  // only and adds a "Via: ... (tinyproxy/...)" header to plain HTTP answers.
  int proxy = 0;
  // The proxy as WinHTTP should be given it: "127.1:<port>". Wine's WinHTTP
  // sends no CONNECT when the proxy's host name is the same text as the
  // server's, so the proxy goes by the short form of 127.0.0.1.
  std::string proxyName;
  std::string storeDir;   // Linux path of the store
  std::string storeDirZ;  // the same folder as a Z:\ path
  std::string faultLog;   // Z:\ path of the fault server's request log
  std::string accessLog;  // Z:\ path of nginx's access log (one line a request)
  std::string cert;       // Z:\ path of the servers' certificate (PEM)
};

// The running servers. When the fixture's file is missing the test fails
// and every port is 0.
const TestServers& Servers();

// Writes bytes to <store>/<relativePath> ("/"-separated; folders are
// created) and returns its URL path, "/store/<relativePath>".
std::string PutStoreFile(const std::string& relativePath, const std::string& bytes);
// The same with `size` bytes of the pattern below, written in blocks, so the
// file may be larger than memory.
std::string PutStorePattern(const std::string& relativePath, uint64_t size);

// `count` bytes of the pattern the fault server sends, from `offset`: byte i
// of a body is i % 251, so a misplaced range shows.
std::string PatternBytes(uint64_t offset, size_t count);

// One request as the fault server logged it on arrival.
struct LoggedRequest {
  std::string method;
  std::string target;  // path and query as sent
  std::vector<std::pair<std::string, std::string>> headers;
  // The value of the named header (any case), or "" when it was not sent.
  std::string Header(const std::string& name) const;
};
// The fault server's requests whose target contains `tag`, oldest first.
std::vector<LoggedRequest> FaultRequests(const std::string& tag);

}  // namespace testing_support
