// The process-wide agent parameters and the entry points that work on them
// with their old argument lists. Each forwards to the form that takes the
// record, so the record is read in this one place.
#include "agent/agent_parameters.h"
#include "agent/custom_remarks.h"

AgentParameters& AgentParams() {
  static AgentParameters params;
  return params;
}

void ResetAgentParameters() { AgentParams() = AgentParameters(); }

StoreServerValues ReadStoreServerValues() { return ReadStoreServerValues(AgentParams()); }

LONG UpdateRZLastAccessName(const std::string& name) { return UpdateRZLastAccessName(&AgentParams(), name); }

LONG UpdateDistributionServerIPAddress(const std::string& address) {
  return UpdateDistributionServerIPAddress(&AgentParams(), address);
}

LONG UpdateDistributionLastAccessName(const std::string& name) {
  return UpdateDistributionLastAccessName(&AgentParams(), name);
}

LONG UpdateEnableDistributionServer(const std::string& value) {
  return UpdateEnableDistributionServer(&AgentParams(), value);
}

int WriteCustomPatchRemarks(const std::string& remark) {
  return WriteCustomPatchRemarks(AgentParams().RZAgentInstallDir, remark);
}
