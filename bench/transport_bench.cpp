// The transport benchmark's program: one download per run, by a raw
// WinHTTP loop or by the engine, printing what bench/transport.sh needs.
// Not part of the product.
//
//   transport_bench raw    <port> <url> <destination>
//   transport_bench gathered <port> <url> <destination>
//   transport_bench engine <port> <url> <destination>
//   transport_bench window <port> <url> <destination> <rate KBps>
//   transport_bench block  <port> <url> <destination> <rate KBps>
//   transport_bench resume <port> <url> <destination> <agent folder>
//
// Prints "bytes=N ms=N peak_bytes=N result=N progress_lines=N
// progress_records=N" on one line; the engine's download reports its
// progress as a deployment's does, to the log and the agent's record.
#include <windows.h>
#include <psapi.h>
#include <winhttp.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "agent/agent_parameters.h"
#include "agent/registry.h"
#include "transport/download_progress.h"
#include "transport/request_engine.h"
#include "transport/resume_download.h"
#include "transport/transfer_settings.h"
#include "util/handles.h"
#include "util/registry_paths.h"
#include "util/text.h"

namespace {

// The references: the plainest loop WinHTTP allows, into a file, writing
// every read as it comes (`gather` false) or gathering the reads into 1 MiB
// writes, the fastest any program fetches over this WinHTTP.
int RawDownload(int port, const std::wstring& url, const std::wstring& destination, bool gather,
                unsigned long long* bytes) {
  constexpr size_t kGatherBytes = 1024 * 1024;
  UniqueInternet session(WinHttpOpen(L"raw", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, 0));
  UniqueInternet connection(WinHttpConnect(session.get(), L"127.0.0.1", static_cast<INTERNET_PORT>(port), 0));
  UniqueInternet request(WinHttpOpenRequest(connection.get(), L"GET", url.c_str(), nullptr, WINHTTP_NO_REFERER,
                                            WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
  DWORD flags = 0x3300;
  WinHttpSetOption(request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof(flags));
  if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request.get(), nullptr)) {
    return static_cast<int>(GetLastError());
  }
  UniqueFile file(CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr));
  std::vector<char> buffer(gather ? kGatherBytes : 0);
  size_t filled = 0;
  auto flush = [&] {
    DWORD written = 0;
    if (filled > 0) WriteFile(file.get(), buffer.data(), static_cast<DWORD>(filled), &written, nullptr);
    filled = 0;
  };
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request.get(), &available)) return static_cast<int>(GetLastError());
    if (available == 0) {
      flush();
      return 0;
    }
    if (buffer.size() - filled < available) {
      flush();
      if (buffer.size() < available) buffer.resize(available);
    }
    DWORD read = 0;
    if (!WinHttpReadData(request.get(), buffer.data() + filled, available, &read)) {
      return static_cast<int>(GetLastError());
    }
    filled += read;
    if (!gather) flush();
    *bytes += read;
  }
}

unsigned long long FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info)) return 0;
  return (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    fprintf(stderr,
            "usage: transport_bench raw|gathered|engine|window|block|resume <port> <url> <destination> [arg]\n");
    return 2;
  }
  const std::string mode = argv[1];
  const int port = atoi(argv[2]);
  const std::wstring url = ChangeUtf8ToWideStr(argv[3]);
  const std::wstring destination = ChangeUtf8ToWideStr(argv[4]);

  AgentParameters params;
  params.userAgent = L"transport-bench";
  RequestTarget target;
  target.url.host = L"127.0.0.1";
  target.url.port = port;
  target.url.path = url;
  target.destination = destination;
  HttpRequestOptions options;

  ProgressReporter progress;
  unsigned long long bytes = 0;
  int result = 0;
  const double start = NowMs();
  if (mode == "raw" || mode == "gathered") {
    result = RawDownload(port, url, destination, mode == "gathered", &bytes);
  } else if (mode == "engine") {
    progress.RecordUnder(reg_path::AgentKeys().tracking);
    options.progress = &progress;
    const TransferSettings settings = TransferSettingsFor(params);
    TransferRunState run = TransferRunStateFor(settings);
    result = InternetGetRequest(settings, &run, target, nullptr, &options, false);
    progress.RemoveRecord();
  } else if (mode == "window" || mode == "block") {
    params.DataTransferRate_KBps = argc > 5 ? static_cast<unsigned>(atoi(argv[5])) : 2000;
    writeValue(HKEY_LOCAL_MACHINE, reg_path::kAgent, "isOldBitRateEnabled", mode == "block" ? "1" : "0", REG_DWORD);
    const TransferSettings settings = TransferSettingsFor(params);
    TransferRunState run = TransferRunStateFor(settings);
    result = InternetGetRequestLimited(settings, &run, target, nullptr, &options);
  } else if (mode == "resume") {
    params.RZAgentInstallDir = std::string(argc > 5 ? argv[5] : "C:\\bench") + "\\";
    const TransferSettings settings = TransferSettingsFor(params);
    TransferRunState run = TransferRunStateFor(settings);
    result = ResumeGetRequestEx(settings, &run, target, nullptr, &options, false);
  } else {
    fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
  }
  const double elapsed = NowMs() - start;
  if (mode != "raw" && mode != "gathered") bytes = FileSize(destination);
  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof(memory);
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
  printf("bytes=%llu ms=%.0f peak_bytes=%llu result=%d progress_lines=%u progress_records=%u\n", bytes, elapsed,
         static_cast<unsigned long long>(memory.PeakWorkingSetSize), result, progress.lines(), progress.records());
  return result == 0 ? 0 : 1;
}
