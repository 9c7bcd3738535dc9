// The request engine against real servers on 127.0.0.1: nginx for the store
// and the fault server for what nginx will not do. Every download path must
// end with its code and leave no file unless the body arrived whole.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/agent_parameters.h"
#include "agent/registry.h"
#include "support/servers.h"
#include "support/test_support.h"
#include "transport/agent_library.h"
#include "transport/agent_requests.h"
#include "transport/transfer.h"
#include "transport/request_engine.h"
#include "transport/resume_download.h"
#include "util/clock.h"
#include "util/registry_paths.h"
#include "util/text.h"

using namespace testing_support;

namespace {

enum class Path { kPlain, kWindow, kBlock, kResume, kResumeBlock };
const Path kPaths[] = {Path::kPlain, Path::kWindow, Path::kBlock, Path::kResume, Path::kResumeBlock};
const char* Name(Path path) {
  switch (path) {
    case Path::kPlain: return "plain";
    case Path::kWindow: return "window";
    case Path::kBlock: return "block";
    case Path::kResume: return "resume";
    case Path::kResumeBlock: return "resblock";
  }
  return "?";
}

// Sees a download's bytes and fails like an allocation that cannot grow.
class FailingObserver : public BodyObserver {
 public:
  void Restart() override {}
  void Feed(const char*, size_t) override { throw std::bad_alloc(); }
  void Invalidate() override {}
};

class RequestEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    params_.agentKey = key_.path();
    params_.RZAgentInstallDir = agent_.path() + "\\";
    params_.userAgent = L"engine-test";
    params_.tempFolder = (agent_ / "temp");
    MakeDirs(params_.tempFolder);
    // Fast enough for the tests; the pacing itself is measured by the bench.
    params_.DataTransferRate_KBps = 8192;
    Start();
  }

  // The settings of `params_` and the registry as they stand now, and a
  // fresh run.
  void Start() {
    settings_ = TransferSettingsFor(params_);
    run_ = TransferRunStateFor(settings_);
  }

  RequestTarget Target(int port, const std::string& url, const std::string& destination) const {
    RequestTarget target;
    target.url.scheme = L"https";
    target.url.host = L"127.0.0.1";
    target.url.port = port;
    target.url.path = ChangeUtf8ToWideStr(url.c_str());
    target.destination = ChangeUtf8ToWideStr(destination.c_str());
    target.kind = RequestKind::kDownloadFile;
    return target;
  }

  int Download(Path path, const RequestTarget& target, HttpRequestOptions* options) {
    return Download(path, target, options, settings_);
  }
  int Download(Path path, const RequestTarget& target, HttpRequestOptions* options, TransferSettings settings) {
    settings.blockMethod = path == Path::kBlock;
    switch (path) {
      case Path::kPlain:
        return InternetGetRequest(settings, &run_, target, nullptr, options, false);
      case Path::kWindow:
        return InternetGetRequest(settings, &run_, target, nullptr, options, true);
      case Path::kBlock:
        return InternetGetRequestLimited(settings, &run_, target, nullptr, options);
      case Path::kResume:
        return ResumeGetRequestEx(settings, &run_, target, nullptr, options, false);
      case Path::kResumeBlock:
        return ResumeGetRequestByBitrate(settings, &run_, target, nullptr, options);
    }
    return -1;
  }

  // Files left in the destination folder other than the destination itself.
  std::vector<std::string> Leftovers(const std::string& folder, const std::string& keep) const {
    std::vector<std::string> names;
    WIN32_FIND_DATAW data;
    UniqueFind find(FindFirstFileW(ChangeUtf8ToWideStr((folder + "\\*").c_str()).c_str(), &data));
    if (!find) return names;
    do {
      std::string name = ChangeWideToUtf8Str(data.cFileName);
      if (name != "." && name != ".." && name != keep) names.push_back(name);
    } while (FindNextFileW(find.get(), &data));
    return names;
  }

  TempDir agent_{"engine_agent"};
  // The agent's keys of this test alone.
  ScopedTestKey key_{"engine"};
  const reg_path::AgentKeys agentKeys_{key_.path()};
  AgentParameters params_;
  TransferSettings settings_;
  TransferRunState run_;
};

}  // namespace

TEST_F(RequestEngine, StoreDownloadArrivesWholeAndLeavesNoTemporaryFile) {
  const std::string url = PutStorePattern("engine/whole.bin", 3 * 1024 * 1024 + 17);
  const std::string folder = agent_ / "dest";
  for (Path path : kPaths) {
    const std::string destination = folder + "\\" + Name(path) + ".bin";
    HttpRequestOptions options;
    EXPECT_EQ(Download(path, Target(Servers().nginxHttps, url, destination), &options), 0) << Name(path);
    std::string body = ReadFileBytes(destination);
    EXPECT_EQ(body.size(), 3u * 1024 * 1024 + 17) << Name(path);
    EXPECT_TRUE(body == PatternBytes(0, body.size())) << Name(path);
  }
  // Nothing but the destinations; the resumable record is gone too.
  EXPECT_EQ(Leftovers(folder, "").size(), 5u);
  EXPECT_FALSE(FileExists(agent_ / "DownloadRepository\\x"));
  std::string unused;
  EXPECT_NE(ReadRegSZ(HKEY_LOCAL_MACHINE, agentKeys_.fileMetaData.c_str(), url.c_str(), &unused), 0);
  // Every download left its line in the transfer log.
  EXPECT_NE(ReadTextFile(agent_ / "logs\\rzdatatransferdown.log").find(",0,"), std::string::npos);
  // A caller without options gets the defaults, on every entry.
  const RequestTarget bare = Target(Servers().nginxHttps, url, folder + "\\bare.bin");
  EXPECT_EQ(InternetGetRequest(settings_, &run_, bare, nullptr, nullptr, false), 0);
  EXPECT_EQ(ResumeGetRequestEx(settings_, &run_, bare, nullptr, nullptr, false), 0);
  EXPECT_EQ(ResumeGetRequestByBitrate(settings_, &run_, bare, nullptr, nullptr), 0);
}

TEST_F(RequestEngine, FaultMatrix) {
  struct Fault {
    const char* scenario;  // fault server path and parameters
    int plain, window, block, resume, resumeBlock;  // 0: a whole, correct body ends at the destination
  };
  // Short, stalled and over-long bodies are recovered (or cut) to the
  // announced length; failures leave nothing behind.
  const Fault faults[] = {
      {"status/%s?code=500", 500, 500, 500, 500, 500},
      {"status/%s?code=503", 503, 503, 503, 503, 503},
      {"status/%s?code=404", 404, 404, 404, 404, 404},
      {"status/%s?code=407", 407, 407, 407, 407, 407},
      {"status/%s?code=304", 90001, 90001, 90001, 90001, 90001},
      // A 2xx that is neither 200 nor 206 is no body to take, on the first
      // answer or on a ranged one.
      {"status/%s?code=203", 13, 13, 13, 13, 13},
      {"ok/%s?size=200000&rangestatus=203", 0, 0, 13, 13, 13},
      {"redirect/%s?code=302", 302, 302, 302, 302, 302},
      {"loop/%s?code=301", 301, 301, 301, 301, 301},
      {"short/%s?size=200000&missing=5000", 0, 0, 0, 0, 0},
      {"stall/%s?size=200000&sleep=2", 0, 0, 0, 0, 0},
      {"long/%s?size=200000&extra=300", 0, 0, 0, 0, 0},
      {"nolength/%s?size=200000", 13, 13, 13, 13, 13},
      // The Range request for the missing bytes is answered with the whole
      // body again: the plain paths end with their size check, the resumable
      // ones keep what they have for the next run, the blocks fail.
      {"short/%s?size=200000&missing=5000&norange=1", 707, 707, 707, 12002, 707},
      // A body that brings less than the minimum in its window has timed out:
      // recovered by a Range request, or failed the second time.
      {"trickle/%s?size=200000&at=150000", 0, 0, 0, 0, 0},
      {"trickle/%s?size=200000&at=150000&norange=1", 707, 707, 12002, 12002, 12002},
      // Blocks that bring nothing are no progress.
      {"emptyrange/%s?size=200000", 0, 0, 707, 12002, 707},
      // Five answers that are no HTTP: the last failure, never 0.
      {"garbage/%s", 12152, 12152, 12152, 12152, 12152},
  };
  TransferSettings settings = settings_;
  settings.slowWindowMs = 1000;
  for (const Fault& fault : faults) {
    for (Path path : kPaths) {
      const std::string tag = std::string(Name(path)) + "-" + std::to_string(&fault - faults);
      char url[256];
      snprintf(url, sizeof(url), ("/fault/" + std::string(fault.scenario)).c_str(), tag.c_str());
      const std::string folder = agent_ / ("matrix\\" + tag);
      const std::string destination = folder + "\\file.bin";
      HttpRequestOptions options;
      const int expected = path == Path::kPlain    ? fault.plain
                           : path == Path::kWindow ? fault.window
                           : path == Path::kBlock  ? fault.block
                           : path == Path::kResume ? fault.resume
                                                   : fault.resumeBlock;
      EXPECT_EQ(Download(path, Target(Servers().faultHttps, url, destination), &options, settings), expected) << url;
      EXPECT_EQ(FileExists(destination), expected == 0) << url;
      EXPECT_TRUE(Leftovers(folder, "file.bin").empty()) << url;
      if (expected == 0) {
        EXPECT_TRUE(ReadFileBytes(destination) == PatternBytes(0, 200000)) << url;
      }
    }
  }
  // Every resumable ending left its access line, failures included.
  EXPECT_NE(ReadTextFile(agent_ / "logs\\downloadFailureAccess.log").find("resume-0"), std::string::npos);
}

TEST_F(RequestEngine, OnlyALongerBodyDropsThePartialFile) {
  // An earlier run left half of the file and its record.
  const std::string url = "/fault/ok/kept?size=200000&rangestatus=203";
  const std::string record = agentKeys_.fileMetaData + "\\kept.download";
  writeValue(HKEY_LOCAL_MACHINE, agentKeys_.fileMetaData.c_str(), url.c_str(), "kept.download", REG_SZ);
  writeValue(HKEY_LOCAL_MACHINE, record.c_str(), "PartialFileSize", "100000", REG_QWORD);
  writeValue(HKEY_LOCAL_MACHINE, record.c_str(), "LastModifiedTime", "Mon, 01 Jan 2024 00:00:00 GMT", REG_SZ);
  const std::string partial = agent_ / "DownloadRepository\\kept.download";
  WriteFileBytes(partial, PatternBytes(0, 100000));
  // The rest is answered with 203: a general failure, which keeps both for
  // the next run.
  for (Path path : {Path::kResume, Path::kResumeBlock}) {
    HttpRequestOptions options;
    EXPECT_EQ(Download(path, Target(Servers().faultHttps, url, agent_ / "kept.bin"), &options), 13) << Name(path);
    EXPECT_EQ(ReadFileBytes(partial).size(), 100000u) << Name(path);
    std::string id;
    EXPECT_EQ(ReadRegSZ(HKEY_LOCAL_MACHINE, agentKeys_.fileMetaData.c_str(), url.c_str(), &id), 0) << Name(path);
  }
}

TEST_F(RequestEngine, FailuresInsideATransferStayInside) {
  // An exception while the body is written ends the transfer with 13 and
  // its line; a body without a length stops before the volume fills.
  FailingObserver failing;
  const std::string folder = agent_ / "inside";
  HttpRequestOptions options;
  options.observer = &failing;
  EXPECT_EQ(Download(Path::kPlain, Target(Servers().faultHttps, "/fault/ok/throws?size=3000", folder + "\\a.bin"),
                     &options),
            13);
  EXPECT_TRUE(Leftovers(folder, "").empty());

  TransferSettings settings = settings_;
  ULARGE_INTEGER free = {};
  ASSERT_TRUE(GetDiskFreeSpaceExW(ChangeUtf8ToWideStr((agent_.path() + "\\").c_str()).c_str(), &free, nullptr, nullptr));
  settings.diskReserveBytes = free.QuadPart - 8 * 1024 * 1024;
  for (Path path : {Path::kPlain, Path::kResume}) {
    const std::string url = std::string("/fault/nolength/full-") + Name(path) + "?size=40000000";
    HttpRequestOptions outside;
    outside.outsideDownload = true;
    EXPECT_EQ(Download(path, Target(Servers().faultHttps, url, folder + "\\full.bin"), &outside, settings), 112)
        << Name(path);
    EXPECT_TRUE(Leftovers(folder, "a.bin").empty()) << Name(path);
    EXPECT_TRUE(Leftovers(agent_ / "DownloadRepository", "").empty()) << Name(path);
  }
}

TEST_F(RequestEngine, NotModifiedLeavesTheDestinationUntouched) {
  const std::string url = PutStoreFile("engine/settings.bin", "new content");
  const std::string destination = agent_ / "kept.bin";
  WriteFileBytes(destination, "old content");
  HttpRequestOptions options;
  options.ifModifiedSinceEnabled = true;
  options.lastModified = L"Fri, 01 Jan 2100 00:00:00 GMT";
  const RequestTarget target = Target(Servers().nginxHttps, url, destination);
  EXPECT_EQ(InternetGetRequest(settings_, &run_, target, nullptr, &options, false), 90001);
  EXPECT_EQ(ReadFileBytes(destination), "old content");
}

TEST_F(RequestEngine, BrokenGzipIsFetchedAgainWithoutGzip) {
  // The large body inflates in several blocks.
  const struct {
    const char* scenario;
    size_t size;
  } rows[] = {{"gzip", 50000}, {"badgzip", 50000}, {"gzip", 5u << 20}};
  for (const auto& row : rows) {
    const std::string scenario = row.scenario;
    const std::string tag = "gz-" + scenario + std::to_string(row.size);
    const std::string url = "/fault/" + scenario + "/" + tag + "?size=" + std::to_string(row.size);
    const std::string destination = agent_ / (tag + ".bin");
    HttpRequestOptions options;
    options.m_enableGzipCompression = 1;
    EXPECT_EQ(InternetGetRequest(settings_, &run_, Target(Servers().faultHttps, url, destination), nullptr, &options,
                                 false),
              0);
    EXPECT_TRUE(ReadFileBytes(destination) == PatternBytes(0, row.size)) << tag;
    std::vector<LoggedRequest> requests = FaultRequests(tag);
    // A body that inflates is fetched once.
    ASSERT_EQ(requests.size(), scenario == "badgzip" ? 2u : 1u) << tag;
    EXPECT_EQ(requests.front().Header("Accept-Encoding"), "gzip");
    EXPECT_EQ(requests.back().Header("Accept-Encoding"), scenario == "badgzip" ? "" : "gzip");
  }
}

TEST_F(RequestEngine, OpenEndedBodyOfAnOutsideDownloadAndDataIntoMemory) {
  const std::string destination = agent_ / "open.bin";
  HttpRequestOptions outside;
  outside.outsideDownload = true;
  EXPECT_EQ(InternetGetRequest(settings_, &run_, Target(Servers().faultHttps, "/fault/nolength/open?size=70000",
                                                        destination),
                               nullptr, &outside, false),
            0);
  EXPECT_TRUE(ReadFileBytes(destination) == PatternBytes(0, 70000));

  RequestTarget data = Target(Servers().faultHttps, "/fault/ok/data?size=3000", "");
  data.kind = RequestKind::kGetData;
  std::string body;
  HttpRequestOptions options;
  EXPECT_EQ(InternetGetRequest(settings_, &run_, data, &body, &options, false), 0);
  EXPECT_TRUE(body == PatternBytes(0, 3000));
  EXPECT_TRUE(Leftovers(params_.tempFolder, "").empty());
}

TEST_F(RequestEngine, BlocksAreRangedRequestsOfRateTimesFiveHundredBytes) {
  params_.DataTransferRate_KBps = 4;
  writeValue(HKEY_LOCAL_MACHINE, agentKeys_.agent.c_str(), "isOldBitRateEnabled", "1", REG_DWORD);
  Start();
  const std::string destination = agent_ / "blocks.bin";
  HttpRequestOptions options;
  EXPECT_EQ(InternetGetRequestLimited(settings_, &run_,
                                      Target(Servers().faultHttps, "/fault/ok/rate-blocks?size=5000", destination),
                                      nullptr, &options),
            0);
  std::vector<std::string> ranges;
  for (const LoggedRequest& request : FaultRequests("rate-blocks")) ranges.push_back(request.Header("Range"));
  EXPECT_EQ(ranges, (std::vector<std::string>{"", "bytes=0-1999", "bytes=2000-3999", "bytes=4000-4999"}));
  EXPECT_TRUE(ReadFileBytes(destination) == PatternBytes(0, 5000));

  // Without a rate there is no block size: the body comes in one request.
  params_.DataTransferRate_KBps = 0;
  Start();
  for (bool resumable : {false, true}) {
    const std::string tag = resumable ? "rate-zero-resume" : "rate-zero";
    const RequestTarget target = Target(Servers().faultHttps, "/fault/ok/" + tag + "?size=5000", agent_ / tag);
    EXPECT_EQ(resumable ? ResumeGetRequestByBitrate(settings_, &run_, target, nullptr, &options)
                        : InternetGetRequestLimited(settings_, &run_, target, nullptr, &options),
              0);
    EXPECT_TRUE(ReadFileBytes(agent_ / tag) == PatternBytes(0, 5000)) << tag;
    ranges.clear();
    for (const LoggedRequest& request : FaultRequests(tag)) ranges.push_back(request.method + request.Header("Range"));
    const std::vector<std::string> expected = {resumable ? "HEAD" : "GET", "GETbytes=0-4999"};
    EXPECT_EQ(ranges, resumable ? expected : std::vector<std::string>{"GET"}) << tag;
  }
}

namespace {

// A resumable download of a 100000-byte body, as a row says what differs
// from a fresh, whole one.
struct ResumeCase {
  ResumeCase(const char* tagText, std::vector<std::string> asked) : tag(tagText), ranges(std::move(asked)) {}
  ResumeCase& On(const char* faultScenario) { scenario = faultScenario; return *this; }
  ResumeCase& InBlocks() { blocks = true; return *this; }
  ResumeCase& Outside() { outside = true; return *this; }
  ResumeCase& After(unsigned long long bytes) { partial = bytes; return *this; }
  ResumeCase& Ends(int code) { result = code; return *this; }
  ResumeCase& Failures(DWORD count) { failures = count; return *this; }
  ResumeCase& Leaves(unsigned long long size, DWORD retryCount) {
    recorded = size;
    retries = retryCount;
    return *this;
  }

  const char* tag;
  std::vector<std::string> ranges;  // the Range of every GET after the probe
  const char* scenario = "ok";
  bool blocks = false;
  bool outside = false;
  unsigned long long partial = 0;  // what an earlier run left; 0: no earlier run
  int result = 0;
  DWORD failures = 0;               // DownloadFailureCount, RESUME_DOWNLOAD_FAILURE_COUNT afterwards
  unsigned long long recorded = 0;  // PartialFileSize afterwards, 0: no record left
  DWORD retries = 0;                // RetryCount of a record left
};

}  // namespace

TEST_F(RequestEngine, ResumableDownloadsAskOnlyForTheMissingBytesAndCountTheirEndings) {
  // An earlier run may have left `partial` bytes with their record (and a
  // RetryCount of 3). A run asks for the rest in one range, or in blocks of
  // rate x 500; how it ends shows in the counters and the record.
  params_.DataTransferRate_KBps = 40;
  Start();
  const ResumeCase cases[] = {
      ResumeCase("rs-fresh", {"bytes=0-99999"}),
      ResumeCase("rs-once", {"bytes=40000-99999"}).After(40000),
      ResumeCase("rs-blocks", {"bytes=40000-59999", "bytes=60000-79999", "bytes=80000-99999"}).After(40000).InBlocks(),
      // A whole body never joins a partial file: both go, and it counts.
      ResumeCase("rs-norange", {"bytes=40000-99999"}).On("norange").After(40000).Ends(13).Failures(1),
      // Cut, and the missing bytes asked for in vain: kept for the next run.
      ResumeCase("rs-cut", {"bytes=0-99999", "bytes=95000-99999"}).On("short").Ends(12002).Failures(2).Leaves(95000, 1),
      // Nothing arrived: nothing is flushed, the record stays as it was.
      ResumeCase("rs-empty", {"bytes=40000-99999", "bytes=40000-99999"})
          .On("emptyrange")
          .After(40000)
          .Ends(12002)
          .Failures(3)
          .Leaves(40000, 3),
      // Without a length the body ends where the server refuses the range.
      ResumeCase("rs-end", {"bytes=100000-"}).On("nolength").Outside().After(100000).Failures(3),
  };
  DWORD downloads = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    const std::string url = std::string("/fault/") + c.scenario + "/" + c.tag + "?size=100000&missing=5000&norange=" +
                            (std::string(c.tag) == "rs-cut" || std::string(c.tag) == "rs-norange" ? "1" : "0");
    const std::string destination = agent_ / (std::string(c.tag) + ".bin");
    const std::string id = std::string(c.tag) + ".download";
    const std::string record = agentKeys_.fileMetaData + "\\" + id;
    if (c.partial != 0) {
      writeValue(HKEY_LOCAL_MACHINE, agentKeys_.fileMetaData.c_str(), url.c_str(), id.c_str(), REG_SZ);
      writeValue(HKEY_LOCAL_MACHINE, record.c_str(), "PartialFileSize", std::to_string(c.partial).c_str(), REG_QWORD);
      writeValue(HKEY_LOCAL_MACHINE, record.c_str(), "LastModifiedTime", "Mon, 01 Jan 2024 00:00:00 GMT", REG_SZ);
      writeValue(HKEY_LOCAL_MACHINE, record.c_str(), "RetryCount", "3", REG_DWORD);
      WriteFileBytes(agent_ / ("DownloadRepository\\" + id), PatternBytes(0, static_cast<size_t>(c.partial)));
    }
    HttpRequestOptions options;
    options.outsideDownload = c.outside;
    const RequestTarget target = Target(Servers().faultHttps, url, destination);
    const int result = c.blocks ? ResumeGetRequestByBitrate(settings_, &run_, target, nullptr, &options)
                                : ResumeGetRequestEx(settings_, &run_, target, nullptr, &options, false);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(FileExists(destination), c.result == 0);
    if (c.result == 0) {
      EXPECT_TRUE(ReadFileBytes(destination) == PatternBytes(0, 100000));
    }
    std::vector<std::string> ranges;
    std::vector<LoggedRequest> requests = FaultRequests(c.tag);
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].method, "HEAD");
    for (size_t i = 1; i < requests.size(); ++i) ranges.push_back(requests[i].Header("Range"));
    EXPECT_EQ(ranges, c.ranges);

    DWORD value = 0;
    EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, agentKeys_.fileMetaData.c_str(), "DownloadCount", &value), 0);
    EXPECT_EQ(value, ++downloads);
    value = 0;
    ReadDwordRegistryData(HKEY_LOCAL_MACHINE, agentKeys_.fileMetaData.c_str(), "DownloadFailureCount", &value);
    EXPECT_EQ(value, c.failures);
    value = 0;
    const std::string tracking = agentKeys_.tracking + "\\ResumeDownloadDetails";
    ReadDwordRegistryData(HKEY_LOCAL_MACHINE, tracking.c_str(), "RESUME_DOWNLOAD_FAILURE_COUNT", &value);
    EXPECT_EQ(value, c.failures);
    std::string leftId;
    const bool recordLeft = ReadRegSZ(HKEY_LOCAL_MACHINE, agentKeys_.fileMetaData.c_str(), url.c_str(), &leftId) == 0;
    EXPECT_EQ(recordLeft, c.recorded != 0);
    if (recordLeft) {
      const std::string left = agentKeys_.fileMetaData + "\\" + leftId;
      RawRegistryValue partial = GetRawValue(left, L"PartialFileSize", 0);
      ASSERT_EQ(partial.bytes.size(), sizeof(unsigned long long));
      unsigned long long recorded = 0;
      memcpy(&recorded, partial.bytes.data(), sizeof(recorded));
      EXPECT_EQ(recorded, c.recorded);
      value = 0;
      ReadDwordRegistryData(HKEY_LOCAL_MACHINE, left.c_str(), "RetryCount", &value);
      EXPECT_EQ(value, c.retries);
    } else {
      EXPECT_FALSE(FileExists(agent_ / ("DownloadRepository\\" + id)));
    }
    EXPECT_NE(ReadTextFile(agent_ / (c.result == 0 ? "logs\\downloadSuccessAccess.log"
                                                    : "logs\\downloadFailureAccess.log"))
                  .find(c.tag),
              std::string::npos);
    // The completion check holds a body to the size its probe announced.
    if (!c.outside) {
      const std::wstring wideUrl = ChangeUtf8ToWideStr(url.c_str());
      EXPECT_EQ(isFileDownloadCompleted(options.expectedSizes, false, wideUrl, L"", 100000), 0);
      EXPECT_EQ(isFileDownloadCompleted(options.expectedSizes, false, wideUrl, L"", 99999), 12030);
    }
  }
  // The gzip counter: an answer that does not inflate is fetched again.
  HttpRequestOptions gzip;
  gzip.m_enableGzipCompression = 1;
  EXPECT_EQ(InternetGetRequest(settings_, &run_,
                               Target(Servers().faultHttps, "/fault/badgzip/rs-gzip?size=5000", agent_ / "gz.bin"),
                               nullptr, &gzip, false),
            0);
  DWORD gzipFailures = 0;
  const std::string gzipKey = agentKeys_.tracking + "\\GzipDecompressionDetails";
  ReadDwordRegistryData(HKEY_LOCAL_MACHINE, gzipKey.c_str(), "GZIP_DECOMPRESSION_FAILURE_COUNT", &gzipFailures);
  EXPECT_EQ(gzipFailures, 1u);
}

TEST_F(RequestEngine, LengthBeyondTwoGigabytesIsReadFromTheHeaderText) {
  const std::string url = PutStorePattern("engine/sparse.bin", 0);  // made sparse below
  const std::string sparse = Servers().storeDirZ + "\\engine\\sparse.bin";
  {
    UniqueFile file(CreateFileW(ChangeUtf8ToWideStr(sparse.c_str()).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    LARGE_INTEGER size;
    size.QuadPart = 5LL * 1024 * 1024 * 1024 + 3;
    ASSERT_TRUE(SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file.get()));
  }
  RequestHandles handles;
  handles.kind = RequestVerb::kHead;
  HttpRequestOptions options;
  const engine::Transfer transfer{settings_, &run_, &options, nullptr};
  const RequestTarget target = Target(Servers().nginxHttps, url, "");
  ASSERT_TRUE(engine::GetInternetRequestHandle(transfer, target, options, &handles).ok());
  unsigned long long length = 0;
  EXPECT_TRUE(engine::QueryContentLength(handles.request.get(), "test", &length));
  EXPECT_EQ(length, 5ULL * 1024 * 1024 * 1024 + 3);
  handles.Close();
}

TEST_F(RequestEngine, OutsideServerWithoutRangesIsDownloadedWithoutResumeOrBlocks) {
  // It answers the range probe with 200: both ranged paths give 416 and the
  // entry points fall back to one plain download.
  writeValue(HKEY_LOCAL_MACHINE, agentKeys_.settings.c_str(), "DownloadMode", "1", REG_DWORD);
  Start();
  for (const char* tag : {"norange-resume", "norange-block"}) {
    const std::string url = std::string("/fault/norange/") + tag + "?size=30000";
    const std::string destination = agent_ / (std::string(tag) + ".bin");
    HttpRequestOptions options;
    options.m_externalVendorServer = 1;
    const std::wstring wideUrl = ChangeUtf8ToWideStr(url.c_str());
    const std::wstring wideDestination = ChangeUtf8ToWideStr(destination.c_str());
    const int port = Servers().faultHttps;
    int result = 0;
    if (std::string(tag) == "norange-resume") {
      result = InternetGetRequestEx(0, "https", L"127.0.0.1", port, L"", L"", L"", L"", wideUrl.c_str(),
                                    wideDestination.c_str(), nullptr, 11003, 1, &options, 0, 0, settings_, &run_);
    } else {
      writeValue(HKEY_LOCAL_MACHINE, agentKeys_.agent.c_str(), "isOldBitRateEnabled", "1", REG_DWORD);
      Start();
      result = InternetGetRequestByBitrate(0, "https", L"127.0.0.1", port, L"", L"", L"", L"", wideUrl.c_str(),
                                           wideDestination.c_str(), nullptr, 11003, 1, &options, 1, 0, settings_,
                                           &run_);
    }
    EXPECT_EQ(result, 0) << tag;
    EXPECT_TRUE(ReadFileBytes(destination) == PatternBytes(0, 30000)) << tag;
    std::vector<LoggedRequest> requests = FaultRequests(tag);
    ASSERT_EQ(requests.size(), 2u) << tag;
    EXPECT_EQ(requests[0].Header("Range"), "bytes=0-") << tag;
    EXPECT_EQ(requests[1].Header("Range"), "") << tag;
  }
}

TEST_F(RequestEngine, WindowMethodResumesUnlessToldNotTo) {
  // isOldBitRateEnabled missing: the bandwidth-limited entry is the plain one
  // with its bandwidth flag, so DownloadMode 1 resumes (a HEAD comes first)
  // and the no-resume flag holds.
  writeValue(HKEY_LOCAL_MACHINE, agentKeys_.settings.c_str(), "DownloadMode", "1", REG_DWORD);
  Start();
  for (int noResume : {0, 1}) {
    const std::string tag = "window-resume-" + std::to_string(noResume);
    const std::wstring url = ChangeUtf8ToWideStr(("/fault/ok/" + tag + "?size=30000").c_str());
    const std::string destination = agent_ / (tag + ".bin");
    HttpRequestOptions options;
    EXPECT_EQ(InternetGetRequestByBitrate(0, "https", L"127.0.0.1", Servers().faultHttps, L"", L"", L"", L"",
                                          url.c_str(), ChangeUtf8ToWideStr(destination.c_str()).c_str(), nullptr,
                                          11003, 1, &options, 1, noResume, settings_, &run_),
              0);
    EXPECT_TRUE(ReadFileBytes(destination) == PatternBytes(0, 30000)) << tag;
    std::vector<LoggedRequest> requests = FaultRequests(tag);
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].method, noResume ? "GET" : "HEAD") << tag;
  }
}

TEST_F(RequestEngine, AgentRequestsDistributionAddressAndUnchangedFiles) {
  params_.ds.DistributionServerProtocol = "https";
  params_.ds.DistributionServerPort = Servers().nginxHttps;
  params_.ds.DistributionServerSecurePort = Servers().nginxHttps;
  params_.server.RZServerName = "127.0.0.1";
  params_.server.RZServerProtocol = "https";
  params_.server.serverPort = Servers().nginxHttps;
  Start();
  // Nothing listens on 127.0.0.3; the store answers on 127.0.0.1 (404 for
  // the probe file counts as an answer).
  EXPECT_EQ(validateDSIPAddress(settings_, &run_, "127.0.0.9"), "127.0.0.9");
  EXPECT_EQ(validateDSIPAddress(settings_, &run_, "127.0.0.3,127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(validateDSIPAddress(settings_, &run_, "127.0.0.3,127.0.0.4"), "127.0.0.4");

  const std::string url = PutStoreFile("engine/cert.crt", "certificate bytes");
  const std::string destination = agent_ / "certs\\cert.crt";
  EXPECT_EQ(InternetDownloadFileIfmodifiedSince(settings_, &run_, url, destination, "ServerRootCertificate", 0), 0);
  std::string stored;
  ASSERT_EQ(ReadRegSZ(HKEY_LOCAL_MACHINE, agentKeys_.ifModifiedSince.c_str(), "ServerRootCertificate", &stored), 0);
  EXPECT_NE(stored.find("GMT"), std::string::npos);
  EXPECT_EQ(InternetDownloadFileIfmodifiedSince(settings_, &run_, url, destination, "ServerRootCertificate", 0),
            90001);
  EXPECT_EQ(ReadFileBytes(destination), "certificate bytes");
}

TEST_F(RequestEngine, ThroughTheAgentProxy) {
  params_.ProxyEnabled = "yes";
  params_.ProxyServerName = Servers().proxyName;
  params_.server.RZServerName = "127.0.0.1";
  params_.server.RZServerProtocol = "https";
  params_.server.serverPort = Servers().nginxHttps;
  Start();
  const std::string url = PutStoreFile("engine/proxied.bin", "through the proxy");
  const std::string destination = agent_ / "proxied.bin";
  EXPECT_EQ(InternetDownloadFileIfmodifiedSince(settings_, &run_, url, destination, "Proxied", 0), 0);
  EXPECT_EQ(ReadFileBytes(destination), "through the proxy");
  // Without the proxy the store answers as well.
  EXPECT_EQ(CheckConnectivityWithProxyDisabled(settings_, &run_, url), 0);
  std::string direct;
  EXPECT_TRUE(AgentKeysAt(key_.path()).ReadText("ServerInfo", "ConnectWithoutProxy", &direct));
  EXPECT_EQ(direct, "yes");
}

TEST_F(RequestEngine, StrictCertificateFailureRunsTheRecoveryAndFailsWhenNoRootVouches) {
  // Strict mode and a self-signed server certificate: the check fails, the
  // recovery reinstalls the agent's roots from its files (none match) and the
  // request fails with the check's error, marked as a secure-communication
  // failure, without a file.
  params_.strictCertificateMode = 1;
  params_.ServerRootCertificateInstalled = 1;
  Start();
  const std::string url = PutStoreFile("engine/strict.bin", "validated");
  const std::string destination = agent_ / "strict.bin";
  HttpRequestOptions options;
  const int result =
      InternetGetRequest(settings_, &run_, Target(Servers().nginxHttps, url, destination), nullptr, &options, false);
  EXPECT_TRUE(result == ERROR_WINHTTP_SECURE_FAILURE || result == ERROR_WINHTTP_SECURE_CHANNEL_ERROR) << result;
  EXPECT_FALSE(FileExists(destination));
  DWORD failure = 0;
  EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, agentKeys_.certificates.c_str(), "SecureCommFailure", &failure),
            0);
  EXPECT_EQ(failure, 1u);

  // With a distribution server the recovery fetches its root certificate
  // again, at most once a day.
  params_.EnableDistributionServer = "yes";
  settings_ = TransferSettingsFor(params_);
  const long long now = UnixSecondsNow(nullptr);
  for (long long ago : {86000LL, 86400LL}) {
    SCOPED_TRACE(ago);
    const std::string last = std::to_string(now - ago);
    writeValue(HKEY_LOCAL_MACHINE, agentKeys_.metadataVersions.c_str(), "DSCertLastRetriveTime", last.c_str(),
               REG_DWORD);
    InternetGetRequest(settings_, &run_, Target(Servers().nginxHttps, url, destination), nullptr, &options, false);
    DWORD tried = 0;
    EXPECT_EQ(
        ReadDwordRegistryData(HKEY_LOCAL_MACHINE, agentKeys_.metadataVersions.c_str(), "DSCertLastRetriveTime", &tried),
        0);
    if (ago < 86400) {
      EXPECT_EQ(tried, static_cast<DWORD>(now - ago));
    } else {
      EXPECT_GE(tried, static_cast<DWORD>(now));
    }
  }

  // A secure channel error without a certificate behind it (the port speaks
  // plain HTTP) is no certificate failure: no recovery runs.
  deleteValue(HKEY_LOCAL_MACHINE, agentKeys_.certificates.c_str(), "SecureCommFailure");
  const int protocol = InternetGetRequest(settings_, &run_, Target(Servers().faultHttp, "/fault/ok/tls?size=10",
                                                                   destination),
                                          nullptr, &options, false);
  EXPECT_EQ(protocol, ERROR_WINHTTP_SECURE_CHANNEL_ERROR);
  EXPECT_NE(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, agentKeys_.certificates.c_str(), "SecureCommFailure", &failure),
            0);
}

TEST_F(RequestEngine, NonStrictRecoveryFinallyIgnoresTheProblemsAndRecordsIt) {
  // Without strict mode the recovery validates the roots (nothing to fetch
  // them from here, so that fails), then receives once more with the
  // certificate problems ignored: the answer arrives and the failure is
  // recorded for the server.
  params_.ServerRootCertificateInstalled = 1;
  Start();
  const std::string url = PutStoreFile("engine/nonstrict.bin", "ignored problems");
  const RequestTarget target = Target(Servers().nginxHttps, url, agent_ / "nonstrict.bin");
  HttpRequestOptions options;
  RequestHandles handles;
  int sends = 0;
  // The request itself checks, as a strict one would.
  TransferSettings strict = settings_;
  strict.strictCertificates = true;
  const engine::Transfer checking{strict, &run_, &options, nullptr};
  auto resend = [&](DWORD flags) {
    ++sends;
    handles.Close();
    TransferResult opened = engine::OpenRequest(checking, target, options, &handles);
    if (!opened.ok()) return opened;
    WinHttpSetOption(handles.request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof(flags));
    if (!WinHttpSendRequest(handles.request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(handles.request.get(), nullptr)) {
      return TransferResult::LastError();
    }
    return TransferResult::Success();
  };
  EXPECT_TRUE(engine::CertRecoveryMechanismForReceive(settings_, &run_, 0, resend).ok());
  EXPECT_EQ(sends, 1);
  DWORD value = 0;
  EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, agentKeys_.certificates.c_str(), "SecureCommFailure", &value), 0);
  EXPECT_EQ(value, 1u);
  EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, agentKeys_.serverInfo.c_str(), "SecureCommFailCount", &value), 0);
  EXPECT_EQ(value, 1u);
  EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, agentKeys_.agent.c_str(), "CertKQTrackingAdded", &value), 0);
  EXPECT_EQ(value, 1u);
  handles.Close();
}
