// Running a piece of a test in a forked child: for failures that end or
// mark a process (resource limits, a failing allocator), so that the test
// process itself stays clean.
#pragma once

#include <functional>
#include <string>

namespace kfault {

struct ChildOutcome {
  bool exited = false;  // ended by returning, not by a signal
  int signal = 0;       // the signal that ended it, if any
  std::string failure;  // what the child's checks found wrong ("" = none)
  std::string printed;  // everything it wrote to stdout and stderr
};

// Runs body in a child whose stdout and stderr go to a file. body returns
// "" when its checks held, else a description of what did not.
ChildOutcome RunInChild(const std::function<std::string()> &body);

}  // namespace kfault
