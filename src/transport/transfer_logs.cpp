#include "transport/transfer_logs.h"

#include <atomic>
#include <cstdio>

#include "exec/error_text.h"
#include "log/agent_log.h"
#include "util/files.h"
#include "util/shared_append.h"
#include "util/text.h"

namespace {

constexpr char kDownloadLog[] = "rzdatatransferdown.log";
constexpr char kUploadLog[] = "rzdatatransferup.log";
constexpr char kSuccessAccessLog[] = "downloadSuccessAccess.log";
constexpr char kFailureAccessLog[] = "downloadFailureAccess.log";

constexpr char kDownloadHeader[] = "DATE,TIME,THREAD,SERVER,PORT,URL,DESTINATION,LENGTH,ERROR,ERRORMESSAGE\n\n";
constexpr char kUploadHeader[] = "DATE,TIME,THREAD,SERVER,PORT,URL,LENGTH,ERROR,ERRORMESSAGE\n\n";
// The column titles, then a rule of 142 dashes; each access line begins
// with its own line break.
const std::string kAccessHeader =
    "DATE\t\t\tSTART_TIME\t                         FILE_NAME\tMODE\t\t\t\tT_BYTES\tSTATUS\tRECEVD_BYTES\tEND_TIME\t"
    "SERVER_NAME\t\tPORT\tURL\n" +
    std::string(142, '-');

std::atomic<unsigned long long> g_downloadedBytes{0};

// Right-aligns the text in `width` columns, as "%*s" does; a UTF-8
// character takes one column, whatever its byte count.
std::string PadLeft(const std::string& text, size_t width) {
  size_t columns = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++columns;
  }
  return columns >= width ? text : std::string(width - columns, ' ') + text;
}

// The records have nowhere to go while the agent folder is unknown, and a
// relative path would land in whatever folder the process runs in.
bool AgentFolderKnown(const std::string& agentFolder) {
  if (!agentFolder.empty()) return true;
  LogError("local Agent directory in null, exit\n");
  return false;
}

std::string LogsFilePath(const std::string& agentFolder, const char* fileName) {
  return agentFolder + "logs\\" + fileName;
}

// Appends the text, with the header first when the file is new. The logs
// folder is made when missing, so an early record is not lost.
int AppendRecord(const std::string& path, const std::string& header, const std::string& text) {
  const std::wstring widePath = ChangeUtf8ToWideStr(path.c_str());
  CreateFolderTree(widePath.substr(0, widePath.find_last_of(L'\\')));
  return static_cast<int>(AppendToSharedFile(widePath, ToTextModeLineEnds(header), ToTextModeLineEnds(text)));
}

// Appends the CSV line that `makeLine` gives once the folder is known, and
// logs the outcome.
template <typename MakeLine>
int AppendCsvRecord(const std::string& agentFolder, const char* fileName, const char* header, MakeLine makeLine) {
  if (!AgentFolderKnown(agentFolder)) return 13;
  int rc = 13;
  try {
    rc = AppendRecord(LogsFilePath(agentFolder, fileName), header, makeLine());
  } catch (...) {
    rc = 13;
  }
  if (rc == 0) {
    LogInfo("Successfully updated %s\n", fileName);
  } else {
    LogError("Failed to update %s\n", fileName);
  }
  return rc;
}

SYSTEMTIME LocalNow() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return now;
}

}  // namespace

std::string TransferLogDate(const SYSTEMTIME& local) {
  char text[16];
  snprintf(text, sizeof(text), "%02d-%02d-%02d", local.wYear % 100, local.wMonth % 100, local.wDay % 100);
  return text;
}

std::string TransferLogTime(const SYSTEMTIME& local) {
  char text[16];
  snprintf(text, sizeof(text), "%02d:%02d:%02d", local.wHour % 100, local.wMinute % 100, local.wSecond % 100);
  return text;
}

std::string FormatDownloadTransferLine(const SYSTEMTIME& local, DWORD threadId, const DownloadTransfer& transfer,
                                       const std::string& message) {
  return TransferLogDate(local) + "," + TransferLogTime(local) + "," + std::to_string(threadId) + "," +
         transfer.server + "," + std::to_string(transfer.port) + "," + transfer.urlPath + "," + transfer.destination +
         "," + std::to_string(transfer.contentLength) + "," + std::to_string(transfer.result) + "," + message + "\n";
}

std::string FormatUploadTransferLine(const SYSTEMTIME& local, DWORD threadId, const UploadTransfer& transfer) {
  return TransferLogDate(local) + "," + TransferLogTime(local) + "," + std::to_string(threadId) + "," +
         transfer.server + "," + std::to_string(transfer.port) + "," + transfer.urlPath + "," +
         std::to_string(transfer.length) + "," + std::to_string(transfer.result) + "," + transfer.message + "\n";
}

std::string FormatAccessStartStamp(const SYSTEMTIME& local) {
  return "\n " + TransferLogDate(local) + "\t\t" + PadLeft(TransferLogTime(local), 10) + "\t";
}

std::string AccessLogFileName(const std::string& urlPath) {
  const char separator = urlPath.find('\\', 1) != std::string::npos ? '\\' : '/';
  // The last element that is not empty: "a/b/" names "b".
  size_t end = urlPath.find_last_not_of(separator);
  if (end == std::string::npos) return "--";
  size_t start = urlPath.rfind(separator, end);
  start = start == std::string::npos ? 0 : start + 1;
  return urlPath.substr(start, end - start + 1);
}

std::string FormatAccessLogLine(const AccessLogEntry& entry, int result, const SYSTEMTIME& end) {
  const char* mode = entry.requestType == RequestKind::kDownloadFile ? "DownloadFile" : "GetData";
  return "\n " + PadLeft(entry.startStamp, 20) + "\t" + "\t" + PadLeft(AccessLogFileName(entry.urlPath), 30) + "\t" +
         PadLeft(mode, 12) + "\t" + PadLeft(std::to_string(entry.contentLength), 10) + "\t" +
         PadLeft(std::to_string(result), 5) + "\t" + PadLeft(std::to_string(entry.receivedBytes), 10) + "\t" +
         PadLeft(TransferLogTime(end), 10) + "\t" + "\t" + PadLeft(entry.server, 15) + "\t" +
         PadLeft(std::to_string(entry.port), 6) + "\t" + entry.urlPath;
}

int WriteDownloadTransferLog(const std::string& agentFolder, const DownloadTransfer& transfer) {
  g_downloadedBytes += transfer.contentLength;
  return AppendCsvRecord(agentFolder, kDownloadLog, kDownloadHeader, [&] {
    // Producing the message text logs it as well.
    const std::string message = GetErrorMessageText(transfer.result);
    return FormatDownloadTransferLine(LocalNow(), GetCurrentThreadId(), transfer, message);
  });
}

int WriteUploadTransferLog(const std::string& agentFolder, const UploadTransfer& transfer) {
  return AppendCsvRecord(agentFolder, kUploadLog, kUploadHeader,
                         [&] { return FormatUploadTransferLine(LocalNow(), GetCurrentThreadId(), transfer); });
}

int PrintHTTPAccessLog(const std::string& agentFolder, const AccessLogEntry& entry, int result) {
  try {
    if (!AgentFolderKnown(agentFolder)) return 13;
    const std::string path = LogsFilePath(agentFolder, result == 0 ? kSuccessAccessLog : kFailureAccessLog);
    LogDebug("downloadaccesslog : %s \n", path.c_str());
    int rc = AppendRecord(path, kAccessHeader, FormatAccessLogLine(entry, result, LocalNow()));
    if (rc != 0) LogError("PrintHTTPAccessLog : could not append to %s, error %d\n", path.c_str(), rc);
    return rc;
  } catch (...) {
    LogError("Error caught in PrintHTTPAccessLog");
    return 13;
  }
}

unsigned long long TotalDownloadedBytes() { return g_downloadedBytes.load(); }

std::string AccessStartStamp() { return FormatAccessStartStamp(LocalNow()); }
