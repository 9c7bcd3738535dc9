// Pure pieces of the transport: pacing, the wall-clock difference, the
// Content-Length fallback, temporary names and gzip inflation.
#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>
#include <zlib.h>

#include <string>

#include "transport/gzip_file.h"
#include "transport/request_engine.h"
#include "transport/resume_download.h"

namespace {

SYSTEMTIME At(int hour, int minute, int second, int ms) {
  SYSTEMTIME t = {};
  t.wHour = static_cast<WORD>(hour);
  t.wMinute = static_cast<WORD>(minute);
  t.wSecond = static_cast<WORD>(second);
  t.wMilliseconds = static_cast<WORD>(ms);
  return t;
}

std::string Gzip(const std::string& text) {
  z_stream stream = {};
  deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, static_cast<uLong>(text.size())) + 32, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

}  // namespace

TEST(Pacing, SleepsByElapsedTime) {
  const struct {
    long long elapsed;
    DWORD window;
    DWORD block;
  } cases[] = {
      {0, 1000, 600}, {449, 551, 151}, {450, 550, 100}, {899, 101, 100}, {900, 100, 100}, {5000, 100, 100},
      {-20, 1000, 600},  // a clock that went back counts as no time
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WindowPacingSleepMs(c.elapsed), c.window) << c.elapsed;
    EXPECT_EQ(BlockPacingSleepMs(c.elapsed), c.block) << c.elapsed;
  }
  EXPECT_EQ(WallClockElapsedMs(At(10, 0, 59, 900), At(10, 1, 0, 100)), 200);
  // 18:12:15 is second 65535 of the day: the 16-bit difference still holds.
  EXPECT_EQ(WallClockElapsedMs(At(18, 12, 14, 500), At(18, 12, 16, 0)), 1500);
}

TEST(ResponseRules, ContentLengthTextAndNames) {
  unsigned long long length = 0;
  EXPECT_TRUE(ContentLengthFromRawHeaders(L"HTTP/1.1 200 OK\r\ncontent-length:  5368709120\r\n\r\n", &length));
  EXPECT_EQ(length, 5368709120ULL);
  EXPECT_FALSE(ContentLengthFromRawHeaders(L"HTTP/1.1 200 OK\r\nContent-Type: x\r\n\r\n", &length));
  EXPECT_FALSE(ContentLengthFromRawHeaders(L"Content-Length: x12\r\n", &length));
  EXPECT_FALSE(ContentLengthFromRawHeaders(L"Content-Length: 99999999999999999999999\r\n", &length));
  unsigned long long first = 0;
  unsigned long long last = 0;
  EXPECT_TRUE(ParseContentRange(L"bytes 40000-99999/100000", &first, &last));
  EXPECT_EQ(first, 40000u);
  EXPECT_EQ(last, 99999u);
  EXPECT_TRUE(ParseContentRange(L"bytes 0-0/*", &first, &last));
  EXPECT_FALSE(ParseContentRange(L"bytes */100000", &first, &last));  // a 416's range names no bytes
  EXPECT_FALSE(ParseContentRange(L"bytes 9-3/100", &first, &last));
  EXPECT_TRUE(HeaderNamesGzip(L"x-custom, GZip"));
  EXPECT_FALSE(HeaderNamesGzip(L"deflate"));
  EXPECT_EQ(TemporaryFilePath(RequestKind::kDownloadFile, L"C:\\a\\file.bin", L"C:\\t", 42), L"C:\\a\\file.bin42.tmp");
  EXPECT_EQ(TemporaryFilePath(RequestKind::kGetData, L"", L"C:\\t", 42), L"C:\\t\\rz42.tmp");
}

TEST(GzipInflate, WholeStreamsOnly) {
  std::string text(300000, 'a');
  for (size_t i = 0; i < text.size(); i += 7) text[i] = static_cast<char>('a' + i % 26);
  const std::string packed = Gzip(text);
  std::string plain = "untouched";
  ASSERT_TRUE(InflateGzip(packed, &plain));  // grows its buffer well past the input size
  EXPECT_EQ(plain, text);

  plain = "untouched";
  EXPECT_FALSE(InflateGzip(packed.substr(0, packed.size() / 2), &plain));  // cut short
  EXPECT_FALSE(InflateGzip("not gzip at all", &plain));
  EXPECT_FALSE(InflateGzip("", &plain));
  EXPECT_EQ(plain, "untouched");
}

// A large answer on disk is inflated a block at a time: the process's peak
// grows by far less than the body, which a whole-file inflate needs twice.
TEST(GzipInflate, FileInflatesInBoundedMemory) {
  const size_t kMiB = 1024 * 1024;
  wchar_t folder[MAX_PATH + 1] = L"";
  GetTempPathW(MAX_PATH + 1, folder);
  const std::wstring path = std::wstring(folder) + L"gzip-bounded.bin";
  std::string block(kMiB, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7 % 251);
  gzFile packed = gzopen_w(path.c_str(), "wb");
  ASSERT_NE(packed, nullptr);
  for (int i = 0; i < 64; ++i) gzwrite(packed, block.data(), static_cast<unsigned>(block.size()));
  gzclose(packed);

  PROCESS_MEMORY_COUNTERS before = {};
  K32GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof(before));
  EXPECT_EQ(DecompressGzipFileInPlace(path), 0);
  PROCESS_MEMORY_COUNTERS after = {};
  K32GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof(after));
  EXPECT_LT(after.PeakWorkingSetSize - before.PeakWorkingSetSize, 16 * kMiB);
  WIN32_FILE_ATTRIBUTE_DATA info = {};
  EXPECT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info));
  EXPECT_EQ(info.nFileSizeLow, 64 * kMiB);
  DeleteFileW(path.c_str());
}

TEST(ResumeStart, RecordAndTemporaryFileDecideTheOffset) {
  // A usable record of a 1000-byte body, unless a row says otherwise.
  enum class Record { kUsable, kBodyWithoutLength, kUnusable };
  const long long kFresh = -1;
  const struct {
    const char* what;
    unsigned long long recorded, file;
    long long offset;  // where the download resumes, or kFresh
    Record record = Record::kUsable;
  } cases[] = {
      {"the file matches its record", 400, 400, 400},
      {"flushed after the record was written", 400, 500, 500},
      {"less than recorded: start over", 400, 300, kFresh},
      {"more than the whole body", 400, 1200, kFresh},
      {"no length to hold it to", 400, 900, 900, Record::kBodyWithoutLength},
      {"a record beyond the body", 1200, 1200, kFresh},
      {"no record, or another Last-Modified", 400, 400, kFresh, Record::kUnusable},
  };
  for (const auto& c : cases) {
    const bool lengthKnown = c.record != Record::kBodyWithoutLength;
    ResumeDecision decision =
        DecideResumeStart(c.record != Record::kUnusable, c.recorded, c.file, lengthKnown, lengthKnown ? 1000 : 0);
    EXPECT_EQ(decision.resume, c.offset != kFresh) << c.what;
    EXPECT_EQ(decision.offset, c.offset == kFresh ? 0u : static_cast<unsigned long long>(c.offset)) << c.what;
  }
  EXPECT_EQ(NextBlockRange(4000, 2000, true, 5000).last, 4999u);
  EXPECT_EQ(NextBlockRange(0, 2000, true, 5000).last, 1999u);
  EXPECT_EQ(NextBlockRange(8000, 2000, false, 0).last, 9999u);  // no length: whole blocks until the end
}
