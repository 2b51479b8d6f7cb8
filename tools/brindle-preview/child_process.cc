#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "plugin_protocol/framing.h"

namespace brindle::host {

std::expected<ChildProcess, std::string> ChildProcess::spawn(const std::vector<std::string>& argv) {
  int pipefd[2];
  if (::pipe2(pipefd, O_CLOEXEC) != 0) return std::unexpected("pipe: " + os_error_text(errno));
  Fd read_end(pipefd[0]), write_end(pipefd[1]);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) return std::unexpected("fork: " + os_error_text(errno));
  if (pid == 0) {
    const int devnull = ::open("/dev/null", O_RDONLY);
    if (devnull >= 0) ::dup2(devnull, 0);
    ::dup2(write_end.get(), 2);
    ::execv(args[0], args.data());
    const char msg[] = "exec failed\n";
    (void)!::write(2, msg, sizeof msg - 1);
    ::_exit(127);
  }
  ::fcntl(read_end.get(), F_SETFL, O_NONBLOCK);
  return ChildProcess(pid, std::move(read_end));
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      stderr_(std::move(other.stderr_)),
      captured_(std::move(other.captured_)),
      reaped_(other.reaped_),
      wait_status_(other.wait_status_) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    if (pid_ > 0 && !reaped_) wait(0);
    pid_ = std::exchange(other.pid_, -1);
    stderr_ = std::move(other.stderr_);
    captured_ = std::move(other.captured_);
    reaped_ = other.reaped_;
    wait_status_ = other.wait_status_;
  }
  return *this;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !reaped_) wait(0);
}

void ChildProcess::drain_stderr() {
  if (!stderr_.valid()) return;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(stderr_.get(), buf, sizeof buf);
    if (n > 0) {
      captured_.append(buf, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) stderr_.reset();
    return;
  }
}

bool ChildProcess::running() {
  if (reaped_ || pid_ <= 0) return false;
  drain_stderr();
  if (::waitpid(pid_, &wait_status_, WNOHANG) == pid_) {
    reaped_ = true;
    return false;
  }
  return true;
}

ProcessExit ChildProcess::wait(int timeout_ms) {
  constexpr int STEP_MS = 10;
  for (int waited = 0; running() && waited < timeout_ms; waited += STEP_MS) {
    pollfd p{stderr_.valid() ? stderr_.get() : -1, POLLIN, 0};
    ::poll(&p, 1, STEP_MS);
  }
  if (!reaped_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, &wait_status_, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
  }
  // The write end closes with the child; collect what is left.
  if (stderr_.valid()) {
    ::fcntl(stderr_.get(), F_SETFL, 0);
    drain_stderr();
  }
  ProcessExit out;
  out.exited = WIFEXITED(wait_status_);
  out.status = out.exited ? WEXITSTATUS(wait_status_) : WTERMSIG(wait_status_);
  out.stderr_text = captured_;
  return out;
}

}  // namespace brindle::host
