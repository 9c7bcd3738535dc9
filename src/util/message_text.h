// Message texts for result codes, without logging: the layers below the log
// use these, and GetErrorMessageText (exec/error_text.h) logs on top.
#pragma once

#include <string>

// The system's message text for the code (one line, UTF-8); when the system
// has none, the program's own table, else "Unknown Error. Code : %d".
std::string GetErrorMessageTextQuiet(long code);

// The program's own table alone (empty when the code is not in it); pure.
std::string ErrorTextFromTable(long code);
