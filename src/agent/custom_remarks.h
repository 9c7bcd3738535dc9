// The remark file: one short text the agent hands to the server with the
// deployment's exit code.
#pragma once

#include <string>

// Replaces "<agent folder>\data\custom-patch-remarks.json" with the remark.
// 1 when written, 0 otherwise (an empty remark leaves the file alone).
int WriteCustomPatchRemarks(const std::string& agentFolder, const std::string& remark);

// The remarks one run writes, and the last of them. A general remark must
// not replace a more specific one of the same run, while a file left by an
// earlier run says nothing about this one; the run's closing line names the
// last.
class RunRemarks {
 public:
  // WriteCustomPatchRemarks; a written remark is remembered.
  int Write(const std::string& agentFolder, const std::string& remark);
  bool Written() const { return !last_.empty(); }
  // Empty when the run wrote none.
  const std::string& Last() const { return last_; }

 private:
  std::string last_;
};

// "<install dir>\data\custom-patch-remarks.json" ("%s%s%s"; the install
// folder ends with a separator, so the separator before "data" is doubled).
std::string CustomPatchRemarksPath(const std::string& installDir);
