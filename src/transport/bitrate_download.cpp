// Bandwidth-limited downloads: the choice between the window method (inside
// the plain read loop) and the block method, where every block is its own
// ranged request followed by a pause.
#include <vector>

#include "agent/agent_parameters.h"
#include "agent/registry.h"
#include "log/agent_log.h"
#include "transport/engine_internal.h"
#include "transport/pacing.h"
#include "transport/request_engine.h"
#include "transport/resume_download.h"
#include "transport/transfer_logs.h"
#include "util/registry_paths.h"
#include "util/text.h"

using namespace engine;

namespace {

const char kOp[] = "InternetGetRequestByBitrate";

bool IsDocumentUrl(const std::wstring& url) {
  return url.find(L".xml") != std::wstring::npos || url.find(L".json") != std::wstring::npos;
}

std::wstring RangeHeader(const ByteRange& range) {
  wchar_t text[96];
  swprintf(text, 96, L"Range: bytes=%llu-%llu", range.first, range.last);
  return text;
}

// One block: a new ranged request, its data read into the file. Returns 0 or
// the failure; `received` grows by what arrived. A time-out while reading is
// retried once with the block asked for again.
int DownloadBlock(const RequestTarget& target, const HttpRequestOptions& options, HANDLE file, const ByteRange& range,
                  unsigned long long length, bool lengthKnown, std::vector<char>* buffer, unsigned long long* received,
                  DWORD* statusOut) {
  const unsigned long long blockStart = *received;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt == 1) {
      LogInfo("InternetGetRequestByBitrate : second attempt of the previous request\n");
      // The file is cut back to where the block began.
      LARGE_INTEGER at;
      at.QuadPart = static_cast<LONGLONG>(blockStart);
      SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
      SetEndOfFile(file);
      *received = blockStart;
    }
    RequestHandles handles;
    handles.kind = 1;
    handles.extraHeader = RangeHeader(range);
    LogInfo("InternetGetRequestByBitrate: Content-Range Header message: %S\n", handles.extraHeader.c_str());
    HttpRequestOptions plain = options;
    plain.m_enableGzipCompression = 0;
    int result = GetInternetRequestHandle(target, &plain, &handles);
    LogInfo("InternetGetRequestByBitrate: GetInternetRequestHandle function return code: %lu\n",
            static_cast<unsigned long>(result));
    if (result != 0) return result;
    *statusOut = handles.status;
    if (handles.status != HTTP_STATUS_OK && handles.status != HTTP_STATUS_PARTIAL_CONTENT) {
      LogError("InternetGetRequestByBitrate : Failed with the http status code %lu \n",
               static_cast<unsigned long>(handles.status));
      return handles.status ? static_cast<int>(handles.status) : 1;
    }
    bool timedOut = false;
    for (;;) {
      DWORD available = 0;
      if (!WinHttpQueryDataAvailable(handles.request.get(), &available)) {
        DWORD error = GetLastError();
        if (IsTimeout(error)) {
          timedOut = true;
          break;
        }
        return static_cast<int>(error ? error : ERROR_READ_FAULT);
      }
      if (available == 0) break;
      LogDebug("InternetGetRequestByBitrate: Bytes Available to read now: %lu\n", available);
      if (buffer->size() < available) buffer->resize(available);
      DWORD read = 0;
      if (!WinHttpReadData(handles.request.get(), buffer->data(), available, &read)) {
        DWORD error = GetLastError();
        LogError("InternetGetRequestEx :  Error in WinHttpReadData --> %lu \n", error);
        return static_cast<int>(error ? error : ERROR_READ_FAULT);
      }
      if (read == 0) break;
      if (lengthKnown && *received + read > length) {
        LogError("InternetGetRequestEx : File downloading more than the content length. File download deleted and "
                 "download failed. \n");
        return kResultLongerThanAnnounced;
      }
      DWORD written = 0;
      if (!WriteFile(file, buffer->data(), read, &written, nullptr) || written != read) {
        DWORD error = GetLastError();
        LogError("InternetGetRequestEx :  Error in WriteFile --> %lu \n", error);
        return static_cast<int>(error ? error : ERROR_WRITE_FAULT);
      }
      *received += read;
      if (lengthKnown && *received == length) {
        LogInfo("ResumeGetRequestEx : Bytes read reached the contenlength\n");
        break;
      }
    }
    if (!timedOut) return 0;
  }
  return ERROR_WINHTTP_TIMEOUT;
}

// Sleeps out the rest of the block by the block rule.
void PauseAfterBlock(const SYSTEMTIME& blockStart) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  Sleep(BlockPacingSleepMs(WallClockElapsedMs(blockStart, now)));
}

// The block loop for a body whose length is not known: blocks until the
// server refuses the range (416, the end) or a block brings nothing.
int DownloadFileMoreThan4GBbyBitrate(unsigned long long blockSize, HANDLE file, const RequestTarget& target,
                                     const HttpRequestOptions& options, unsigned long long* received) {
  LogInfo("DownloadFileMoreThan4GBbyBitrate: BytesToRead %lu", static_cast<unsigned long>(blockSize));
  std::vector<char> buffer;
  for (;;) {
    SYSTEMTIME blockStart;
    GetLocalTime(&blockStart);
    const ByteRange range{*received, *received + blockSize - 1};
    const unsigned long long before = *received;
    DWORD status = 0;
    int result = DownloadBlock(target, options, file, range, 0, false, &buffer, received, &status);
    if (status == kHttpRangeNotSatisfiable) {
      LogInfo("DownloadFileMoreThan4GBbyBitrate : File completely downloaded and requested for invalid byte range. "
              "TotalbytesReaded - %llu \n",
              *received);
      return 0;
    }
    if (result != 0) {
      if (status != 0) {
        LogError("DownloadFileMoreThan4GBbyBitrate : Failed with the http status code %d \n", static_cast<int>(status));
      }
      return result;
    }
    LogDebug("DownloadFileMoreThan4GBbyBitrate: Bytes Read: %d\n", static_cast<int>(*received - before));
    if (*received == before) return 0;  // the body ended
    PauseAfterBlock(blockStart);
  }
}

// The probe before the blocks: a HEAD for the agent's servers, a GET with
// "Range: bytes=0-" for an outside server (its body is not read).
int Probe(const RequestTarget& target, HttpRequestOptions* options, RequestHandles* handles) {
  HttpRequestOptions probeOptions = *options;
  if (options->m_externalVendorServer == 1) {
    handles->kind = 0;
    probeOptions.extraHeaders["Range"] = "bytes=0-";
  } else {
    LogInfo("sending head request\n");
    handles->kind = 2;
  }
  return GetInternetRequestHandle(target, &probeOptions, handles);
}

}  // namespace

ByteRange NextBlockRange(unsigned long long start, unsigned long long blockSize, unsigned long long length) {
  unsigned long long last = start + blockSize - 1;
  if (last > length - 1) last = length - 1;
  return ByteRange{start, last};
}

namespace engine {

int BlockRateDownload(const RequestTarget& target, std::string* memoryOut, HttpRequestOptions* options) {
  LogDebug("@@@@@@@@ Inside InternetGetRequestByBitrate Method @@@@@@@@ \n");
  LogInfo("InternetGetRequestByBitrate : Plexmoor Server & Port -> %S : %d \n", target.server.c_str(), target.port);
  LogInfo("InternetGetRequestByBitrate : URL to Get -> %S \n", target.urlPath.c_str());
  const bool external = options->m_externalVendorServer == 1;
  const unsigned long long blockSize = static_cast<unsigned long long>(AgentParams().DataTransferRate_KBps) * 500;
  LogInfo("InternetGetRequestByBitrate: Block of bytes to read: %u\n", static_cast<unsigned>(blockSize));

  RequestHandles probe;
  unsigned long long length = 0;
  bool lengthKnown = false;
  bool lengthUnusable = false;
  unsigned long long received = 0;
  int result = Probe(target, options, &probe);
  bool gzipAnswer = false;
  if (result == 0) {
    const DWORD status = probe.status;
    const DWORD expected = external ? HTTP_STATUS_PARTIAL_CONTENT : HTTP_STATUS_OK;
    if (status == HTTP_STATUS_NOT_MODIFIED) {
      LogInfo("InternetGetRequestByBitrate : File not modified since the time: %S\n", options->lastModified.c_str());
      result = kResultNotModified;
    } else if (status == HTTP_STATUS_MOVED || status == HTTP_STATUS_REDIRECT) {
      options->redirectUrl = ChangeWideToUtf8Str(QueryHeaderText(probe.request.get(), WINHTTP_QUERY_CONTENT_LOCATION));
      LogInfo("Redirection url is %s\n", options->redirectUrl.c_str());
      result = static_cast<int>(status);
    } else if (external && status != HTTP_STATUS_PARTIAL_CONTENT) {
      LogError("InternetGetRequestByBitrate : External server doesnot support range request. Failed with the http "
               "status code, %d \n",
               static_cast<int>(status));
      result = kHttpRangeNotSatisfiable;
    } else if (status != expected) {
      LogError("InternetGetRequestByBitrate : Failed with the http status code: %d \n", static_cast<int>(status));
      result = static_cast<int>(status);
    } else {
      if (options->ifModifiedSinceEnabled) {
        options->lastModifiedOut = ChangeWideToUtf8Str(QueryHeaderText(probe.request.get(), WINHTTP_QUERY_LAST_MODIFIED));
      }
      lengthKnown = QueryContentLength(probe.request.get(), kOp, &length, &lengthUnusable);
      if (external) {
        // An answer to "bytes=0-" announces the whole body in Content-Range.
        std::wstring contentRange = QueryHeaderText(probe.request.get(), WINHTTP_QUERY_CONTENT_RANGE);
        size_t slash = contentRange.rfind(L'/');
        if (slash != std::wstring::npos && contentRange.compare(slash + 1, 1, L"*") != 0) {
          length = _wcstoui64(contentRange.c_str() + slash + 1, nullptr, 10);
          lengthKnown = true;
        }
      }
    }
  }
  probe.Close();
  if (result == 0 && (!lengthKnown || length == 0) && ExternalLengthAccepted()) {
    LogInfo("InternetGetRequestByBitrate: Contenet length header not retrieved.. Downloading without bitrate enabled "
            "\n");
    return InternetGetRequest(target, memoryOut, options, false);
  }
  if (result == 0 && !lengthKnown && !lengthUnusable) {
    // No length and none accepted: as on the plain path, whatever arrives is
    // more than announced. Success with an empty file would hide the body.
    LogError("InternetGetRequestEx : File downloading more than the content length. File download deleted and "
             "download failed. \n");
    result = kResultLongerThanAnnounced;
  }
  if (result == 0 && blockSize == 0) {
    // No rate, no block size: a limit of nothing is no limit.
    return InternetGetRequest(target, memoryOut, options, false);
  }

  if (result == 0) {
    CreateDestinationFolder(target);
    TemporaryFile temp(TemporaryFileFor(target));
    result = temp.Create();
    if (result != 0) {
      LogError("InternetGetRequestByBitrate: Error occured while creating the file --> %d \n", result);
    } else if (!lengthKnown) {
      result = DownloadFileMoreThan4GBbyBitrate(blockSize, temp.handle(), target, *options, &received);
    } else {
      std::vector<char> buffer;
      while (result == 0 && received < length) {
        SYSTEMTIME blockStart;
        GetLocalTime(&blockStart);
        DWORD status = 0;
        result = DownloadBlock(target, *options, temp.handle(), NextBlockRange(received, blockSize, length), length,
                               true, &buffer, &received, &status);
        LogDebug("InternetGetRequestByBitrate: Bytes Read: %llu\n", received);
        if (result == 0) PauseAfterBlock(blockStart);
      }
      LogInfo("InternetGetRequestByBitrate: Total bytes read = %llu\n", received);
    }
    temp.CloseHandleOnly();
    if (result == 0) result = DeliverBody(target, &temp, memoryOut, options, false, gzipAnswer, kOp);
  }
  if (result == kHttpRangeNotSatisfiable && external) {
    LogInfo("InternetGetRequestByBitrate: InternetGetRequestByBitrate : External server doesnot support range "
            "request. Downloading without bitrate enabled \n");
    result = InternetGetRequest(target, memoryOut, options, false);
  } else {
    RecordDownload(target, lengthKnown ? length : received, result);
  }
  LogDebug("@@@@@@@@ End Of InternetGetRequestByBitrate Method @@@@@@@@ \n");
  return result;
}

}  // namespace engine

int InternetGetRequestLimited(const RequestTarget& target, std::string* memoryOut, HttpRequestOptions* options) {
  DWORD oldMethod = 0;
  if (ReadDwordRegistryData(HKEY_LOCAL_MACHINE, reg_path::kAgent, "isOldBitRateEnabled", &oldMethod) !=
          ERROR_SUCCESS ||
      oldMethod == 0) {
    return InternetGetRequest(target, memoryOut, options, true);
  }
  if (!IsDocumentUrl(target.urlPath)) {
    LogInfo("InternetGetDownloader : Plexmoor Server & Port -> %S : %d \n", target.server.c_str(), target.port);
    DWORD mode = 0;
    if (target.requestType == kRequestDownloadFile &&
        ReadDwordRegistryData(HKEY_LOCAL_MACHINE, reg_path::kSettings, "DownloadMode", &mode) == ERROR_SUCCESS &&
        mode == 1) {
      options->m_enableGzipCompression = 0;
      int result = ResumeGetRequestByBitrate(target, memoryOut, options);
      if (!(result == kHttpRangeNotSatisfiable && options->m_externalVendorServer == 1)) return result;
      LogInfo("InternetGetDownloader : ResumeGetRequestByBitrate() failed due to errorCode = %d, trying to download "
              "using InternetGetRequestEx() \n",
              result);
      return InternetGetRequest(target, memoryOut, options, false);
    }
  }
  return BlockRateDownload(target, memoryOut, options);
}

int InternetGetRequestByBitrate(int useProxy, const char* protocol, const wchar_t* server, int port,
                                const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                                const wchar_t* proxyPassword, const wchar_t* urlPath, const wchar_t* destinationPath,
                                std::string* memoryOut, int requestType, int keepAlive, HttpRequestOptions* options,
                                int /*bandwidth*/, int /*noResume*/) {
  HttpRequestOptions defaults;
  return InternetGetRequestLimited(MakeRequestTarget(useProxy, protocol, server, port, proxyServer, proxyBypass,
                                                     proxyUser, proxyPassword, urlPath, destinationPath, requestType,
                                                     keepAlive),
                                   memoryOut, options ? options : &defaults);
}
