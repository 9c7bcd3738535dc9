// Turns a result code into the one-line remark text reported to the server.
#pragma once

#include <string>

#include "util/message_text.h"

// GetErrorMessageTextQuiet's text, also logged through LogErrorCode: error
// level for a non-zero code, info level for 0.
std::string GetErrorMessageText(long code);
