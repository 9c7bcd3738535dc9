// The agent's settings, read once at start-up into one process-wide record.
#pragma once

#include <string>

struct AgentParameters {
  // Agent installation folder; ends with a path separator.
  std::string RZAgentInstallDir;
  // Local computer name, from the operating system.
  std::string gv_localComputerName;
  // "yes" (any case) when a distribution server serves this agent.
  std::string EnableDistributionServer;
};

// The process-wide record.
AgentParameters& AgentParams();

// Fills the record from the agent's registry keys. 0 on success, 13 when a
// required value is missing.
int InitializeAgentParameters();
