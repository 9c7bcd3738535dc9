#include "transport/transfer_logs.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>
#include <vector>

#include "support/test_support.h"

using testing_support::ReadTextFile;
using testing_support::TempDir;

namespace {

SYSTEMTIME Local(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
  SYSTEMTIME t = {};
  t.wYear = year;
  t.wMonth = month;
  t.wDay = day;
  t.wHour = hour;
  t.wMinute = minute;
  t.wSecond = second;
  return t;
}

std::string Blanks(size_t count) { return std::string(count, ' '); }

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  std::string part;
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

const char kChannel[] = "\xE9\x80\x9A\xE9\x81\x93";  // two CJK characters, three bytes each

}  // namespace

TEST(TransferLogLines, ColumnsAndWidths) {
  const SYSTEMTIME start = Local(2026, 12, 8, 14, 5, 9);
  const std::string stamp = FormatAccessStartStamp(start);
  const RequestKind download = RequestKind::kDownloadFile;
  AccessLogEntry file{stamp, "127.0.0.1", 8383, "/store/office/7/file.cab", download, 2000, 1500};
  AccessLogEntry data{stamp, "srv", 443, "/a/b/", RequestKind::kGetData, 0, 0};
  AccessLogEntry wide{stamp, "srv", 443, std::string("/p/") + kChannel + ".exe", download, 0, 0};
  struct Row {
    std::string got, want;
  } rows[] = {
      // Two digits of each part, also for a year past 2099 and single digits.
      {TransferLogDate(Local(2105, 3, 4, 0, 7, 5)) + " " + TransferLogTime(Local(2105, 3, 4, 0, 7, 5)),
       "05-03-04 00:07:05"},
      // The length is 64-bit.
      {FormatDownloadTransferLine(start, 3312, {"dist", 8383, "/store/office/7/v.cab", "C:\\A\\v.cab", 5000000000ULL,
                                                90001},
                                  "msg"),
       "26-12-08,14:05:09,3312,dist,8383,/store/office/7/v.cab,C:\\A\\v.cab,5000000000,90001,msg\n"},
      {FormatUploadTransferLine(start, 7, {"srv", 443, "/servlet/x", 12, 12029, "boom"}),
       "26-12-08,14:05:09,7,srv,443,/servlet/x,12,12029,boom\n"},
      {stamp, "\n 26-12-08\t\t  14:05:09\t"},
      {FormatAccessLogLine(file, 12002, Local(2026, 12, 8, 14, 7, 30)),
       "\n " + stamp + "\t\t" + Blanks(22) + "file.cab\tDownloadFile\t      2000\t12002\t      1500\t  14:07:30\t\t" +
           Blanks(6) + "127.0.0.1\t  8383\t/store/office/7/file.cab"},
      {FormatAccessLogLine(data, 0, start), "\n " + stamp + "\t\t" + Blanks(29) + "b\t" + Blanks(5) +
                                                "GetData\t         0\t    0\t         0\t  14:05:09\t\t" +
                                                Blanks(12) + "srv\t   443\t/a/b/"},
      // Widths count characters, not UTF-8 bytes.
      {Split(FormatAccessLogLine(wide, 0, start), '\t')[5], Blanks(24) + kChannel + ".exe"},
      // FILE_NAME: the last non-empty element; backslashes split only when
      // one follows the first character.
      {AccessLogFileName("/store/office/7/"), "7"},
      {AccessLogFileName("///"), "--"},
      {AccessLogFileName(""), "--"},
      {AccessLogFileName("\\\\srv\\share\\a.bin"), "a.bin"},
      {AccessLogFileName("/x/y\\z"), "z"},
      {AccessLogFileName("\\x/y"), "y"},
  };
  for (const Row& row : rows) EXPECT_EQ(row.got, row.want);
}

TEST(TransferLogs, NewFilesGetOneHeaderAndRecordsAppendWholeLines) {
  TempDir agent(std::string("transfer_logs_Gr\xC3\xBC\xC3\x9F") + "e");
  const std::string folder = agent.path() + "\\";
  unsigned long long total = 0;

  // Downloads: the first creates the folder and the file with its header.
  const std::string destination = std::string("C:\\A\\") + kChannel + ".exe";
  EXPECT_EQ(WriteDownloadTransferLog(folder, {"dist", 8383, "/store/v.cab", destination, 5000000000ULL, 0}, &total), 0);
  EXPECT_EQ(WriteDownloadTransferLog(folder, {"dist", 8383, "/store/w.cab", "", 0, 90001}, &total), 0);
  std::vector<std::string> lines = Split(ReadTextFile(agent / "logs\\rzdatatransferdown.log"), '\n');
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "DATE,TIME,THREAD,SERVER,PORT,URL,DESTINATION,LENGTH,ERROR,ERRORMESSAGE");
  EXPECT_EQ(lines[1], "");
  std::vector<std::string> first = Split(lines[2], ',');
  ASSERT_EQ(first.size(), 10u) << lines[2];
  EXPECT_EQ(first[6], destination);
  EXPECT_EQ(first[7], "5000000000");
  EXPECT_FALSE(first[9].empty());
  EXPECT_EQ(Split(lines[3], ',')[8], "90001");
  EXPECT_EQ(total, 5000000000ULL);

  // Uploads from two threads into a new file: still one header, no line cut.
  auto uploads = [&folder] {
    for (int i = 0; i < 40; ++i) EXPECT_EQ(WriteUploadTransferLog(folder, {"srv", 443, "/servlet/x", i, 0, "done"}), 0);
  };
  std::thread a(uploads), b(uploads);
  a.join();
  b.join();
  const std::string up = ReadTextFile(agent / "logs\\rzdatatransferup.log");
  EXPECT_EQ(up.find("DATE,TIME,THREAD,SERVER,PORT,URL,LENGTH,ERROR,ERRORMESSAGE\n\n"), 0u);
  EXPECT_EQ(Count(up, "DATE,"), 1u);
  lines = Split(up, '\n');
  ASSERT_EQ(lines.size(), 82u);
  for (size_t i = 2; i < lines.size(); ++i) EXPECT_EQ(Split(lines[i], ',').size(), 9u) << lines[i];

  // Access records go by result; each file starts with the 262-character header.
  AccessLogEntry entry{AccessStartStamp(), "127.0.0.1", 8383, "/store/file.cab", RequestKind::kDownloadFile,
                       2000, 2000};
  EXPECT_EQ(PrintHTTPAccessLog(folder, entry, 0), 0);
  EXPECT_EQ(PrintHTTPAccessLog(folder, entry, 0), 0);
  entry.receivedBytes = 700;
  EXPECT_EQ(PrintHTTPAccessLog(folder, entry, 12002), 0);
  const std::string success = testing_support::ReadFileBytes(agent / "logs\\downloadSuccessAccess.log");
  const std::string failure = ReadTextFile(agent / "logs\\downloadFailureAccess.log");
  EXPECT_EQ(success.find("PORT\tURL\r\n" + std::string(142, '-') + "\r\n \r\n "), 111u);
  EXPECT_EQ(Count(success, "\tDownloadFile\t"), 2u);
  EXPECT_EQ(failure.find(std::string(142, '-') + "\n \n "), 120u);
  EXPECT_NE(failure.find("\t      2000\t12002\t       700\t"), std::string::npos);

  // Without an agent folder nothing is written anywhere, and the call says so.
  EXPECT_EQ(WriteDownloadTransferLog("", {"dist", 8383, "/store/x.cab", "", 10, 0}, &total), 13);
  EXPECT_EQ(PrintHTTPAccessLog("", entry, 0), 13);
  EXPECT_EQ(total, 5000000010ULL);
}
