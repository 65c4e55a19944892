#include "support/process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace {

// A killed child's pipes close at once; this only bounds the wait for a child that somehow
// passed them on.
constexpr std::chrono::seconds kDrainAfterKill{5};

int MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() <= 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  if (outFd_ >= 0) close(outFd_);
  if (errFd_ >= 0) close(errFd_);
}

bool ChildProcess::Start(const std::vector<std::string>& args, const ChildOptions& options) {
  if (args.empty() || pid_ > 0) return false;
  std::string program = args[0].find('/') == std::string::npos ? BinPath(args[0]) : args[0];

  // Everything the child needs is built before fork: after it only async-signal-safe calls.
  std::vector<std::string> argStrings(args.begin(), args.end());
  argStrings[0] = program;
  std::vector<char*> argv;
  for (auto& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);
  for (const auto& extra : options.env) {
    const std::string name = extra.substr(0, extra.find('=') + 1);
    std::erase_if(envStrings, [&](const std::string& s) { return s.rfind(name, 0) == 0; });
    envStrings.push_back(extra);
  }
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);

  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) return false;
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return false;
  }
  const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);

  const pid_t pid = fork();
  if (pid == 0) {
    if (devNull < 0 || dup2(devNull, 0) < 0 || dup2(outPipe[1], 1) < 0 || dup2(errPipe[1], 2) < 0) {
      _exit(127);
    }
    // A test runner started in the background may hand us SIGINT ignored or signals blocked;
    // obrin-rip must see Ctrl+C as a user's shell would deliver it.
    struct sigaction dflt;
    std::memset(&dflt, 0, sizeof dflt);
    dflt.sa_handler = SIG_DFL;
    for (int s = 1; s < NSIG; ++s) sigaction(s, &dflt, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (options.fileSizeLimit) {
      struct sigaction ignore = dflt;
      ignore.sa_handler = SIG_IGN;
      sigaction(SIGXFSZ, &ignore, nullptr);
      rlimit limit{};
      getrlimit(RLIMIT_FSIZE, &limit);
      limit.rlim_cur = *options.fileSizeLimit;
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
    }
    if (options.gid && (setgroups(0, nullptr) != 0 || setgid(*options.gid) != 0)) _exit(127);
    if (options.uid && setuid(*options.uid) != 0) _exit(127);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  if (devNull >= 0) close(devNull);
  close(outPipe[1]);
  close(errPipe[1]);
  if (pid < 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    err_ = "cannot fork for " + program;
    return false;
  }
  pid_ = pid;
  outFd_ = outPipe[0];
  errFd_ = errPipe[0];
  deadline_ = std::chrono::steady_clock::now() + options.timeout;
  return true;
}

void ChildProcess::KillAtDeadline() {
  if (timedOut_ || reaped_) return;
  timedOut_ = true;
  kill(pid_, SIGKILL);
  deadline_ = std::chrono::steady_clock::now() + kDrainAfterKill;
}

bool ChildProcess::Pump() {
  while (outFd_ >= 0 || errFd_ >= 0) {
    pollfd fds[2];
    int count = 0;
    if (outFd_ >= 0) fds[count++] = {outFd_, POLLIN, 0};
    if (errFd_ >= 0) fds[count++] = {errFd_, POLLIN, 0};
    const int ready = poll(fds, static_cast<nfds_t>(count), MillisecondsUntil(deadline_));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      if (timedOut_) {
        // Even the drain after the kill ran out: give up on the pipes.
        if (outFd_ >= 0) close(outFd_);
        if (errFd_ >= 0) close(errFd_);
        outFd_ = errFd_ = -1;
        return false;
      }
      KillAtDeadline();
      continue;
    }
    for (int i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      int& fd = fds[i].fd == outFd_ ? outFd_ : errFd_;
      std::string& sink = fds[i].fd == outFd_ ? out_ : err_;
      char chunk[65536];
      const ssize_t n = read(fd, chunk, sizeof chunk);
      if (n > 0) {
        sink.append(chunk, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fd);
        fd = -1;
      }
    }
    return true;
  }
  return false;
}

std::optional<std::string> ChildProcess::WaitForErrLine(
    const std::function<bool(const std::string&)>& match) {
  for (;;) {
    size_t end;
    while ((end = err_.find('\n', errOffered_)) != std::string::npos) {
      std::string line = err_.substr(errOffered_, end - errOffered_);
      errOffered_ = end + 1;
      if (match(line)) return line;
    }
    if (!Pump()) return std::nullopt;
  }
}

bool ChildProcess::Signal(int signal) {
  if (pid_ <= 0 || reaped_) return false;
  return kill(pid_, signal) == 0;
}

CommandResult ChildProcess::Wait() {
  CommandResult result;
  if (pid_ <= 0) {
    result.err = err_;
    return result;
  }
  while (Pump()) {
  }
  if (!reaped_) {
    // The pipes ended; the child is about to exit (or was killed). Still bounded: a child
    // that closed its pipes yet lives on meets the deadline here.
    int status = 0;
    for (;;) {
      const pid_t done = waitpid(pid_, &status, WNOHANG);
      if (done == pid_) break;
      if (done < 0 && errno != EINTR) break;
      if (MillisecondsUntil(deadline_) == 0) {
        KillAtDeadline();
        waitpid(pid_, &status, 0);
        break;
      }
      // Bounded polling of a child that has already closed its output; no ordering relies
      // on this pause.
      poll(nullptr, 0, 10);
    }
    reaped_ = true;
    exitStatus_ = WIFEXITED(status)     ? WEXITSTATUS(status)
                  : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                        : -1;
  }
  result.exitStatus = exitStatus_;
  result.out = out_;
  result.err = err_;
  return result;
}
