// Cost of one agent-log line, written by one thread and by two threads at
// once, and the cost of rotating a log at the threshold. Prints figures;
// never fails on them.
//   log_throughput <folder> [lines]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "bench_clock.h"
#include "log/agent_log.h"
#include "log/log_rotation.h"

namespace {

void WriteLines(int count, const char* who) {
  for (int i = 0; i < count; ++i) {
    LogInfo("%s : line %d of the benchmark, about as long as a typical deployment line \n", who, i);
  }
}

// Milliseconds to write `lines` lines spread over `threads` threads.
double TimeWrites(const std::string& folder, const char* file, int lines, int threads) {
  OpenAgentLog(file, folder.c_str(), 2);
  double start = NowMs();
  if (threads == 1) {
    WriteLines(lines, "main");
  } else {
    std::thread a(WriteLines, lines / 2, "one");
    std::thread b(WriteLines, lines / 2, "two");
    a.join();
    b.join();
  }
  double elapsed = NowMs() - start;
  CloseAgentLog();
  return elapsed;
}

// Milliseconds for one rotation of a log at the threshold with four backups
// beside it: the copies, the deletions and the truncation.
double TimeRotation(const std::string& folder) {
  const std::string big(2000000, 'x');
  for (const char* name : {"rotate.log", "rotate1.log", "rotate2.log", "rotate3.log", "rotate4.log"}) {
    FILE* file = fopen((folder + "\\" + name).c_str(), "wb");
    if (!file) return -1;
    fwrite(big.data(), 1, big.size(), file);
    fclose(file);
  }
  double start = NowMs();
  RotateLoggerForEverRunningProcess(folder, "rotate.log", 5, 2000000);
  return NowMs() - start;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: log_throughput <folder> [lines]\n");
    return 2;
  }
  const std::string folder = argv[1];
  const int lines = argc > 2 ? atoi(argv[2]) : 20000;
  TimeWrites(folder, "warmup.log", 1000, 1);
  double one = TimeWrites(folder, "one_thread.log", lines, 1);
  double two = TimeWrites(folder, "two_threads.log", lines, 2);
  printf("RESULT log_line_one_thread_us=%.2f (%d lines in %.1f ms)\n", 1000.0 * one / lines, lines, one);
  printf("RESULT log_line_two_threads_us=%.2f (%d lines in %.1f ms)\n", 1000.0 * two / lines, lines, two);
  printf("RESULT log_rotation_at_threshold_ms=%.1f\n", TimeRotation(folder));
  return 0;
}
