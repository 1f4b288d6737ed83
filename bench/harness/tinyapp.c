// tinyapp: the main application as the relaunch benchmark sees it.
//
// On start it reads CLOCK_MONOTONIC, first thing, and writes "PID SECONDS.NANOSECONDS\n" in one
// write to the FIFO named by ZELTO_BENCH_REPORT (when set; a FIFO nobody reads is skipped, never
// waited for). Then it sleeps until a signal ends it. The harness takes its kill time from the
// same clock just before kill(), so the difference is the relaunch latency.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

int main(void) {
  struct timespec started;
  clock_gettime(CLOCK_MONOTONIC, &started);
  const char* report = getenv("ZELTO_BENCH_REPORT");
  if (report != NULL && report[0] != '\0') {
    int fd = open(report, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      char line[64];
      int length = snprintf(line, sizeof line, "%ld %lld.%09ld\n", (long)getpid(),
                            (long long)started.tv_sec, started.tv_nsec);
      if (length > 0 && write(fd, line, (size_t)length) < 0) perror("tinyapp: report");
      close(fd);
    }
  }
  for (;;) pause();
}
