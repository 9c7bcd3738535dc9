// Whole-line appends to text files that several processes share: the agent
// log and the transfer logs are written by every process of the agent at
// once.
//
// Windows appends a write on an append-only handle whole, but not every file
// system does (Wine, some network redirectors emulate it with a seek to the
// end), so writers also take a mutex named after the file around each write.
// The wait is bounded: a writer that died holding it leaves it abandoned,
// which counts as taken, and a hung one costs a line its protection, never
// the run.
#pragma once

#include <windows.h>

#include <string>

// The name of a file's append mutex: the same for every process that names
// the same file, whatever the letter case of its path.
std::wstring AppendMutexName(const std::wstring& path);

// Holds a file's append mutex (null: none) for the scope, waiting at most two
// seconds for it.
class AppendMutexHold {
 public:
  explicit AppendMutexHold(HANDLE mutex);
  ~AppendMutexHold();
  AppendMutexHold(const AppendMutexHold&) = delete;
  AppendMutexHold& operator=(const AppendMutexHold&) = delete;

 private:
  HANDLE mutex_;
  bool held_;
};

// The text with every "\n" turned into CR LF, as a text-mode stream writes it.
std::string ToTextModeLineEnds(const std::string& text);

// One open-append-close of the file, under its append mutex: creates the file
// when it is missing and then writes `header` first, then `text`; each is one
// write. Returns 0, or the system error of the open or a write (never 0 for a
// failure). An existing file never gets the header again, and no other writer
// can slip a line between a new file's header and the first text.
unsigned long AppendToSharedFile(const std::wstring& path, const std::string& header, const std::string& text);
