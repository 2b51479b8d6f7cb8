// A plug-in child process started with fork/exec, its standard error
// captured through a pipe. The object owns the child: destruction kills it
// if it still runs and reaps it.
#pragma once

#include <sys/types.h>

#include <expected>
#include <string>
#include <vector>

#include "plugin_protocol/fd.h"

namespace brindle::host {

struct ProcessExit {
  bool exited = false;  // false: ended by a signal
  int status = 0;       // exit status, or the signal number
  std::string stderr_text;
};

class ChildProcess {
 public:
  // Runs `argv[0]` with `argv`; standard input is /dev/null, standard
  // output is inherited, standard error is captured.
  static std::expected<ChildProcess, std::string> spawn(const std::vector<std::string>& argv);

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ~ChildProcess();

  pid_t pid() const { return pid_; }
  // True while the child has not exited (reaps it when it has).
  bool running();
  // Waits up to `timeout_ms`, then kills the child; always reaps it.
  ProcessExit wait(int timeout_ms);

 private:
  ChildProcess(pid_t pid, Fd err) : pid_(pid), stderr_(std::move(err)) {}
  void drain_stderr();

  pid_t pid_ = -1;
  Fd stderr_;
  std::string captured_;
  bool reaped_ = false;
  int wait_status_ = 0;
};

}  // namespace brindle::host
