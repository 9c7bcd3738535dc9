// A small holder around JsonCpp for the agent's JSON files: the remark file
// is written with it and the package-file list is read with it.
#pragma once

#include <json/json.h>

#include <string>

class CRZJson {
 public:
  CRZJson() = default;

  // Writes the value with the styled stream writer (tab indentation, CR LF
  // line ends, a final line break). The file is replaced atomically: the text
  // goes to a temporary file in the same folder, which then takes the old
  // file's place, so a reader never sees half a document.
  // 0 on success, 13 on failure (the old file is then left as it was).
  int WriteJSONDO(const std::string& path, const Json::Value& value);

  // Reads and parses the file (comments allowed). 0 on success; 2 when the
  // file is missing, unreadable or its text is empty (up to the first zero
  // byte); 13 when the text does not parse. `value` is untouched on failure.
  int LoadJSONDO(const std::string& path, Json::Value* value);

 private:
  // The whole file text up to its first zero byte; empty when it cannot be read.
  std::string FileToString(const std::string& path);
  int StringToValue(const std::string& text, Json::Value* value);

  Json::Value root_;
  std::string text_;
};
