// File helpers shared by every subsystem. Narrow paths are UTF-8 and reach
// the file system through the wide functions.
#pragma once

#include <string>

#include "util/files.h"

// 1 when the file opens for reading and is not empty, else 0.
int IsFileExist(const char* path);
// 0 when a directory search finds the path, 2 when it does not.
int CheckFileExists(const char* path);
// Wide form: 0 when found, 13 when absent.
int CheckFileExists(const wchar_t* path);
// Creates the folder that contains the path, with every missing level.
// 0 on success (also when it exists), 13 for a null path, 183 when the parent
// is only a drive, otherwise the system's error code.
int CreateFolder(const wchar_t* path);
