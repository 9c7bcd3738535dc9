#include "agent/custom_remarks.h"

#include "agent/rz_json.h"
#include "log/agent_log.h"

std::string CustomPatchRemarksPath(const std::string& installDir) {
  // The install folder already ends with a separator; the doubled one
  // before "data" is what the agent has always used and is harmless.
  return installDir + "\\data\\" + "custom-patch-remarks.json";
}

int WriteCustomPatchRemarks(const std::string& agentFolder, const std::string& remark) {
  if (remark.empty()) {
    LogError("%s : Trying to write empty custom remarks.\n", "WriteCustomPatchRemarks");
    return 0;
  }
  std::string path = CustomPatchRemarksPath(agentFolder);
  Json::Value root(Json::objectValue);
  root["custom_remarks"] = remark;
  CRZJson json;
  if (json.WriteJSONDO(path, root) != 0) {
    LogError("%s : Failed to write CustomPatchRemarks : %s\n", "WriteCustomPatchRemarks", remark.c_str());
    return 0;
  }
  return 1;
}

int RunRemarks::Write(const std::string& agentFolder, const std::string& remark) {
  const int written = WriteCustomPatchRemarks(agentFolder, remark);
  if (written) last_ = remark;
  return written;
}
