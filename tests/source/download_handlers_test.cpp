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
    const wchar_t* url;
    const wchar_t* protocol;
    const wchar_t* server;
    int port;
    const wchar_t* path;
  } cases[] = {
      {L"https://srv.corp:8383/store/office/5/5.json", L"https", L"srv.corp", 8383, L"/store/office/5/5.json"},
      {L"https://srv.corp/store/a.cab", L"https", L"srv.corp", 443, L"/store/a.cab"},
      {L"HTTP://srv.corp/a.cab", L"HTTP", L"srv.corp", 80, L"/a.cab"},
      {L"http://10.0.0.7:8020x/a", L"http", L"10.0.0.7", 8020, L"/a"},
      {L"https://srv.corp", L"https", L"srv.corp", 443, L""},
  };
  for (const auto& c : cases) {
    const Url split = ParseUrl(c.url);
    EXPECT_EQ(split.scheme, c.protocol) << c.url;
    EXPECT_EQ(split.host, c.server) << c.url;
    EXPECT_EQ(split.port, c.port) << c.url;
    EXPECT_EQ(split.path, c.path) << c.url;
  }
  EXPECT_EQ(MaskUrlPath(L"/servlet/agentauthprops?x=1"), L"");
  EXPECT_EQ(MaskUrlPath(L"/servlet/x?a=1&encapiKey=SECRET&b=2"), L"/servlet/x?a=1");
  EXPECT_EQ(MaskUrlPath(L"/x?dsauthkey=S"), L"/x");
  EXPECT_EQ(MaskUrlPath(L"/store/office/5/a.cab"), L"/store/office/5/a.cab");
  for (int code : {200, 0, 90001, 401, 403, 404}) EXPECT_TRUE(EndsDownloadAttempts(code)) << code;
  for (int code : {500, 302, 13, 707, 12002}) EXPECT_FALSE(EndsDownloadAttempts(code)) << code;
}

class StoreDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    params_.agentKey = key_.path();
    params_.RZAgentInstallDir = agent_.path() + "\\";
    params_.userAgent = L"Plexmoor Agent";
    params_.strictCertificateMode = 1;
    Start();
  }
  // The settings of `params_` and the registry as they stand now.
  void Start() {
    settings_ = TransferSettingsFor(params_);
    run_ = TransferRunStateFor(settings_);
  }
  int Download(const std::string& url, const std::string& destination) {
    StoreDownloadWatch watch;
    watch.retryPauseMs = 50;
    return CommWithCertEnabled(settings_, &run_, url, destination, watch);
  }
  std::string StoreUrl(const std::string& scenario) const {
    return "https://127.0.0.1:" + std::to_string(Servers().faultHttps) + "/fault/" + scenario;
  }
  TempDir agent_{"store_download"};
  // The agent's keys of this test alone.
  ScopedTestKey key_{"store_download"};
  const reg_path::AgentKeys agentKeys_{key_.path()};
  AgentParameters params_;
  TransferSettings settings_;
  TransferRunState run_;
};

TEST_F(StoreDownload, RedirectionsAttemptsAndHeaders) {
  writeValue(HKEY_LOCAL_MACHINE, agentKeys_.metadataVersions.c_str(), "ServerHashTime", "1234", REG_DWORD);
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
    EXPECT_EQ(Download(StoreUrl(c.scenario), destination), c.result) << c.scenario;
    EXPECT_EQ(FileExists(destination), c.result == 0) << c.scenario;
    std::vector<LoggedRequest> requests = FaultRequests(tag);
    EXPECT_EQ(requests.size(), c.requests) << c.scenario;
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].Header("Cookie"), "RZSESSION=none");
    EXPECT_EQ(requests[0].Header("User-Agent"), "1234");
  }
  EXPECT_TRUE(run_.strictCertificatesOff);  // for the rest of the run
  EXPECT_FALSE(StrictCertificatesNow(settings_, run_));
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
  writeValue(HKEY_LOCAL_MACHINE, agentKeys_.settings.c_str(), "DownloadMode", "1", REG_DWORD);
  for (const auto& c : cases) {
    params_.DataTransferRate_KBps = c.rate;
    writeValue(HKEY_LOCAL_MACHINE, agentKeys_.agent.c_str(), "isOldBitRateEnabled", c.oldBitRate, REG_DWORD);
    Start();
    const std::string tag = std::string(c.scenario).substr(std::string(c.scenario).find('/') + 1, 12);
    const std::string destination = agent_ / (tag + ".bin");
    EXPECT_EQ(Download(StoreUrl(c.scenario), destination), 0) << c.scenario;
    EXPECT_TRUE(ReadFileBytes(destination) == PatternBytes(0, 3000)) << c.scenario;
    std::vector<std::string> seen;
    for (const LoggedRequest& request : FaultRequests(tag)) seen.push_back(request.method + " " + request.Header("Range"));
    EXPECT_EQ(seen, c.requests) << c.scenario;
  }
}
