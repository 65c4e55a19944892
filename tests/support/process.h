#pragma once
// A child process the test talks to while it runs: standard output and standard error come
// back through pipes and are read incrementally, so a test can wait for a given progress line,
// act (send a signal, remove a folder, ...), then let the child finish. Every wait has a
// deadline: a child that hangs is killed and reported, never waited for forever.
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/test_env.h"

struct ChildOptions {
  std::vector<std::string> env;  // "NAME=value" added to (or replacing in) the environment
  // RLIMIT_FSIZE in the child, with SIGXFSZ ignored so that writes past it fail with EFBIG
  // (as on a full disk) instead of killing the child.
  std::optional<unsigned long long> fileSizeLimit;
  // Run the child as this user and group (with no supplementary groups). Needs root.
  std::optional<uid_t> uid;
  std::optional<gid_t> gid;
  // Kill the child (SIGKILL) when it has not ended this long after Start.
  std::chrono::milliseconds timeout{120000};
};

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // kills and reaps a child still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `args` (args[0] is looked up in the build's bin folder when it has no "/") with
  // standard input from /dev/null, default signal dispositions and nothing blocked. False
  // (with the reason in err()) when it could not be started.
  bool Start(const std::vector<std::string>& args, const ChildOptions& options = {});

  // Reads until a complete line of standard error satisfies `match` and returns it; nullopt
  // when standard error ends (or the deadline passes) first. Lines already seen are not
  // offered again.
  std::optional<std::string> WaitForErrLine(const std::function<bool(const std::string&)>& match);

  // Sends `signal` to the child; false once it has been reaped.
  bool Signal(int signal);

  // Reads both pipes to their end and reaps the child (killing it at the deadline).
  CommandResult Wait();

  pid_t pid() const { return pid_; }
  bool timedOut() const { return timedOut_; }
  const std::string& err() const { return err_; }
  const std::string& out() const { return out_; }

 private:
  // Reads whatever is ready on the open pipes, waiting at most until the deadline. False when
  // both pipes have ended or the deadline passed (the child is then killed).
  bool Pump();
  void KillAtDeadline();

  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  std::string out_;
  std::string err_;
  size_t errOffered_ = 0;  // err_ up to here has been offered to WaitForErrLine
  std::chrono::steady_clock::time_point deadline_;
  bool timedOut_ = false;
  bool reaped_ = false;
  int exitStatus_ = -1;
};
