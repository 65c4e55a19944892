// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : fds_) {
    if (fd >= 0) close(fd);
  }
}

bool ChildProcess::Start(const std::vector<std::string>& args, const ChildOptions& options) {
  if (args.empty() || pid_ > 0) return false;
  // Everything the child needs is built before fork: after it only async-signal-safe calls.
  std::vector<std::string> strings = args;  // the arguments, then the environment
  if (strings[0].find('/') == std::string::npos) strings[0] = BinPath(strings[0]);
  const size_t argc = strings.size();
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e, name = entry.substr(0, entry.find('=') + 1);
    if (std::ranges::none_of(options.env, [&](const auto& s) { return s.starts_with(name); })) {
      strings.push_back(entry);
    }
  }
  strings.insert(strings.end(), options.env.begin(), options.env.end());
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.insert(pointers.begin() + static_cast<ptrdiff_t>(argc), nullptr);
  pointers.push_back(nullptr);

  int out[2] = {-1, -1}, err[2] = {-1, -1};
  const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t pid =
      pipe2(out, O_CLOEXEC) == 0 && pipe2(err, O_CLOEXEC) == 0 && devNull >= 0 ? fork() : -1;
  if (pid == 0) {
    // A test runner started in the background may hand us SIGINT ignored or signals blocked;
    // obrin-rip must see Ctrl+C as a user's shell would deliver it.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    for (int s = 1; s < NSIG; ++s) sigaction(s, &action, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    action.sa_handler = SIG_IGN;
    if (options.fileSizeLimit) sigaction(SIGXFSZ, &action, nullptr);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = options.fileSizeLimit.value_or(limit.rlim_cur);
    if (dup2(devNull, 0) == 0 && dup2(out[1], 1) == 1 && dup2(err[1], 2) == 2 &&
        setrlimit(RLIMIT_FSIZE, &limit) == 0) {
      execve(pointers[0], pointers.data(), pointers.data() + argc + 1);
    }
    _exit(127);
  }
  for (int fd : {devNull, out[1], err[1]}) {
    if (fd >= 0) close(fd);
  }
  fds_[0] = out[0];  // closed by the destructor when the start failed
  fds_[1] = err[0];
  if (pid < 0) {
    err_ = "cannot start " + strings[0];
    return false;
  }
  pid_ = pid;
  deadline_ = Clock::now() + options.timeout;
  return true;
}

bool ChildProcess::Pump() {
  if (fds_[0] < 0 && fds_[1] < 0) return false;
  pollfd polled[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};  // poll skips a closed -1
  const int ready = poll(polled, 2, MillisecondsUntil(deadline_));
  if (ready < 0 && errno == EINTR) return true;
  if (ready <= 0 && !timedOut_) {  // kill at the deadline, then drain what it wrote
    timedOut_ = true;
    kill(pid_, SIGKILL);
    deadline_ = Clock::now() + std::chrono::seconds(5);
    return true;
  }
  for (int i = 0; i < 2; ++i) {
    if (ready > 0 && polled[i].revents == 0) continue;
    char chunk[65536];
    const ssize_t n = ready > 0 ? read(fds_[i], chunk, sizeof chunk) : 0;
    if (n > 0) {
      (i == 0 ? out_ : err_).append(chunk, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {  // ended, or the drain after the kill ran out
      if (fds_[i] >= 0) close(fds_[i]);
      fds_[i] = -1;
    }
  }
  return ready > 0;
}

std::optional<std::string> ChildProcess::WaitForErrLine(
    const std::function<bool(const std::string&)>& match) {
  for (;;) {
    for (size_t end; (end = err_.find('\n', errOffered_)) != std::string::npos;) {
      std::string line = err_.substr(errOffered_, end - errOffered_);
      errOffered_ = end + 1;
      if (match(line)) return line;
    }
    if (!Pump()) return std::nullopt;
  }
}

bool ChildProcess::Signal(int signal) {
  return pid_ > 0 && !reaped_ && kill(pid_, signal) == 0;
}

CommandResult ChildProcess::Wait() {
  if (pid_ <= 0) return {-1, "", err_};
  while (Pump()) {
  }
  if (!reaped_) {
    // A child may close its pipes and live on: the deadline still holds.
    if (const int pidFd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0)); pidFd >= 0) {
      pollfd exited = {pidFd, POLLIN, 0};
      int ready;
      while ((ready = poll(&exited, 1, MillisecondsUntil(deadline_))) < 0 && errno == EINTR) {
      }
      if (ready == 0) {
        timedOut_ = true;
        kill(pid_, SIGKILL);
      }
      close(pidFd);
    }
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    exitStatus_ = WIFEXITED(status)     ? WEXITSTATUS(status)
                  : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                        : -1;
  }
  return {exitStatus_, out_, err_};
}
