#include "child.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kfault {
namespace {

int TempFile() {
  char tmpl[] = "/tmp/kestrel-child-XXXXXX";
  const int fd = mkstemp(tmpl);
  if (fd >= 0) unlink(tmpl);
  return fd;
}

std::string ReadAll(int fd) {
  std::string text;
  char buf[4096];
  lseek(fd, 0, SEEK_SET);
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, size_t(n));
  close(fd);
  return text;
}

}  // namespace

ChildOutcome RunInChild(const std::function<std::string()> &body) {
  ChildOutcome outcome;
  const int printed = TempFile();
  const int report = TempFile();
  if (printed < 0 || report < 0) {
    outcome.failure = "no temporary file";
    return outcome;
  }
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    outcome.failure = "fork failed";
    close(printed);
    close(report);
    return outcome;
  }
  if (pid == 0) {
    dup2(printed, 1);
    dup2(printed, 2);
    close(printed);
    const std::string failure = body();
    fflush(nullptr);
    if (!failure.empty() && write(report, failure.data(), failure.size()) < 0) {
    }
    _exit(failure.empty() ? 0 : 1);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  outcome.exited = WIFEXITED(status);
  outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  outcome.printed = ReadAll(printed);
  outcome.failure = ReadAll(report);
  if (outcome.exited && WEXITSTATUS(status) != 0 && outcome.failure.empty())
    outcome.failure = "child failed without a report";
  return outcome;
}

}  // namespace kfault
