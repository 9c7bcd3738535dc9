#include "transport/request_engine.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "agent/agent_parameters.h"
#include "agent/registry.h"
#include "log/agent_log.h"
#include "log/seconds_clock.h"
#include "transport/engine_internal.h"
#include "transport/gzip_file.h"
#include "transport/http_errors.h"
#include "transport/pacing.h"
#include "transport/resume_download.h"
#include "transport/transfer_logs.h"
#include "util/files.h"
#include "util/registry_paths.h"
#include "util/text.h"

using namespace engine;

namespace {


struct BodyResult {
  int result = 0;
  unsigned long long received = 0;
};

// Reads the body into the file. With a known length the length is held to;
// without one (the length marker on) the body runs until the server ends it.
// A time-out, or an answer that ends early, is recovered once by asking for
// the missing bytes with a Range header.
BodyResult ReadBody(const RequestTarget& target, const HttpRequestOptions& options, RequestHandles* handles,
                    HANDLE file, bool lengthKnown, unsigned long long length, WindowPacer* pacer) {
  BodyResult body;
  std::vector<char> buffer;
  bool retried = false;
  if (!lengthKnown) LogInfo("File download more than 4 GB method \n");
  for (;;) {
    DWORD available = 0;
    DWORD queryError = 0;
    if (!WinHttpQueryDataAvailable(handles->request.get(), &available)) queryError = GetLastError();
    const bool early = queryError == 0 && available == 0 && lengthKnown && body.received < length;
    if (IsTimeout(queryError) || early) {
      if (retried) {
        LogError("InternetGetRequestEx: Download failed in retry method \n");
        body.result = IsTimeout(queryError) ? ERROR_WINHTTP_TIMEOUT : kResultPartialFile;
        break;
      }
      retried = true;
      LogInfo("InternetGetRequestEx : second attempt to recover from previous error\n");
      wchar_t range[96];
      if (lengthKnown) {
        swprintf(range, 96, L"Range: bytes=%llu-%llu", body.received, length - 1);
      } else {
        swprintf(range, 96, L"Range: bytes=%llu-", body.received);
      }
      handles->Close();
      handles->kind = 1;
      handles->extraHeader = range;
      HttpRequestOptions plain = options;
      plain.m_enableGzipCompression = 0;
      int rc = OpenRequest(target, plain, handles);
      if (rc == 0) rc = SendWithAttempts(target, plain, handles);
      DWORD status = 0;
      DWORD size = sizeof(status);
      if (rc == 0 && (!WinHttpQueryHeaders(handles->request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) ||
                      status != HTTP_STATUS_PARTIAL_CONTENT)) {
        rc = status ? static_cast<int>(status) : static_cast<int>(GetLastError());
      }
      if (rc != 0) {
        LogError("InternetGetRequestEx: Download failed in retry method \n");
        body.result = rc;
        break;
      }
      continue;
    }
    if (queryError != 0) {
      body.result = static_cast<int>(queryError);
      LogError("InternetGetRequestEx :  Error in WinHttpQueryDataAvailable --> %lu \n", queryError);
      HttpGetLastError(queryError);
      break;
    }
    if (available == 0) break;  // the server ended the body
    if (buffer.size() < available) buffer.resize(available);
    DWORD read = 0;
    if (!WinHttpReadData(handles->request.get(), buffer.data(), available, &read)) {
      DWORD error = GetLastError();
      LogError("InternetGetRequestEx :  Error in WinHttpReadData --> %lu \n", error);
      body.result = static_cast<int>(error ? error : ERROR_READ_FAULT);
      break;
    }
    if (read == 0) continue;
    if (lengthKnown && body.received + read > length) {
      LogError("InternetGetRequestEx : File downloading more than the content length. File download deleted and "
               "download failed. \n");
      body.result = kResultLongerThanAnnounced;
      break;
    }
    DWORD written = 0;
    if (!WriteFile(file, buffer.data(), read, &written, nullptr) || written != read) {
      DWORD error = GetLastError();
      LogError("InternetGetRequestEx :  Error in WriteFile --> %lu \n", error);
      body.result = static_cast<int>(error ? error : ERROR_WRITE_FAULT);
      break;
    }
    body.received += read;
    if (pacer) pacer->Count(read);
    if (lengthKnown && body.received == length) {
      LogInfo("Bytes read reached the contenlength\n");
      break;
    }
  }
  if (!lengthKnown) {
    if (body.result == 0) {
      LogInfo("InternetGetRequestEx: File downloaded successfully without checking the contentlength \n");
    } else {
      LogError("InternetGetRequestEx: More than 4GB file cannot download and error %lu\n",
               static_cast<unsigned long>(body.result));
    }
  }
  return body;
}

unsigned long long FileSizeOf(HANDLE file) {
  LARGE_INTEGER size;
  return GetFileSizeEx(file, &size) ? static_cast<unsigned long long>(size.QuadPart) : 0;
}

// Loads a small file into a string. False when it cannot be read whole.
bool LoadFile(const std::wstring& path, std::string* text) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  unsigned long long size = FileSizeOf(file.get());
  if (size > 0x40000000ULL) return false;
  std::string bytes(static_cast<size_t>(size), '\0');
  DWORD read = 0;
  if (size > 0 && (!ReadFile(file.get(), &bytes[0], static_cast<DWORD>(size), &read, nullptr) || read != size)) {
    return false;
  }
  *text = std::move(bytes);
  return true;
}

// Counts a gzip answer that could not be decompressed, for the server.
void CountGzipFailure(const std::wstring& path) {
  char line[1024];
  snprintf(line, sizeof(line), "\tGzip file Decompression failed for the file %s\n", ChangeWideToUtf8Str(path).c_str());
  WriteErrorLog(line);
  LogInfo("Going to update Gzip Failure Count in Registry.\n");
  const std::string key = std::string(reg_path::kTracking) + "\\GzipDecompressionDetails";
  DWORD count = 0;
  if (ReadDwordRegistryData(HKEY_LOCAL_MACHINE, key.c_str(), "GZIP_DECOMPRESSION_FAILURE_COUNT", &count) !=
      ERROR_SUCCESS) {
    count = 0;
  }
  writeValue(HKEY_LOCAL_MACHINE, key.c_str(), "GZIP_DECOMPRESSION_FAILURE_COUNT", std::to_string(count + 1).c_str(),
             REG_DWORD);
  writeValue(HKEY_LOCAL_MACHINE, reg_path::kTracking, "LastKQDataModifiedTime",
             std::to_string(GetTimeInSeconds()).c_str(), REG_DWORD);
}

std::wstring TempFolder() {
  const std::string& folder = AgentParams().tempFolder;
  if (!folder.empty()) return ChangeUtf8ToWideStr(folder.c_str());
  wchar_t path[MAX_PATH + 1] = L"";
  DWORD length = GetTempPathW(MAX_PATH + 1, path);
  std::wstring text(path, length);
  while (!text.empty() && (text.back() == L'\\' || text.back() == L'/')) text.pop_back();
  return text;
}

// The body of a 200 answer: read into the temporary file, checked against
// the announced length, decompressed when it is gzip, and handed over.
int ReceiveBody(const RequestTarget& target, std::string* memoryOut, HttpRequestOptions* options,
                RequestHandles* handles, bool bandwidth, bool gzipAnswer, unsigned long long* announced) {
  HINTERNET request = handles->request.get();
  if (options->ifModifiedSinceEnabled) {
    std::wstring modified = QueryHeaderText(request, WINHTTP_QUERY_LAST_MODIFIED);
    LogInfo("GetFilelastmodifiedTime : File last modified time: %S\n", modified.c_str());
    options->lastModifiedOut = ChangeWideToUtf8Str(modified);
  }
  unsigned long long length = 0;
  bool lengthKnown = QueryContentLength(request, "InternetGetRequestEx", &length);
  // Without the length marker a missing length counts as 0, so a body that
  // arrives is longer than announced.
  if ((!lengthKnown || length == 0) && !ExternalLengthAccepted()) {
    lengthKnown = true;
    length = 0;
  } else if (length == 0) {
    lengthKnown = false;
  }
  *announced = lengthKnown ? length : 0;

  CreateDestinationFolder(target);
  TemporaryFile temp(TemporaryFileFor(target));
  int result = temp.Create();
  if (result != 0) {
    LogError("InternetGetRequestEx :  Error in CreateFile --> %d \n", result);
    return result;
  }
  const DWORD start = GetTickCount();
  WindowPacer pacer(bandwidth ? AgentParams().DataTransferRate_KBps : 0);
  BodyResult body = ReadBody(target, *options, handles, temp.handle(), lengthKnown, length, bandwidth ? &pacer : nullptr);
  LogInfo("InternetGetRequestEx : Total Time Taken for download : %d seconds\n",
          static_cast<int>((GetTickCount() - start) / 1000));
  LogInfo("InternetGetRequestEx : Total bytes downloaded : %llu \n", body.received);
  result = body.result;
  if (result == 0 && lengthKnown) {
    unsigned long long onDisk = FileSizeOf(temp.handle());
    if (onDisk == length) {
      LogInfo("InternetGetRequestEx : File completely downloaded..!\n");
    } else {
      LogError("InternetGetRequestEx : Only partial file downloaded. GetFileSize returns :  %llu\n", onDisk);
      result = kResultPartialFile;
    }
  }
  temp.CloseHandleOnly();
  if (result != 0) return result;

  return DeliverBody(target, &temp, memoryOut, options, bandwidth, gzipAnswer, "InternetGetRequestEx");
}

}  // namespace

namespace engine {

std::wstring FolderOf(const std::wstring& path) {
  size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

void CreateDestinationFolder(const RequestTarget& target) {
  if (target.requestType != kRequestDownloadFile) return;
  const std::wstring folder = FolderOf(target.destination);
  if (!folder.empty() && CreateFolderTree(folder) != 0) {
    LogError("InternetGetRequestEx : Failed to create the destination directory for the destination file %S \n",
             target.destination.c_str());
  }
}

void RecordDownload(const RequestTarget& target, unsigned long long length, int result) {
  DownloadTransfer transfer;
  transfer.server = ChangeWideToUtf8Str(target.server);
  transfer.port = target.port;
  transfer.urlPath = ChangeWideToUtf8Str(target.urlPath);
  transfer.destination = ChangeWideToUtf8Str(target.destination);
  transfer.contentLength = length;
  transfer.result = result;
  WriteDownloadTransferLog(transfer);
}

bool IsTimeout(DWORD error) { return error == ERROR_WINHTTP_TIMEOUT || error == WSAETIMEDOUT; }

std::wstring TemporaryFileFor(const RequestTarget& target) {
  return TemporaryFilePath(target.requestType, target.destination, TempFolder(), GetCurrentThreadId());
}

int DeliverBody(const RequestTarget& target, TemporaryFile* temp, std::string* memoryOut, HttpRequestOptions* options,
                bool bandwidth, bool gzipAnswer, const char* op) {
  const bool blockMethod = strcmp(op, "InternetGetRequestByBitrate") == 0;
  if (gzipAnswer) {
    LogInfo("%s : Successfully downloaded the Gzip compressed file from the server %S \n", op, target.server.c_str());
    LogInfo("%s : Need to decompress the file\n", op);
    if (DecompressGzipFileInPlace(temp->path()) != 0) {
      LogError("%s : File Decompression failure. So need to download the original file.\n", op);
      CountGzipFailure(target.destination.empty() ? temp->path() : target.destination);
      options->lastModified.clear();
      options->m_enableGzipCompression = 0;
      return blockMethod ? BlockRateDownload(target, memoryOut, options)
                         : InternetGetRequest(target, memoryOut, options, bandwidth);
    }
    LogInfo("%s : File Decompressed successfully.\n", op);
  }
  if (target.requestType == kRequestGetData) {
    std::string text;
    if (!LoadFile(temp->path(), &text)) {
      LogError("InternetGetRequestEx: could n't read the data from .tmp file \n");
      return kResultDataNotLoaded;
    }
    LogDebug("Data in memory : %s\n", text.c_str());
    if (memoryOut) *memoryOut = std::move(text);
    return 0;
  }
  // Moved, not copied: the body is written once and the destination is never
  // half written. The temporary file sits beside it, on the same volume.
  if (!MoveFileExW(temp->path().c_str(), target.destination.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    DWORD error = GetLastError();
    if (error == 0) error = ERROR_WRITE_FAULT;
    if (blockMethod) {
      LogError("InternetGetRequestByBitrate : could n't copy from .tmp file, errorcode --> %d \n",
               static_cast<int>(error));
    } else {
      LogError("InternetGetRequestEx : could n't copy from %S file to %S ,\n", temp->path().c_str(),
               target.destination.c_str());
    }
    return static_cast<int>(error);
  }
  temp->Forget();
  if (blockMethod) {
    LogInfo("InternetGetRequestByBitrate : Successfully downloaded the file %S from the server %S\n",
            target.urlPath.c_str(), target.server.c_str());
  } else {
    LogInfo("InternetGetRequestEx : Successfully downloaded the file %S from the server %S to the destination file "
            "%S \n",
            target.urlPath.c_str(), target.server.c_str(), target.destination.c_str());
  }
  return 0;
}

}  // namespace engine

std::wstring TemporaryFilePath(int requestType, const std::wstring& destination, const std::wstring& tempFolder,
                               DWORD threadId) {
  if (requestType == kRequestGetData) return tempFolder + L"\\rz" + std::to_wstring(threadId) + L".tmp";
  return destination + std::to_wstring(threadId) + L".tmp";
}

int InternetGetRequest(const RequestTarget& target, std::string* memoryOut, HttpRequestOptions* options,
                       bool bandwidth) {
  LogDebug("@@@@@@@@ Inside InternetGetRequestEx Method @@@@@@@@ \n");
  LogInfo("InternetGetRequestEx : Plexmoor Server & Port -> %S : %d \n", target.server.c_str(), target.port);
  LogInfo("InternetGetRequestEx : URL to Get -> %S \n", target.urlPath.c_str());
  if (bandwidth) {
    LogInfo("InternetGetRequestEx : BitRateDownload Enabled with rate -> %d KBps:  \n",
            static_cast<int>(AgentParams().DataTransferRate_KBps));
  }
  RequestHandles handles;
  unsigned long long announced = 0;
  int result = GetInternetRequestHandle(target, options, &handles);
  if (result == 0) {
    bool gzipAnswer = false;
    if (options->m_enableGzipCompression == 1 || options->m_enableGzipCompression == 2) {
      const wchar_t* name = options->m_enableGzipCompression == 2 ? L"Cloud-Content-Encoding" : L"Content-Encoding";
      std::wstring encoding = QueryNamedHeader(handles.request.get(), name);
      if (encoding.empty()) {
        LogInfo("Response Header doesn't contain %S. \n", name);
      } else if (HeaderNamesGzip(encoding)) {
        LogInfo("Response Header contains %S as gzip \n", name);
        gzipAnswer = true;
      }
    }
    switch (handles.status) {
      case HTTP_STATUS_OK:
        result = ReceiveBody(target, memoryOut, options, &handles, bandwidth, gzipAnswer, &announced);
        break;
      case HTTP_STATUS_MOVED:
      case HTTP_STATUS_REDIRECT: {
        std::wstring location = QueryHeaderText(handles.request.get(), WINHTTP_QUERY_CONTENT_LOCATION);
        LogInfo("GetRedirectionUrlFromHeader : content location: %S\n", location.c_str());
        options->redirectUrl = ChangeWideToUtf8Str(location);
        LogInfo("Redirection url is %s\n", options->redirectUrl.c_str());
        result = static_cast<int>(handles.status);
        break;
      }
      case HTTP_STATUS_NOT_MODIFIED:
        LogInfo("InternetGetRequestEx :File not modified since the time: %S\n", options->lastModified.c_str());
        result = kResultNotModified;
        break;
      default:
        LogError("InternetGetRequestEx : Failed with the http status code, %d \n", static_cast<int>(handles.status));
        result = static_cast<int>(handles.status);
        break;
    }
  }
  handles.Close();
  RecordDownload(target, announced, result);
  LogDebug("@@@@@@@@ End Of InternetGetRequestEx Method @@@@@@@@ \n");
  return result;
}

RequestTarget MakeRequestTarget(int useProxy, const char* protocol, const wchar_t* server, int port,
                                const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                                const wchar_t* proxyPassword, const wchar_t* urlPath, const wchar_t* destinationPath,
                                int requestType, int keepAlive) {
  RequestTarget target;
  target.useProxy = useProxy != 0;
  target.protocol = protocol ? protocol : "https";
  target.server = server ? server : L"";
  target.port = port;
  target.proxyServer = proxyServer ? proxyServer : L"";
  target.proxyBypass = proxyBypass ? proxyBypass : L"";
  target.proxyUser = proxyUser ? proxyUser : L"";
  target.proxyPassword = proxyPassword ? proxyPassword : L"";
  target.urlPath = urlPath ? urlPath : L"";
  target.destination = destinationPath ? destinationPath : L"";
  target.requestType = requestType;
  target.keepAlive = keepAlive != 0;
  return target;
}

int InternetGetRequestEx(int useProxy, const char* protocol, const wchar_t* server, int port,
                         const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                         const wchar_t* proxyPassword, const wchar_t* urlPath, const wchar_t* destinationPath,
                         std::string* memoryOut, int requestType, int keepAlive, HttpRequestOptions* options,
                         int bandwidth, int noResume) {
  HttpRequestOptions defaults;
  if (!options) options = &defaults;
  const RequestTarget target = MakeRequestTarget(useProxy, protocol, server, port, proxyServer, proxyBypass, proxyUser,
                                                 proxyPassword, urlPath, destinationPath, requestType, keepAlive);
  const std::wstring& url = target.urlPath;
  if (noResume == 0 && url.find(L".xml") == std::wstring::npos && url.find(L".json") == std::wstring::npos) {
    LogInfo("InternetGetDownloader : Plexmoor Server & Port -> %S : %d \n", target.server.c_str(), target.port);
    DWORD mode = 0;
    const std::string settings = reg_path::kSettings;
    if (ReadDwordRegistryData(HKEY_LOCAL_MACHINE, settings.c_str(), "DownloadMode", &mode) == ERROR_SUCCESS &&
        mode == 1 && requestType == kRequestDownloadFile) {
      options->m_enableGzipCompression = 0;
      int result = ResumeGetRequestEx(target, memoryOut, options, bandwidth != 0);
      LogInfo("InternetGetDownloader : ResumeGetRequestEx errorCode = %d \n", result);
      if (!(result == kHttpRangeNotSatisfiable && options->m_externalVendorServer == 1)) return result;
      LogInfo("InternetGetDownloader : ResumeGetRequestEx() failed due to errorCode = %d, trying to download using "
              "InternetGetRequestEx() \n",
              result);
    }
  }
  return InternetGetRequest(target, memoryOut, options, bandwidth != 0);
}
