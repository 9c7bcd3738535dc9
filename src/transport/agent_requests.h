// Requests the agent makes of its own servers through the engine: a probe
// of one explicit address, the choice of a reachable distribution server
// address, and the if-modified-since download from the current server.
#pragma once

#include <string>

#include "transport/transfer_settings.h"
#include "transport/url.h"

// A get-data request (11001) for the URL's path to its host, with the
// agent's proxy when it is enabled. The body lands in `body` when given.
// Returns the engine's result.
int InternetGetDataOnlyWithAddress(const TransferSettings& settings, TransferRunState* run, const Url& address,
                                   std::string* body);

// The first address of a comma-separated distribution server list that
// answers a probe for "testfile.file" (0 or 404), else the last one; a list
// without a comma is returned as it is, without any request. Sets the DS
// port of the run from the distribution server's settings.
std::string validateDSIPAddress(const TransferSettings& settings, TransferRunState* run,
                                const std::string& addressList);

// Downloads `urlPath` from the agent's current server (the distribution
// server when one serves this agent, else the management server) to
// `destination`, sending the time stored under `valueName` in the
// if-modified key. 0 stores the new Last-Modified there; 90001 means
// unchanged; anything else is the engine's failure. `strict` is accepted
// for the certificate callers and changes nothing here.
int InternetDownloadFileIfmodifiedSince(const TransferSettings& settings, TransferRunState* run,
                                        const std::string& urlPath, const std::string& destination,
                                        const std::string& valueName, int strict);

// Tries the agent's current server without the proxy (a get-data request
// for `urlPath`) and records in ConnectWithoutProxy (server key) whether it
// answered: 400, 12002, 12005, 12007 and 12029 mean it did not. Returns the
// request's result.
int CheckConnectivityWithProxyDisabled(const TransferSettings& settings, TransferRunState* run,
                                       const std::string& urlPath);
