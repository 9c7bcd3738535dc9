#include "transport/gzip_file.h"

#include <windows.h>
#include <zlib.h>

#include "util/handles.h"

namespace {

// The inflated bytes are written a block of this size at a time.
const size_t kBlockBytes = 1024 * 1024;
const int kNotInflated = 13;

int LastErrorOr(DWORD fallback) { return static_cast<int>(GetLastError() ? GetLastError() : fallback); }

}  // namespace

bool InflateGzip(const std::string& compressed, std::string* plain) {
  if (compressed.empty()) return false;
  z_stream stream = {};
  // 31: the gzip wrapper only.
  if (inflateInit2(&stream, 31) != Z_OK) return false;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  stream.avail_in = static_cast<uInt>(compressed.size());
  std::string out;
  std::string block(64 * 1024, '\0');
  int rc = Z_OK;
  while (rc == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(&block[0]);
    stream.avail_out = static_cast<uInt>(block.size());
    rc = inflate(&stream, Z_NO_FLUSH);
    out.append(block.data(), block.size() - stream.avail_out);
  }
  inflateEnd(&stream);
  // Z_BUF_ERROR: the input ended before the stream did.
  if (rc != Z_STREAM_END) return false;
  *plain = std::move(out);
  return true;
}

int DecompressGzipFileInPlace(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info)) return LastErrorOr(ERROR_OPEN_FAILED);
  if (info.nFileSizeHigh == 0 && info.nFileSizeLow == 0) return 0;
  // Inflated a block at a time into a file beside it, which then takes its
  // place: memory stays at a few blocks whatever the body's size, and the
  // file is left as it was unless the whole stream inflated.
  std::string block(kBlockBytes, '\0');
  const std::wstring plainPath = path + L".plain";
  UniqueFile out(CreateFileW(plainPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr));
  if (!out) return LastErrorOr(ERROR_OPEN_FAILED);
  gzFile in = gzopen_w(path.c_str(), "rb");
  int rc = in ? 0 : kNotInflated;
  int read = 0;
  while (rc == 0 && (read = gzread(in, &block[0], static_cast<unsigned>(block.size()))) > 0) {
    DWORD written = 0;
    if (!WriteFile(out.get(), block.data(), static_cast<DWORD>(read), &written, nullptr) ||
        written != static_cast<DWORD>(read)) {
      rc = LastErrorOr(ERROR_WRITE_FAULT);
    }
  }
  // A failed read, a stream cut short, or a file that is no gzip at all
  // (which gzread passes through as it is) did not inflate.
  int streamError = Z_OK;
  if (in) gzerror(in, &streamError);
  if (rc == 0 && (read < 0 || streamError != Z_OK || gzdirect(in))) rc = kNotInflated;
  if (in) gzclose_r(in);
  out.reset();
  if (rc == 0 && !MoveFileExW(plainPath.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    rc = LastErrorOr(ERROR_WRITE_FAULT);
  }
  if (rc != 0) DeleteFileW(plainPath.c_str());
  return rc;
}
