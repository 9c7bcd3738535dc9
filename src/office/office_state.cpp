#include "office/office_state.h"

OfficeRunValues OfficeRunValuesFor(const RunOptions& options, const std::string& agentFolder) {
  OfficeRunValues run;
  run.patchId = options.patchId;
  run.installerPath = options.installerPath;
  run.channel = options.channel;
  run.clientEdition = options.clientEdition;
  run.version = options.version;
  run.productReleaseId = options.productReleaseId;
  run.agentFolder = agentFolder;
  run.packageFolder = PackageFolderFor(agentFolder, options.patchId);
  return run;
}
