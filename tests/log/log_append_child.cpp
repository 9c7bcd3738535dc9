// Test child: opens the agent log in the folder given and appends numbered
// lines, so two of these running at once show whether lines stay whole.
// Usage: log_append_child <folder> <tag> <count> <agent key>
// The log level is read under the agent key the test gives.
#include <cstdlib>
#include <string>

#include "log/agent_log.h"

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  if (OpenAgentLog("shared.log", argv[1], 1, argv[4]) != 0) return 3;
  int count = atoi(argv[3]);
  for (int i = 0; i < count; ++i) {
    LogInfo("%s line %05d with a body long enough to straddle a buffer now and then ................\n", argv[2], i);
  }
  CloseAgentLog();
  return 0;
}
