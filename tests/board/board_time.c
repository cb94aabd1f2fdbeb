/* Guest side of the board tests: times a program.
 *   board-time RUNS [-o FILE] PROGRAM [ARG...]
 * Runs PROGRAM RUNS times (its standard output into FILE with -o), and
 * prints the fastest and the median wall time in milliseconds. Exits 1
 * when any run fails, naming how; a run is killed after 60 s. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static volatile pid_t g_child;
static volatile sig_atomic_t g_timedOut;

static void OnAlarm(int sig) {
  (void)sig;
  g_timedOut = 1;
  if (g_child > 0) kill(g_child, SIGKILL);
}

static int Less(const void *a, const void *b) {
  const double x = *(const double *)a, y = *(const double *)b;
  return x < y ? -1 : x > y;
}

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: board-time RUNS [-o FILE] PROGRAM [ARG...]\n");
    return 2;
  }
  const int runs = atoi(argv[1]);
  int first = 2;
  const char *out = NULL;
  if (!strcmp(argv[first], "-o") && argc > 4) {
    out = argv[first + 1];
    first += 2;
  }
  if (runs < 1 || runs > 100) return 2;
  double ms[100];
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnAlarm;
  sigaction(SIGALRM, &sa, NULL);
  for (int i = 0; i < runs; ++i) {
    const double start = Now();
    const pid_t pid = fork();
    if (pid < 0) return 1;
    if (pid == 0) {
      if (out) {
        const int fd = open(out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || dup2(fd, 1) < 0) _exit(126);
        close(fd);
      }
      execvp(argv[first], argv + first);
      _exit(127);
    }
    g_child = pid;
    alarm(60);
    int status;
    pid_t r;
    do r = waitpid(pid, &status, 0);
    while (r < 0 && errno == EINTR);
    alarm(0);
    if (r != pid) return 1;
    ms[i] = Now() - start;
    if (g_timedOut) {
      printf("failed run %d: killed after 60 s\n", i + 1);
      return 1;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      printf("failed run %d: %s %d\n", i + 1,
             WIFEXITED(status) ? "exit" : "signal",
             WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
      return 1;
    }
  }
  qsort(ms, (size_t)runs, sizeof ms[0], Less);
  printf("%.0f %.0f\n", ms[0], ms[runs / 2]);
  return 0;
}
