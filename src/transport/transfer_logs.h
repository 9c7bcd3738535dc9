// The transfer logs: plain-text records of what the request engine fetched
// and sent, kept in the agent's logs folder beside the agent log.
//
// - "logs\rzdatatransferdown.log": one CSV line per download;
// - "logs\rzdatatransferup.log": one CSV line per upload;
// - "logs\downloadSuccessAccess.log" and "logs\downloadFailureAccess.log":
//   one access line per resumable download, by its result.
//
// The files only grow. Every process of the agent appends to them, so each
// record is one open-append-close of whole lines (util/shared_append.h), and
// a new file gets its header exactly once. Text fields are UTF-8; line feeds
// land as CR LF, as in the agent's other logs.
#pragma once

#include <windows.h>

#include <string>

#include "transport/request_options.h"

// What a download record tells: the request as it was made, the length the
// server announced (0 when none) and the call's result.
struct DownloadTransfer {
  std::string server;
  int port = 0;
  std::string urlPath;
  // Empty for requests that fetch data into memory.
  std::string destination;
  unsigned long long contentLength = 0;
  int result = 0;
};

struct UploadTransfer {
  std::string server;
  int port = 0;
  std::string urlPath;
  int length = 0;
  int result = 0;
  // The message text the caller reports with the result.
  std::string message;
};

// What an access record tells about one resumable download. The download's
// handler fills it: the start stamp when it is created (AccessStartStamp),
// the rest as the download goes.
struct AccessLogEntry {
  std::string startStamp;
  std::string server;
  int port = 0;
  std::string urlPath;
  // A download of a file, or anything else, which gets data.
  RequestKind requestType = RequestKind::kGetData;
  unsigned long long contentLength = 0;
  unsigned long long receivedBytes = 0;
};

// Every record goes to the logs folder of `agentFolder` (the agent folder,
// ending with a separator).
//
// Appends the download's CSV line (ERRORMESSAGE is the result's message
// text, logged as GetErrorMessageText does) and adds the announced length to
// `*downloadedBytes` (unless null), whether or not the line is written.
// Returns 0; 13 when the agent folder is unknown (nothing is written); else
// the system error of the file.
int WriteDownloadTransferLog(const std::string& agentFolder, const DownloadTransfer& transfer,
                             unsigned long long* downloadedBytes);
// The same for an upload, with the caller's message text.
int WriteUploadTransferLog(const std::string& agentFolder, const UploadTransfer& transfer);
// Appends the access line of a finished download to the success file for
// result 0 and to the failure file otherwise. Returns 0; 13 when the agent
// folder is unknown or the line cannot be made; else the system error.
int PrintHTTPAccessLog(const std::string& agentFolder, const AccessLogEntry& entry, int result);

// The start stamp for an access line, made from the local time now.
std::string AccessStartStamp();

// --- pure pieces, exposed for tests ---
// "26-12-08" and "14:05:09": the last two digits of each part.
std::string TransferLogDate(const SYSTEMTIME& local);
std::string TransferLogTime(const SYSTEMTIME& local);
// The CSV lines, each ending with "\n".
std::string FormatDownloadTransferLine(const SYSTEMTIME& local, DWORD threadId, const DownloadTransfer& transfer,
                                       const std::string& message);
std::string FormatUploadTransferLine(const SYSTEMTIME& local, DWORD threadId, const UploadTransfer& transfer);
std::string FormatAccessStartStamp(const SYSTEMTIME& local);
// The FILE_NAME column: the URL path's last non-empty element, split at "\"
// when a backslash follows the first character, else at "/"; "--" when
// there is none.
std::string AccessLogFileName(const std::string& urlPath);
// The access line, starting with its line break; `end` gives END_TIME.
std::string FormatAccessLogLine(const AccessLogEntry& entry, int result, const SYSTEMTIME& end);
