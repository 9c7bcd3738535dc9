#include "exec/error_text.h"

#include "log/agent_log.h"

std::string GetErrorMessageText(long code) {
  LogErrorCode(code);
  return GetErrorMessageTextQuiet(code);
}
