// The process-wide agent parameters: the driver's one record of the run.
#include "agent/agent_parameters.h"

AgentParameters& AgentParams() {
  static AgentParameters params;
  return params;
}

void ResetAgentParameters() { AgentParams() = AgentParameters(); }
