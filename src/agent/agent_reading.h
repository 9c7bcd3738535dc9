// Helpers shared by the start-up readers of the agent parameters; not for
// use outside src/agent.
#pragma once

#include <windows.h>

#include <string>

#include "agent/agent_parameters.h"

namespace agent_reading {

// The text value, or nothing when it cannot be read.
OptionalText ReadText(const char* key, const char* name);
// As ReadText, logging one error line naming the reader when it is missing.
OptionalText ReadLoggedText(const char* reader, const char* key, const char* name);
// The DWORD value, or `fallback` when it cannot be read.
DWORD ReadDword(const char* key, const char* name, DWORD fallback);

// The agent's installation folder, ending with a separator: text values
// only, an empty one counting as missing.
OptionalText ReadInstallFolder(const std::string& agentKey);

// "(null)" for a missing text, as the dump shows it.
const char* Show(const OptionalText& text);

// Makes sure the user's key container of the base provider holds a signature
// and an exchange key, creating what is missing. True when it does.
bool EnsureCryptoKeyContainer();

// Reads the proxy group (ProxyEnabled must be "yes"). Always 0: a missing
// value is logged and left empty.
int ReadProxyDetails(AgentParameters& params);

// Start-up's proxy-change hook: logs and asks the agent service named
// `serviceName` to restart its on-demand process.
void OnProxyDetailsChanged(const std::string& serviceName);

}  // namespace agent_reading
