// The request entry points as the agent's library names them, with the
// argument lists its callers know: thin adapters that gather the arguments
// into a request target and hand it to the engine (request_engine.h). The
// run's settings and state come last.
#pragma once

#include <string>

#include "transport/request_engine.h"

// A GET of the URL path: into memory (`memoryOut`) for request type 11001,
// to the destination for 11003. With `bandwidth` set the body is paced by
// windows of DataTransferRate_KBps x 1000 bytes; with DownloadMode 1 a file
// download resumes (unless `noResume`). Results as InternetGetDownload.
int InternetGetRequestEx(int useProxy, const char* protocol, const wchar_t* server, int port,
                         const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                         const wchar_t* proxyPassword, const wchar_t* urlPath, const wchar_t* destinationPath,
                         std::string* memoryOut, int requestType, int keepAlive, HttpRequestOptions* options,
                         int bandwidth, int noResume, const TransferSettings& settings, TransferRunState* run);

// The bandwidth-limited sibling, same arguments and results: the window
// method (InternetGetRequestEx with the bandwidth flag), or the block method
// as the settings choose (InternetGetRequestLimited).
int InternetGetRequestByBitrate(int useProxy, const char* protocol, const wchar_t* server, int port,
                                const wchar_t* proxyServer, const wchar_t* proxyBypass, const wchar_t* proxyUser,
                                const wchar_t* proxyPassword, const wchar_t* urlPath, const wchar_t* destinationPath,
                                std::string* memoryOut, int requestType, int keepAlive, HttpRequestOptions* options,
                                int bandwidth, int noResume, const TransferSettings& settings,
                                TransferRunState* run);

