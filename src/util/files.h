// File-system helpers of the lowest layer: wide paths only, no logging.
#pragma once

#include <string>

// Creates the folder itself with all its parents; 0 when it exists afterwards,
// else the system's error.
int CreateFolderTree(const std::wstring& folder);
// Whether the path names an existing folder.
bool IsDirectory(const std::wstring& path);
// Deletes a folder with everything inside; 0 on success or when absent.
// A link inside is removed as a link, never followed out of the tree.
int DeleteFolderTree(const std::wstring& folder);

// Whether a relative name stays inside the folder it is joined to: not
// absolute, no drive or ':' anywhere, no leading separator, no ".." element
// ("/" counts as a separator). An empty name stays inside. Pure.
bool IsContainedRelativePath(const std::string& name);

// Writes the text through a text-mode stream, so every "\n" lands as CR LF,
// replacing any earlier file. 0 when every byte reached the file, else the
// system's error (never 0 for a failure). `opened`, when given, tells a file
// that could not be created from one that could not be filled.
unsigned long WriteTextFile(const std::wstring& path, const std::string& text, bool* opened = nullptr);
