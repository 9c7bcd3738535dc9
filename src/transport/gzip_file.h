// Gzip answers are decompressed by the engine itself (WinHTTP's own
// decompression option is not available everywhere).
#pragma once

#include <string>

// Inflates a complete gzip stream (the gzip wrapper only). True when the
// stream ended cleanly; `plain` is untouched otherwise. Pure.
bool InflateGzip(const std::string& compressed, std::string* plain);

// Replaces the file's gzip body by its inflated bytes, inflated a block at a
// time into a file beside it that is moved over it. 0 on success (an
// empty file counts as success and is left as it is), else a non-zero code:
// the system error of a file operation, or 13 for a stream that does not
// inflate. The file is left as it was on failure.
int DecompressGzipFileInPlace(const std::wstring& path);
