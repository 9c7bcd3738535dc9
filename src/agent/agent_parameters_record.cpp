#include "agent/agent_parameters.h"

AgentParameters& AgentParams() {
  static AgentParameters params;
  return params;
}
