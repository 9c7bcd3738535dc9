// Requests the agent makes of its own servers through the engine: a probe
// of one explicit address, the choice of a reachable distribution server
// address, and the if-modified-since download from the current server.
#pragma once

#include <string>

// A get-data request (11001) for `urlPath` to one address, with the agent's
// proxy when ProxyEnabled is "yes". The body lands in `body` when given.
// Returns the engine's result.
int InternetGetDataOnlyWithAddress(const std::string& address, const std::string& protocol, int port,
                                   const std::string& urlPath, std::string* body);

// The first address of a comma-separated distribution server list that
// answers a probe for "testfile.file" (0 or 404), else the last one; a list
// without a comma is returned as it is, without any request.
std::string validateDSIPAddress(const std::string& addressList);

// Downloads `urlPath` from the agent's current server (the distribution
// server when one serves this agent, else the management server) to
// `destination`, sending the time stored under `valueName` in the
// if-modified key. 0 stores the new Last-Modified there; 90001 means
// unchanged; anything else is the engine's failure. `strict` is accepted
// for the certificate callers and changes nothing here.
int InternetDownloadFileIfmodifiedSince(const std::string& urlPath, const std::string& destination,
                                        const std::string& valueName, int strict);

// Tries the agent's current server without the proxy (a get-data request
// for `urlPath`) and records in ConnectWithoutProxy (server key) whether it
// answered: 400, 12002, 12005, 12007 and 12029 mean it did not. Returns the
// request's result.
int CheckConnectivityWithProxyDisabled(const std::string& urlPath);
