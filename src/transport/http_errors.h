// Texts for the WinHTTP error codes the request engine meets, as the agent
// log shows them after each failed WinHTTP call.
#pragma once

#include <string>

// The fixed text for a WinHTTP code ("HttpGetLastError: " + description,
// ending with a line break), or empty when the code has no row. Pure.
std::string HttpErrorTextFromTable(long code);

// Logs the code's text at error level and returns it: the table's text, or
// for a code without a row the system's message text (GetErrorMessageText,
// which logs it with the code).
std::string HttpGetLastError(long code);
