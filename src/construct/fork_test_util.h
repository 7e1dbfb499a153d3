// Test helper for forked children: runs a check in a child process, which is killed when it does
// not finish within ten seconds, so that a child that blocks fails its test instead of hanging it.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace brackwater::construct::testing {

// Runs `child` in a forked process; whether it returned true there in time. `in_parent`, when
// given, runs in the parent as soon as the fork has returned.
inline bool in_child(const std::function<bool()>& child, const std::function<void()>& in_parent = {}) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(10);
    ::_exit(child() ? 0 : 1);
  }
  if (in_parent) in_parent();
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace brackwater::construct::testing
