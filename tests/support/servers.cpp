#include "support/servers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "exec/file_helpers.h"
#include "support/test_support.h"
#include "util/text.h"

namespace testing_support {

namespace {

std::vector<std::string> SplitText(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
  return parts;
}

TestServers LoadServers() {
  TestServers servers;
  for (const std::string& line : SplitText(ReadFileBytes(ZPath(TEST_SERVERS_FILE)), '\n')) {
    size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string name = line.substr(0, equals);
    std::string value = line.substr(equals + 1);
    if (name == "nginx_https_port") servers.nginxHttps = std::atoi(value.c_str());
    if (name == "nginx_http_port") servers.nginxHttp = std::atoi(value.c_str());
    if (name == "fault_https_port") servers.faultHttps = std::atoi(value.c_str());
    if (name == "fault_http_port") servers.faultHttp = std::atoi(value.c_str());
    if (name == "proxy_port") servers.proxy = std::atoi(value.c_str());
    if (name == "store_dir") servers.storeDir = value;
    if (name == "fault_log") servers.faultLog = ZPath(value);
    if (name == "access_log") servers.accessLog = ZPath(value);
    if (name == "cert") servers.cert = ZPath(value);
  }
  servers.storeDirZ = servers.storeDir.empty() ? "" : ZPath(servers.storeDir);
  servers.proxyName = "127.1:" + std::to_string(servers.proxy);
  return servers;
}

std::string StorePath(const std::string& relativePath) {
  std::string path = Servers().storeDirZ + "\\" + relativePath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

}  // namespace

const TestServers& Servers() {
  static const TestServers servers = LoadServers();
  if (servers.nginxHttps == 0 || servers.faultHttps == 0 || servers.proxy == 0 || servers.storeDir.empty()) {
    ADD_FAILURE() << "the test servers are not running (no complete " << TEST_SERVERS_FILE
                  << "): add the test with add_wine_test(... SERVERS)";
  }
  return servers;
}

std::string PutStoreFile(const std::string& relativePath, const std::string& bytes) {
  EXPECT_TRUE(WriteFileBytes(StorePath(relativePath), bytes)) << relativePath;
  return "/store/" + relativePath;
}

std::string PutStorePattern(const std::string& relativePath, uint64_t size) {
  std::wstring path = ChangeUtf8ToWideStr(StorePath(relativePath).c_str());
  CreateFolder(path.c_str());
  std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
  const size_t block = 251 * 4096;  // whole cycles, so every block starts the pattern afresh
  const std::string bytes = PatternBytes(0, block);
  for (uint64_t left = size; left > 0 && out;) {
    size_t count = left < block ? static_cast<size_t>(left) : block;
    out.write(bytes.data(), static_cast<std::streamsize>(count));
    left -= count;
  }
  EXPECT_TRUE(static_cast<bool>(out)) << relativePath;
  return "/store/" + relativePath;
}

std::string PatternBytes(uint64_t offset, size_t count) {
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>((offset + i) % 251);
  return bytes;
}

std::string LoggedRequest::Header(const std::string& name) const {
  for (const auto& header : headers) {
    if (ToLowerAscii(header.first) == ToLowerAscii(name)) return header.second;
  }
  return "";
}

std::vector<LoggedRequest> FaultRequests(const std::string& tag) {
  std::vector<LoggedRequest> requests;
  for (const std::string& line : SplitText(ReadFileBytes(Servers().faultLog), '\n')) {
    std::vector<std::string> fields = SplitText(line, '\t');
    if (fields.empty()) continue;
    LoggedRequest request;
    size_t blank = fields[0].find(' ');
    request.method = fields[0].substr(0, blank);
    request.target = blank == std::string::npos ? "" : fields[0].substr(blank + 1);
    if (request.target.find(tag) == std::string::npos) continue;
    for (size_t i = 1; i < fields.size(); ++i) {
      size_t colon = fields[i].find(": ");
      if (colon != std::string::npos)
        request.headers.emplace_back(fields[i].substr(0, colon), fields[i].substr(colon + 2));
    }
    requests.push_back(request);
  }
  return requests;
}

}  // namespace testing_support
