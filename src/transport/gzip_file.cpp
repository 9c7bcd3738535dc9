#include "transport/gzip_file.h"

#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <climits>

#include "util/handles.h"

namespace {

// Reads the whole file. 0 or the system error.
DWORD ReadWholeFile(const std::wstring& path, std::string* bytes) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return GetLastError() ? GetLastError() : ERROR_OPEN_FAILED;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) return GetLastError() ? GetLastError() : ERROR_READ_FAULT;
  if (size.QuadPart > INT_MAX) return ERROR_NOT_ENOUGH_MEMORY;
  bytes->resize(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < bytes->size()) {
    DWORD read = 0;
    if (!ReadFile(file.get(), &(*bytes)[done], static_cast<DWORD>(bytes->size() - done), &read, nullptr)) {
      return GetLastError() ? GetLastError() : ERROR_READ_FAULT;
    }
    if (read == 0) break;
    done += read;
  }
  bytes->resize(done);
  return 0;
}

DWORD WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return GetLastError() ? GetLastError() : ERROR_OPEN_FAILED;
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) || written == 0) {
      return GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
    }
    done += written;
  }
  return 0;
}

}  // namespace

bool InflateGzip(const std::string& compressed, std::string* plain) {
  if (compressed.empty()) return false;
  z_stream stream = {};
  // 31: the gzip wrapper only.
  if (inflateInit2(&stream, 31) != Z_OK) return false;
  // The output starts as large as the input and grows by half the input
  // whenever it is full.
  const size_t growth = std::max<size_t>(compressed.size() / 2, 1);
  std::string out(compressed.size(), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  stream.avail_in = static_cast<uInt>(compressed.size());
  size_t produced = 0;
  int rc = Z_OK;
  while (rc == Z_OK) {
    if (produced == out.size()) out.resize(out.size() + growth);
    stream.next_out = reinterpret_cast<Bytef*>(&out[produced]);
    stream.avail_out = static_cast<uInt>(out.size() - produced);
    rc = inflate(&stream, Z_SYNC_FLUSH);
    produced = out.size() - stream.avail_out;
    // Input used up without the stream's end: the body was cut short.
    if (rc == Z_OK && stream.avail_in == 0 && stream.avail_out != 0) rc = Z_DATA_ERROR;
    if (rc == Z_BUF_ERROR && stream.avail_out == 0) rc = Z_OK;
  }
  inflateEnd(&stream);
  if (rc != Z_STREAM_END) return false;
  out.resize(produced);
  *plain = std::move(out);
  return true;
}

int DecompressGzipFileInPlace(const std::wstring& path) {
  std::string compressed;
  DWORD error = ReadWholeFile(path, &compressed);
  if (error != 0) return static_cast<int>(error);
  if (compressed.empty()) return 0;
  std::string plain;
  if (!InflateGzip(compressed, &plain)) return 13;
  return static_cast<int>(WriteWholeFile(path, plain));
}
