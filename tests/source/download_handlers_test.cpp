// Store downloads by full URL: the URL split, the masking, and whole runs
// against the fault server (redirections, attempts, headers).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/agent_parameters.h"
#include "agent/registry.h"
#include "source/download_handlers.h"
#include "support/servers.h"
#include "support/test_support.h"
#include "util/registry_paths.h"

using namespace testing_support;

TEST(DownloadUrl, SplitMaskAndStop) {
  const struct {
    const char* url;
    const char* protocol;
    const char* server;
    int port;
    const char* path;
  } cases[] = {
      {"https://srv.corp:8383/store/office/5/5.json", "https", "srv.corp", 8383, "/store/office/5/5.json"},
      {"https://srv.corp/store/a.cab", "https", "srv.corp", 443, "/store/a.cab"},
      {"HTTP://srv.corp/a.cab", "HTTP", "srv.corp", 80, "/a.cab"},
      {"http://10.0.0.7:8020x/a", "http", "10.0.0.7", 8020, "/a"},
      {"https://srv.corp", "https", "srv.corp", 443, ""},
  };
  for (const auto& c : cases) {
    SplitUrl split = SplitDownloadUrl(c.url);
    EXPECT_EQ(split.protocol, c.protocol) << c.url;
    EXPECT_EQ(split.server, c.server) << c.url;
    EXPECT_EQ(split.port, c.port) << c.url;
    EXPECT_EQ(split.path, c.path) << c.url;
  }
  EXPECT_EQ(MaskUrlPath("/servlet/agentauthprops?x=1"), "");
  EXPECT_EQ(MaskUrlPath("/servlet/x?a=1&encapiKey=SECRET&b=2"), "/servlet/x?a=1");
  EXPECT_EQ(MaskUrlPath("/x?dsauthkey=S"), "/x");
  EXPECT_EQ(MaskUrlPath("/store/office/5/a.cab"), "/store/office/5/a.cab");
  for (int code : {200, 0, 90001, 401, 403, 404}) EXPECT_TRUE(EndsDownloadAttempts(code)) << code;
  for (int code : {500, 302, 13, 707, 12002}) EXPECT_FALSE(EndsDownloadAttempts(code)) << code;
}

class StoreDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearAgentRegistry();
    ResetAgentParameters();
    AgentParams().RZAgentInstallDir = agent_.path() + "\\";
    AgentParams().userAgent = L"Plexmoor Agent";
    AgentParams().strictCertificateMode = 1;
  }
  void TearDown() override {
    ResetAgentParameters();
    ClearAgentRegistry();
  }
  std::string Url(const std::string& scenario) const {
    return "https://127.0.0.1:" + std::to_string(Servers().faultHttps) + "/fault/" + scenario;
  }
  TempDir agent_{"store_download"};
};

TEST_F(StoreDownload, RedirectionsAttemptsAndHeaders) {
  writeValue(HKEY_LOCAL_MACHINE, reg_path::kMetadataVersions, "ServerHashTime", "1234", REG_DWORD);
  const struct {
    const char* scenario;
    int result;
    size_t requests;  // what the server saw, over both attempts
  } cases[] = {
      {"redirect/sd-hops4?hops=4&size=2000", 0, 5},       // four redirections followed, the fifth answer is the file
      {"redirect/sd-hops5?hops=5&size=2000", 302, 10},    // the fifth redirection is the result, tried twice
      {"status/sd-twice?code=500", 500, 2},               // a server error is tried once more
      {"status/sd-once?code=404", 404, 1},                // a missing file is not
      // Cut, and the missing bytes answered with the whole body again: a
      // failure, with nothing stored, tried twice.
      {"short/sd-cut?size=2000&missing=500&norange=1", 707, 4},
  };
  for (const auto& c : cases) {
    const std::string tag = std::string(c.scenario).substr(std::string(c.scenario).find('/') + 1,
                                                           std::string(c.scenario).find('?') -
                                                               std::string(c.scenario).find('/') - 1);
    const std::string destination = agent_ / (tag + ".bin");
    EXPECT_EQ(CommWithCertEnabled(Url(c.scenario), destination, 50), c.result) << c.scenario;
    EXPECT_EQ(FileExists(destination), c.result == 0) << c.scenario;
    std::vector<LoggedRequest> requests = FaultRequests(tag);
    EXPECT_EQ(requests.size(), c.requests) << c.scenario;
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].Header("Cookie"), "RZSESSION=none");
    EXPECT_EQ(requests[0].Header("User-Agent"), "1234");
  }
  EXPECT_EQ(AgentParams().strictCertificateMode, 0);  // for the rest of the run
}

TEST_F(StoreDownload, MethodsAsTheAgentSetsThem) {
  // The store download asks for ranges first (its resume flag), so with
  // DownloadMode 1 a store without them is fetched whole; with a rate the
  // bandwidth-limited handler runs, resuming by windows or in blocks.
  const struct {
    unsigned rate;
    const char* oldBitRate;
    const char* scenario;
    std::vector<std::string> requests;  // method and Range of each
  } cases[] = {
      {0, "0", "norange/sd-mode-plain?size=3000", {"HEAD bytes=0-", "GET "}},
      {40, "0", "ok/sd-mode-window?size=3000", {"HEAD bytes=0-", "GET bytes=0-2999"}},
      {40, "1", "ok/sd-mode-block?size=3000", {"HEAD bytes=0-", "GET bytes=0-2999"}},
  };
  writeValue(HKEY_LOCAL_MACHINE, reg_path::kSettings, "DownloadMode", "1", REG_DWORD);
  for (const auto& c : cases) {
    AgentParams().DataTransferRate_KBps = c.rate;
    writeValue(HKEY_LOCAL_MACHINE, reg_path::kAgent, "isOldBitRateEnabled", c.oldBitRate, REG_DWORD);
    const std::string tag = std::string(c.scenario).substr(std::string(c.scenario).find('/') + 1, 12);
    const std::string destination = agent_ / (tag + ".bin");
    EXPECT_EQ(CommWithCertEnabled(Url(c.scenario), destination, 50), 0) << c.scenario;
    EXPECT_TRUE(ReadFileBytes(destination) == PatternBytes(0, 3000)) << c.scenario;
    std::vector<std::string> seen;
    for (const LoggedRequest& request : FaultRequests(tag)) seen.push_back(request.method + " " + request.Header("Range"));
    EXPECT_EQ(seen, c.requests) << c.scenario;
  }
}
