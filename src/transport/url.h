// A URL as a value: split once where it enters (a list member, a setting, a
// redirect) into scheme, host, port and path, and handed on whole. The parts
// are wide, as WinHTTP takes them; a log line or a record converts what it
// shows.
#pragma once

#include <string>

struct Url {
  std::wstring scheme = L"https";  // "https" or "http", in the letter case it came in
  std::wstring host;
  int port = 0;
  // From the "/" that ends the host, query included; empty without one.
  std::wstring path;

  // https, in any letter case.
  bool secure() const;
};

// Splits a URL as the store's downloads take it apart: the scheme is the text
// before the first ":"; the host starts two characters after the first "//"
// (at the second character without one) and ends before the next "/"; a ":"
// in the host starts the port, read as atoi reads it; without one the port
// is 443 for https (any letter case) and 80 otherwise. Pure.
Url ParseUrl(const std::wstring& text);
