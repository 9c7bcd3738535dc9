// Turns a result code into the one-line remark text reported to the server.
#pragma once

#include <string>

// The system's message text for the code (one line, UTF-8); when the system
// has none, the program's own table, else "Unknown Error. Code : %d".
// Also logs the code: error level for non-zero, info level for 0.
std::string GetErrorMessageText(long code);

// The same text without logging it (for callers that log their own line).
std::string GetErrorMessageTextQuiet(long code);

// The program's own table alone (empty when the code is not in it); pure.
std::string ErrorTextFromTable(long code);
