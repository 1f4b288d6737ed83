// minisup: the smallest useful supervisor, the yardstick for the agent's relaunch figures.
//
//   minisup PROGRAM [ARGUMENT...]
//
// Starts PROGRAM with this process's environment and starts it again each time it ends, at
// once, deciding nothing. One restart costs about ten system calls: the wake-up from poll on the
// child's pidfd, waitid, close, posix_spawn (clone with vfork semantics, and the signal-mask
// calls around it), pidfd_open, poll. It stops when PROGRAM can't be started, or exits with 127
// (the status posix_spawn gives a program that failed to exec), and on SIGTERM or SIGINT (the
// running child is left running).
#define _GNU_SOURCE
#include <errno.h>
#include <poll.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: minisup PROGRAM [ARGUMENT...]\n");
    return 2;
  }
  for (;;) {
    pid_t pid = -1;
    int failed = posix_spawn(&pid, argv[1], NULL, NULL, argv + 1, environ);
    if (failed != 0) {
      fprintf(stderr, "minisup: %s: %s\n", argv[1], strerror(failed));
      return 1;
    }
    int pidfd = (int)syscall(SYS_pidfd_open, pid, 0);
    if (pidfd < 0) {
      perror("minisup: pidfd_open");
      return 1;
    }
    struct pollfd ended = {.fd = pidfd, .events = POLLIN, .revents = 0};
    while (poll(&ended, 1, -1) < 0 && errno == EINTR) {
    }
    siginfo_t info;
    memset(&info, 0, sizeof info);
    if (waitid(P_PIDFD, (id_t)pidfd, &info, WEXITED) != 0) {
      perror("minisup: waitid");
      return 1;
    }
    close(pidfd);
    if (info.si_code == CLD_EXITED && info.si_status == 127) {
      fprintf(stderr, "minisup: %s could not be run\n", argv[1]);
      return 1;
    }
  }
}
