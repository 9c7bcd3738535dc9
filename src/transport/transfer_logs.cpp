#include "transport/transfer_logs.h"

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

// The file's path in the logs folder. The folder is made when missing, so
// an early record is not lost.
std::wstring LogsFile(const std::string& agentFolder, const char* fileName) {
  const std::wstring path = ChangeUtf8ToWideStr((agentFolder + "logs\\" + fileName).c_str());
  CreateFolderTree(path.substr(0, path.find_last_of(L'\\')));
  return path;
}

// Appends the line, with the header first when the file is new.
int AppendLine(const std::wstring& path, const std::string& header, const std::string& line) {
  return static_cast<int>(AppendToSharedFile(path, ToTextModeLineEnds(header), ToTextModeLineEnds(line)));
}

// Logs how a CSV record went; returns its result.
int CsvOutcome(const char* fileName, int rc) {
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

// Each record's line is made first and appended last: what the line says is
// all there before the file is touched.
int WriteDownloadTransferLog(const std::string& agentFolder, const DownloadTransfer& transfer,
                             unsigned long long* downloadedBytes) {
  if (downloadedBytes) *downloadedBytes += transfer.contentLength;
  if (!AgentFolderKnown(agentFolder)) return 13;
  int rc = 13;
  try {
    // Producing the message text logs it as well.
    const std::string line = FormatDownloadTransferLine(LocalNow(), GetCurrentThreadId(), transfer,
                                                        GetErrorMessageText(transfer.result));
    rc = AppendLine(LogsFile(agentFolder, kDownloadLog), kDownloadHeader, line);
  } catch (...) {
    rc = 13;
  }
  return CsvOutcome(kDownloadLog, rc);
}

int WriteUploadTransferLog(const std::string& agentFolder, const UploadTransfer& transfer) {
  if (!AgentFolderKnown(agentFolder)) return 13;
  int rc = 13;
  try {
    const std::string line = FormatUploadTransferLine(LocalNow(), GetCurrentThreadId(), transfer);
    rc = AppendLine(LogsFile(agentFolder, kUploadLog), kUploadHeader, line);
  } catch (...) {
    rc = 13;
  }
  return CsvOutcome(kUploadLog, rc);
}

int PrintHTTPAccessLog(const std::string& agentFolder, const AccessLogEntry& entry, int result) {
  try {
    if (!AgentFolderKnown(agentFolder)) return 13;
    const std::wstring path = LogsFile(agentFolder, result == 0 ? kSuccessAccessLog : kFailureAccessLog);
    LogDebug("downloadaccesslog : %S \n", path.c_str());
    int rc = AppendLine(path, kAccessHeader, FormatAccessLogLine(entry, result, LocalNow()));
    if (rc != 0) LogError("PrintHTTPAccessLog : could not append to %S, error %d\n", path.c_str(), rc);
    return rc;
  } catch (...) {
    LogError("Error caught in PrintHTTPAccessLog");
    return 13;
  }
}

std::string AccessStartStamp() { return FormatAccessStartStamp(LocalNow()); }
