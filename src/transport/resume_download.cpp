#include "transport/resume_download.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <vector>

#include "agent/agent_parameters.h"
#include "agent/registry.h"
#include "log/agent_log.h"
#include "log/seconds_clock.h"
#include "transport/engine_internal.h"
#include "transport/pacing.h"
#include "util/files.h"
#include "util/raw_registry.h"
#include "util/registry_paths.h"
#include "util/text.h"

using namespace engine;

namespace {

const char kDefaultRepository[] = "DownloadRepository\\";
const DWORD kDefaultPeriodicLimit = 1048576;
const DWORD kDeleteRetryPauseMs = 5000;

std::mutex g_sizesMutex;
std::map<std::string, long long> g_expectedSizes;

bool RegistryKeyPresent(const std::string& key) {
  UniqueHKey handle;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, ChangeUtf8ToWideStr(key.c_str()).c_str(), 0,
                       KEY_QUERY_VALUE | KEY_WOW64_32KEY, handle.put()) == ERROR_SUCCESS;
}

std::string RecordKey(const std::string& uniqueId) { return std::string(reg_path::kFileMetaData) + "\\" + uniqueId; }

std::string ReadText(const std::string& key, const char* name) {
  RawRegistryValue value;
  if (ReadRawRegistryValue(key.c_str(), name, &value) != ERROR_SUCCESS) return std::string();
  if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) return std::string();
  std::wstring text(value.data.size() / sizeof(wchar_t), L'\0');
  if (!text.empty()) memcpy(&text[0], value.data.data(), text.size() * sizeof(wchar_t));
  text.resize(wcsnlen(text.c_str(), text.size()));
  return ChangeWideToUtf8Str(text);
}

bool ReadTypedDword(const std::string& key, const char* name, DWORD* out) {
  RawRegistryValue value;
  if (ReadRawRegistryValue(key.c_str(), name, &value) != ERROR_SUCCESS) return false;
  if (value.type != REG_DWORD || value.data.size() != sizeof(DWORD)) return false;
  memcpy(out, value.data.data(), sizeof(DWORD));
  return true;
}

void WriteNumber(const std::string& key, const char* name, unsigned long long number, DWORD type) {
  writeValue(HKEY_LOCAL_MACHINE, key.c_str(), name, std::to_string(number).c_str(), type);
}

// Adds one to a DWORD counter; a counter that cannot be read starts at 1.
DWORD IncrementCounter(const std::string& key, const char* name) {
  DWORD count = 0;
  if (!ReadTypedDword(key, name, &count)) count = 0;
  WriteNumber(key, name, count + 1, REG_DWORD);
  return count + 1;
}

// Milliseconds since 1970 in UTC, as the record keeps its retry time.
std::string RetryTimeText() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  FILETIME ft;
  SystemTimeToFileTime(&now, &ft);
  ULARGE_INTEGER ticks;
  ticks.LowPart = ft.dwLowDateTime;
  ticks.HighPart = ft.dwHighDateTime;
  unsigned long long seconds = (ticks.QuadPart - 116444736000000000ULL) / 10000000ULL;
  return std::to_string(seconds * 1000 + now.wMilliseconds);
}

void CountResumeFailure(int result) {
  DWORD failures = IncrementCounter(reg_path::kFileMetaData, "DownloadFailureCount");
  LogInfo("DownloadFailureCount set to %d\n", static_cast<int>(failures));
  char line[256];
  snprintf(line, sizeof(line), "\tResume Download failed with error code : %d and total failed count value = %d\n",
           result, static_cast<int>(failures));
  WriteErrorLog(line);
  IncrementCounter(std::string(reg_path::kTracking) + "\\ResumeDownloadDetails", "RESUME_DOWNLOAD_FAILURE_COUNT");
  WriteNumber(reg_path::kTracking, "LastKQDataModifiedTime", static_cast<unsigned long long>(GetTimeInSeconds()),
              REG_DWORD);
}

struct PreDownload {
  int result = 0;
  bool lengthKnown = false;
  unsigned long long length = 0;
  std::string lastModified;
};

// The HEAD before the download: status, length and Last-Modified.
PreDownload PreDownloadHandling(const RequestTarget& target, HttpRequestOptions* options) {
  PreDownload pre;
  RequestHandles handles;
  handles.kind = 2;
  HttpRequestOptions headOptions = *options;
  const bool external = options->m_externalVendorServer == 1;
  if (external) headOptions.extraHeaders["Range"] = "bytes=0-";
  pre.result = GetInternetRequestHandle(target, &headOptions, &handles);
  if (pre.result != 0) {
    LogError("PreDownloadHandling: ERROR in GetInternetRequestHandle - %d\n", pre.result);
    return pre;
  }
  const DWORD status = handles.status;
  if (status == HTTP_STATUS_NOT_MODIFIED) {
    LogInfo("PreDownloadHandling :File not modified since the time: %S\n", options->lastModified.c_str());
    pre.result = kResultNotModified;
  } else if (external && status != HTTP_STATUS_PARTIAL_CONTENT) {
    LogError("PreDownloadHandling : External server doesnot support range request. Failed with the http status code, "
             "%d \n",
             static_cast<int>(status));
    pre.result = status == HTTP_STATUS_NOT_FOUND ? HTTP_STATUS_NOT_FOUND : kHttpRangeNotSatisfiable;
  } else if (external || status == HTTP_STATUS_OK) {
    pre.lastModified = ChangeWideToUtf8Str(QueryHeaderText(handles.request.get(), WINHTTP_QUERY_LAST_MODIFIED));
    pre.lengthKnown = QueryContentLength(handles.request.get(), "PreDownloadHandling", &pre.length);
    if (external) {
      // The answer to "bytes=0-" names the whole body in Content-Range.
      std::wstring range = QueryHeaderText(handles.request.get(), WINHTTP_QUERY_CONTENT_RANGE);
      size_t slash = range.rfind(L'/');
      if (slash != std::wstring::npos && range.compare(slash + 1, 1, L"*") != 0) {
        pre.length = _wcstoui64(range.c_str() + slash + 1, nullptr, 10);
        pre.lengthKnown = true;
      }
    }
    if (pre.lengthKnown && pre.length == 0) pre.lengthKnown = false;
    InsertResumeDownloadFileSizeParams(ChangeWideToUtf8Str(target.urlPath),
                                       pre.lengthKnown ? static_cast<long long>(pre.length) : 0);
  } else {
    LogError("PreDownloadHandling : Failed with the http status code, %d \n", static_cast<int>(status));
    pre.result = static_cast<int>(status);
  }
  handles.Close();
  return pre;
}

// Hands over a finished download and writes its access line.
int PostDownloadHandling(DownloadResumeHandler* handler, const RequestTarget& target, std::string* memoryOut,
                         int result) {
  LogInfo("Proceeding for PostDownloadHandling \n");
  if (handler && result == 0) {
    if (target.requestType == kRequestGetData) {
      std::string text;
      UniqueFile file(CreateFileW(handler->temporaryPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      LARGE_INTEGER size = {};
      DWORD read = 0;
      if (file && GetFileSizeEx(file.get(), &size) && size.QuadPart < 0x40000000) {
        text.resize(static_cast<size_t>(size.QuadPart));
        if (text.empty() || (ReadFile(file.get(), &text[0], static_cast<DWORD>(text.size()), &read, nullptr) &&
                             read == text.size())) {
          LogDebug("PostDownloadHandling Data in memory : %s\n", text.c_str());
          if (memoryOut) *memoryOut = std::move(text);
          file.reset();
          handler->CleanFileAndRegistry();
        } else {
          result = kResultDataNotLoaded;
        }
      } else {
        result = kResultDataNotLoaded;
      }
      if (result != 0) LogError("PostDownloadHandling : could n't read the data from .tmp file \n");
    } else {
      result = handler->SaveToDestFile();
      if (result == 0) {
        handler->CleanFileAndRegistry();
        LogInfo("PostDownloadHandling : Successfully downloaded the file %S from the server %S to the destination "
                "file %S \n",
                target.urlPath.c_str(), target.server.c_str(), target.destination.c_str());
      } else {
        LogError("PostDownloadHandling : failed\n");
      }
    }
  }
  if (handler) PrintHTTPAccessLog(handler->access(), result);
  return result;
}

}  // namespace

ResumeDecision DecideResumeStart(bool recordUsable, unsigned long long recordedSize, unsigned long long fileSize,
                                 bool lengthKnown, unsigned long long contentLength) {
  ResumeDecision decision;
  if (!recordUsable) return decision;
  if (fileSize == recordedSize) {
    decision.resume = true;
    decision.offset = recordedSize;
  } else if (lengthKnown && fileSize > contentLength) {
    LogInfo("GetFileDataFromRegistry temp file size is greater than content length..\n");
  } else if (fileSize > recordedSize) {
    decision.resume = true;
    decision.offset = fileSize;
  }
  if (lengthKnown && decision.offset > contentLength) decision = ResumeDecision();
  return decision;
}

void InsertResumeDownloadFileSizeParams(const std::string& url, long long size) {
  if (url.empty()) {
    LogError("InsertResumeDownloadFileSizeParams: Invalid download url retrieved \n");
    return;
  }
  LogInfo("InsertResumeDownloadFileSizeParams: Adding urlToDownload: %s \t filesize: %lld \n", url.c_str(), size);
  std::lock_guard<std::mutex> lock(g_sizesMutex);
  g_expectedSizes[url] = size;
}

int isFileDownloadCompleted(const std::string& downloadUrl, const std::string& localPath, long long bytesRead) {
  if (downloadUrl.empty()) {
    LogError("isFileDownloadCompleted: Invalid downloadurl retrieved \n");
    return 0;
  }
  LogInfo("isFileDownloadCompleted: downloadUrl: %s \t localFilePath: %s \t totalBytesReaded: %lld \n",
          downloadUrl.c_str(), localPath.c_str(), bytesRead);
  const bool direct = AgentParams().DirectDownloadEnabled != 0;
  if (direct) LogInfo("%s : DirectDownload Enabled.\n", "isFileDownloadCompleted");
  const std::string url = ToLowerText(downloadUrl);
  std::lock_guard<std::mutex> lock(g_sizesMutex);
  for (const auto& entry : g_expectedSizes) {
    const std::string stored = ToLowerText(entry.first);
    const bool match = direct ? url.find(stored) != std::string::npos : stored.find(url) != std::string::npos;
    if (!match) continue;
    LogInfo("isFileDownloadCompleted: DownloadUrl found for filesize check.. Retrieved file size is %lld \n",
            entry.second);
    if (entry.second == 0) {
      LogInfo("isFileDownloadCompleted: File size is 0. Skipping filesize check. \n");
      return 0;
    }
    return entry.second != bytesRead ? ERROR_WINHTTP_CONNECTION_ERROR : 0;
  }
  return 0;
}

DownloadResumeHandler::DownloadResumeHandler() { access_.startStamp = AccessStartStamp(); }

DownloadResumeHandler::~DownloadResumeHandler() {
  file_.reset();
  if (!uniqueId_.empty()) deleteValue(HKEY_LOCAL_MACHINE, RecordKey(uniqueId_).c_str(), "downloadInProgress");
}

int DownloadResumeHandler::FormUniqueFileName() {
  char id[96];
  snprintf(id, sizeof(id), "%lu%lu%lu.download", static_cast<unsigned long>(GetTimeInSeconds()),
           static_cast<unsigned long>(GetCurrentProcessId()), static_cast<unsigned long>(GetCurrentThreadId()));
  uniqueId_ = id;
  LogInfo("Formed Unique id for the file is %s\n", uniqueId_.c_str());
  writeValue(HKEY_LOCAL_MACHINE, reg_path::kFileMetaData, fileKey_.c_str(), uniqueId_.c_str(), REG_SZ);
  return 0;
}

int DownloadResumeHandler::Initialize(const std::wstring& destination, const std::string& serverLastModified,
                                      const std::wstring& url, bool lengthKnown, unsigned long long contentLength) {
  LogDebug("Inside DownloadResumeHandler::Initialize\n");
  destination_ = destination;
  serverLastModified_ = serverLastModified;
  url_ = url;
  fileKey_ = ChangeWideToUtf8Str(url);
  std::string repository = ReadText(reg_path::kFileMetaData, "IntermediateRepositoryName");
  if (repository.empty() || repository.size() > 255 || !IsContainedRelativePath(repository)) {
    // The repository lives under the agent folder; a name that would leave
    // it is replaced by the default.
    repository = kDefaultRepository;
    writeValue(HKEY_LOCAL_MACHINE, reg_path::kFileMetaData, "IntermediateRepositoryName", repository.c_str(), REG_SZ);
  }
  if (repository.back() != '\\') repository += '\\';
  repository_ = repository;
  DWORD limit = 0;
  if (!ReadTypedDword(reg_path::kFileMetaData, "InterSaveByteLimit", &limit) || limit == 0) {
    limit = kDefaultPeriodicLimit;
    WriteNumber(reg_path::kFileMetaData, "InterSaveByteLimit", limit, REG_DWORD);
  }
  periodicLimit_ = limit;
  LogInfo("Download folder = %S\tperiodic save limit = %lu\n", ChangeUtf8ToWideStr(repository_.c_str()).c_str(),
          static_cast<unsigned long>(periodicLimit_));

  uniqueId_ = ReadText(reg_path::kFileMetaData, fileKey_.c_str());
  // The id names a file in the repository: anything but a plain name is
  // not ours and is replaced.
  const bool usable = !uniqueId_.empty() && uniqueId_.find_first_of("\\/:") == std::string::npos &&
                      IsContainedRelativePath(uniqueId_);
  const std::wstring folder = ChangeUtf8ToWideStr((AgentParams().RZAgentInstallDir + repository_).c_str());
  CreateFolderTree(folder.back() == L'\\' ? folder.substr(0, folder.size() - 1) : folder);
  if (!usable) {
    FormUniqueFileName();
    tempPath_ = folder + ChangeUtf8ToWideStr(uniqueId_.c_str());
    DeleteFileW(tempPath_.c_str());
    startOffset_ = 0;
  } else {
    LogInfo("Unique id for the file is %s\n", uniqueId_.c_str());
    tempPath_ = folder + ChangeUtf8ToWideStr(uniqueId_.c_str());
    GetFileDataFromRegistry(lengthKnown, contentLength);
  }
  LogInfo("Temporary file path is %S\n", tempPath_.c_str());
  LogInfo("ResumeGetRequestEx : To update download count\n");
  IncrementCounter(reg_path::kFileMetaData, "DownloadCount");
  LogDebug("End of DownloadResumeHandler::Initialize\n");
  return 0;
}

int DownloadResumeHandler::GetFileDataFromRegistry(bool lengthKnown, unsigned long long contentLength) {
  const std::string key = RecordKey(uniqueId_);
  RawRegistryValue partial;
  bool recordUsable = false;
  unsigned long long recorded = 0;
  const std::string recordedModified = ReadText(key, "LastModifiedTime");
  if (!RegistryKeyPresent(key)) {
    LogInfo("GetFileDataFromRegistry; Registry subkey not found\n");
  } else {
    LogInfo("GetFileDataFromRegistry last modified time in registry   %s from server %s\n", recordedModified.c_str(),
            serverLastModified_.c_str());
    if (EqualsNoCase(recordedModified, serverLastModified_.c_str())) {
      if (ReadRawRegistryValue(key.c_str(), "PartialFileSize", &partial) == ERROR_SUCCESS && partial.type == REG_QWORD &&
          partial.data.size() == sizeof(recorded)) {
        memcpy(&recorded, partial.data.data(), sizeof(recorded));
        recordUsable = true;
        LogInfo("Start Range: %llu \n", recorded);
      } else {
        LogError("ERROR in fetching registry \n");
      }
    }
  }
  unsigned long long fileSize = 0;
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (GetFileAttributesExW(tempPath_.c_str(), GetFileExInfoStandard, &info)) {
    fileSize = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  }
  if (recordUsable) {
    LogInfo("File size: %llu \n", fileSize);
    LogInfo("GetFileDataFromRegistry partial downloaded filesize  in registry %llu from file  %llu\n", recorded,
            fileSize);
  }
  ResumeDecision decision = DecideResumeStart(recordUsable, recorded, fileSize, lengthKnown, contentLength);
  startOffset_ = decision.offset;
  if (!decision.resume) DeleteFileW(tempPath_.c_str());
  return 0;
}

int DownloadResumeHandler::OpenTemporaryFile() {
  file_.reset(CreateFileW(tempPath_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file_) return 0;
  LogError("File Handle is NULL\n");
  DWORD error = GetLastError();
  return static_cast<int>(error ? error : ERROR_OPEN_FAILED);
}

int DownloadResumeHandler::FlushBuffer(bool final) {
  if (!buffer_.empty()) {
    if (!file_) {
      LogError("File Handle is NULL\n");
      return ERROR_INVALID_HANDLE;
    }
    DWORD written = 0;
    if (!WriteFile(file_.get(), buffer_.data(), static_cast<DWORD>(buffer_.size()), &written, nullptr) ||
        written != buffer_.size()) {
      DWORD error = GetLastError();
      LogError("ProcessDownloadedBuffer :  Error in WriteFile --> %lu \n", error);
      file_.reset();
      return static_cast<int>(error ? error : ERROR_WRITE_FAULT);
    }
    writtenThisRun_ += buffer_.size();
    buffer_.clear();
    FlushFileBuffers(file_.get());
    LogDebug("File updated with data.\n");
  }
  // The record follows the file: what it says is on disk is on disk.
  const std::string key = RecordKey(uniqueId_);
  const unsigned long long partial = startOffset_ + writtenThisRun_;
  WriteNumber(key, "PartialFileSize", partial, REG_QWORD);
  writeValue(HKEY_LOCAL_MACHINE, key.c_str(), "LastModifiedTime", serverLastModified_.c_str(), REG_SZ);
  const std::string retry = RetryTimeText();
  writeValue(HKEY_LOCAL_MACHINE, key.c_str(), "LastRetryTime", retry.c_str(), REG_SZ);
  LogDebug("updated registry entries  %llu \n", partial);
  if (final) {
    LogInfo("updated registry entries size  %llu and last modified time %S retry time %d\n", partial,
            ChangeUtf8ToWideStr(serverLastModified_.c_str()).c_str(), 0);
    IncrementCounter(key, "RetryCount");
    deleteValue(HKEY_LOCAL_MACHINE, key.c_str(), "downloadInProgress");
  }
  return 0;
}

int DownloadResumeHandler::ProcessDownloadedBuffer(const char* data, size_t count, bool periodic) {
  LogTrace("Inside ProcessDownloadedBuffer\n");
  if (count > 0) {
    if (buffer_.size() + count > periodicLimit_ && !buffer_.empty()) {
      int result = FlushBuffer(false);
      if (result != 0) return result;
    }
    buffer_.append(data, count);
    if (buffer_.size() < periodicLimit_ && periodic) return 0;
  }
  return FlushBuffer(!periodic);
}

int DownloadResumeHandler::CleanFileAndRegistry() {
  LogInfo("Inside CleanFileAndRegistry\n");
  file_.reset();
  if (!DeleteFileW(tempPath_.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    LogError("temp file deletion failed with error %d..reattempting after 5secs\n", static_cast<int>(GetLastError()));
    Sleep(kDeleteRetryPauseMs);
    DeleteFileW(tempPath_.c_str());
  }
  deleteValue(HKEY_LOCAL_MACHINE, reg_path::kFileMetaData, fileKey_.c_str());
  deleteRegistryKey(HKEY_LOCAL_MACHINE, RecordKey(uniqueId_).c_str());
  uniqueId_.clear();
  return 0;
}

int DownloadResumeHandler::SaveToDestFile() {
  LogInfo("Inside SaveToDestFile from %S to %S\n", tempPath_.c_str(), destination_.c_str());
  file_.reset();
  const std::wstring folder = FolderOf(destination_);
  if (!folder.empty()) CreateFolderTree(folder);
  // Moved rather than copied, so the destination never holds half a body;
  // the repository may be on another volume, where the move copies.
  if (!MoveFileExW(tempPath_.c_str(), destination_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    DWORD error = GetLastError();
    LogError("InternetGetRequestEx : could n't copy from %S file to %S ,\n", tempPath_.c_str(), destination_.c_str());
    return static_cast<int>(error ? error : ERROR_WRITE_FAULT);
  }
  return 0;
}

namespace {


std::wstring RangeText(unsigned long long first, bool bounded, unsigned long long last) {
  wchar_t range[96];
  if (bounded) {
    swprintf(range, 96, L"Range: bytes=%llu-%llu", first, last);
  } else {
    swprintf(range, 96, L"Range: bytes=%llu-", first);
  }
  return range;
}

// Asks for the bytes from `first` to `last` (to the end of the body when not
// `bounded`) and passes them to the handler, recovering once from a time-out
// or an answer that ends early. `received` grows by what arrived. 0 or the
// failure: an HTTP status, 13 for bytes beyond the range, a WinHTTP error.
int FetchRange(const RequestTarget& target, HttpRequestOptions* options, DownloadResumeHandler* handler,
               unsigned long long first, bool bounded, unsigned long long last, WindowPacer* pace,
               unsigned long long* received) {
  HttpRequestOptions rangeOptions = *options;
  rangeOptions.m_enableGzipCompression = 0;
  RequestHandles handles;
  handles.kind = 1;
  handles.extraHeader = RangeText(first, bounded, last);
  LogInfo("Header message: %S \n", handles.extraHeader.c_str());
  int result = GetInternetRequestHandle(target, &rangeOptions, &handles);
  LogInfo("ResumeGetRequestEx: GetInternetRequestHandle function return code: %u\n", static_cast<unsigned>(result));
  if (result != 0) return result;
  const DWORD status = handles.status;
  if (status == HTTP_STATUS_MOVED || status == HTTP_STATUS_REDIRECT) {
    options->redirectUrl = ChangeWideToUtf8Str(QueryHeaderText(handles.request.get(), WINHTTP_QUERY_CONTENT_LOCATION));
    LogInfo("Redirection url is %s\n", options->redirectUrl.c_str());
    return static_cast<int>(status);
  }
  if (status != HTTP_STATUS_PARTIAL_CONTENT && !(status == HTTP_STATUS_OK && first == 0)) {
    // Only the asked-for bytes may join the file: an error page or a whole
    // body from the start would corrupt it.
    return static_cast<int>(status);
  }
  const unsigned long long wanted = bounded ? last - first + 1 : 0;
  const unsigned long long before = *received;
  std::vector<char> buffer;
  bool retried = false;
  for (;;) {
    const unsigned long long got = *received - before;
    DWORD available = 0;
    DWORD error = 0;
    if (!WinHttpQueryDataAvailable(handles.request.get(), &available)) error = GetLastError();
    const bool early = error == 0 && available == 0 && bounded && got < wanted;
    if (IsTimeout(error) || error == ERROR_WINHTTP_CONNECTION_ERROR || error == ERROR_WINHTTP_CANNOT_CONNECT || early) {
      if (retried) return IsTimeout(error) || early ? ERROR_WINHTTP_TIMEOUT : static_cast<int>(error);
      retried = true;
      LogInfo("ResumeGetRequestEx : Total Bytes read so far:%u\n", static_cast<unsigned>(*received));
      LogInfo("ResumeGetRequestEx : second attempt to recover from previous error\n");
      handles.Close();
      handles.kind = 1;
      handles.extraHeader = RangeText(first + got, bounded, last);
      if (GetInternetRequestHandle(target, &rangeOptions, &handles) != 0 ||
          handles.status != HTTP_STATUS_PARTIAL_CONTENT) {
        return ERROR_WINHTTP_TIMEOUT;
      }
      continue;
    }
    if (error != 0) return static_cast<int>(error);
    if (available == 0) return 0;
    if (buffer.size() < available) buffer.resize(available);
    DWORD read = 0;
    if (!WinHttpReadData(handles.request.get(), buffer.data(), available, &read)) {
      DWORD readError = GetLastError();
      LogError("InternetGetRequestEx :  Error in WinHttpReadData --> %lu \n", readError);
      return static_cast<int>(readError ? readError : ERROR_READ_FAULT);
    }
    if (read == 0) continue;
    if (bounded && got + read > wanted) {
      LogError("InternetGetRequestEx : File downloading more than the content length. File download deleted and "
               "download failed. \n");
      return kResultLongerThanAnnounced;
    }
    result = handler->ProcessDownloadedBuffer(buffer.data(), read, true);
    if (result != 0) return result;
    *received += read;
    if (pace) pace->Count(read);
    if (bounded && got + read == wanted) return 0;
  }
}

// The body in blocks of `blockSize` bytes from `start`, each its own ranged
// request followed by the block pause; without a length, until the server
// refuses the range (the end) or a block brings nothing.
int FetchBlocks(const RequestTarget& target, HttpRequestOptions* options, DownloadResumeHandler* handler,
                unsigned long long start, bool lengthKnown, unsigned long long length, unsigned long long blockSize,
                unsigned long long* received) {
  LogInfo("ResumeGetRequestByBitrate: Block of bytes to read: %lu\n", static_cast<unsigned long>(blockSize));
  for (;;) {
    const unsigned long long offset = start + *received;
    if (lengthKnown && offset >= length) return 0;
    SYSTEMTIME blockStart;
    GetLocalTime(&blockStart);
    unsigned long long last = offset + blockSize - 1;
    if (lengthKnown && last > length - 1) last = length - 1;
    const unsigned long long before = *received;
    int result = FetchRange(target, options, handler, offset, true, last, nullptr, received);
    if (!lengthKnown && result == kHttpRangeNotSatisfiable) return 0;
    if (result != 0) return result;
    if (*received == before) return lengthKnown ? ERROR_WINHTTP_TIMEOUT : 0;
    SYSTEMTIME now;
    GetLocalTime(&now);
    Sleep(BlockPacingSleepMs(WallClockElapsedMs(blockStart, now)));
  }
}

// The resumable download with its pacing: none, windows, or blocks of
// `blockSize` bytes.
int ResumeDownload(const RequestTarget& target, std::string* memoryOut, HttpRequestOptions* options, bool bandwidth,
                   unsigned long long blockSize, const char* op) {
  LogDebug("@@@@@@@@ Inside %s Method @@@@@@@@ \n", op);
  LogInfo("httpRequestObjOld.m_externalVendorServer = %d \n", options->m_externalVendorServer);
  LogInfo("%s : URL to Get -> %S \n", op, target.urlPath.c_str());
  if (bandwidth) {
    LogInfo("%s : BitRateDownload Enabled with rate -> %d KBps:  \n", op,
            static_cast<int>(AgentParams().DataTransferRate_KBps));
  }
  DownloadResumeHandler handler;
  AccessLogEntry& access = handler.access();
  access.server = ChangeWideToUtf8Str(target.server);
  access.port = target.port;
  access.urlPath = ChangeWideToUtf8Str(target.urlPath);
  access.requestType = target.requestType;
  PreDownload pre = PreDownloadHandling(target, options);
  if (pre.result == 0 && !pre.lengthKnown && !ExternalLengthAccepted()) {
    // No length and none accepted: the plain path's rule, so a body is never
    // taken as complete without a length to check it against.
    LogError("InternetGetRequestEx : File downloading more than the content length. File download deleted and "
             "download failed. \n");
    pre.result = kResultLongerThanAnnounced;
  }
  access.contentLength = pre.length;
  // Every ending, a failed probe included, leaves its access line.
  if (pre.result != 0) return PostDownloadHandling(&handler, target, memoryOut, pre.result);
  options->lastModifiedOut = pre.lastModified;
  handler.Initialize(target.destination, pre.lastModified, target.urlPath, pre.lengthKnown, pre.length);

  const unsigned long long start = handler.startOffset();
  LogInfo("Start Range: %llu \n", start);
  if (pre.lengthKnown && start == pre.length) {
    int result = PostDownloadHandling(&handler, target, memoryOut, 0);
    LogDebug("@@@@@@@@ End Of %s Method @@@@@@@@ Full File already exist\n", op);
    return result;
  }
  int result = handler.OpenTemporaryFile();
  unsigned long long received = 0;
  const DWORD begun = GetTickCount();
  if (result == 0) {
    if (!pre.lengthKnown) LogInfo("ResumeGetRequestEx: Filesize contains more than 4 GB \n");
    if (blockSize != 0) {
      result = FetchBlocks(target, options, &handler, start, pre.lengthKnown, pre.length, blockSize, &received);
    } else {
      WindowPacer pace(bandwidth ? AgentParams().DataTransferRate_KBps : 0);
      result = FetchRange(target, options, &handler, start, pre.lengthKnown, pre.length - 1, &pace, &received);
    }
  }
  LogInfo("%s : Total Time Taken for download : %d seconds\n", op, static_cast<int>((GetTickCount() - begun) / 1000));
  LogInfo("%s : Total bytes downloaded : %llu \n", op, received);
  access.receivedBytes = received;
  if (result == HTTP_STATUS_MOVED || result == HTTP_STATUS_REDIRECT || result == kResultLongerThanAnnounced) {
    // A redirect brought nothing; too long is not partial: nothing of it
    // may be resumed.
    if (result == kResultLongerThanAnnounced) handler.CleanFileAndRegistry();
    return PostDownloadHandling(&handler, target, memoryOut, result);
  }
  int flushed = handler.ProcessDownloadedBuffer(nullptr, 0, false);
  if (result == 0) result = flushed;
  if (result == 0 && !pre.lengthKnown) {
    result = isFileDownloadCompleted(ChangeWideToUtf8Str(target.urlPath), ChangeWideToUtf8Str(target.destination),
                                     static_cast<long long>(received));
  }
  if ((pre.lengthKnown && received < pre.length - start) || result != 0) {
    LogError("ResumeGetRequestEx: Only partial content downloaded \n");
    if (result == 0) result = ERROR_WINHTTP_TIMEOUT;
    CountResumeFailure(result);
  }
  result = PostDownloadHandling(&handler, target, memoryOut, result);
  LogDebug("@@@@@@@@ End Of %s Method @@@@@@@@ \n", op);
  return result;
}

}  // namespace

int ResumeGetRequestEx(const RequestTarget& target, std::string* memoryOut, HttpRequestOptions* options,
                       bool bandwidth) {
  return ResumeDownload(target, memoryOut, options, bandwidth, 0, "ResumeGetRequestEx");
}

int ResumeGetRequestByBitrate(const RequestTarget& target, std::string* memoryOut, HttpRequestOptions* options) {
  const unsigned long long blockSize = static_cast<unsigned long long>(AgentParams().DataTransferRate_KBps) * 500;
  // No rate means no block size: the download goes without a limit.
  if (blockSize == 0) return ResumeDownload(target, memoryOut, options, false, 0, "ResumeGetRequestEx");
  return ResumeDownload(target, memoryOut, options, true, blockSize, "ResumeGetRequestByBitrate");
}
