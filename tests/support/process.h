// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// A child process a test talks to while it runs: it can wait for a line of standard error,
// act (signal, remove a folder, ...), then let the child finish. Every wait has a deadline:
// a child that hangs is killed and reported, never waited for forever.
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/test_env.h"

struct ChildOptions {
  std::vector<std::string> env;  // "NAME=value" added to (or replacing in) the environment
  // RLIMIT_FSIZE, with SIGXFSZ ignored: writes past it fail with EFBIG, as on a full disk.
  std::optional<unsigned long long> fileSizeLimit;
  std::chrono::milliseconds timeout{120000};  // SIGKILL when not ended this long after Start
};

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // kills and reaps a child still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `args` (args[0] without "/" is a build executable), standard input /dev/null, every
  // signal at its default and none blocked. False, with the reason in err(), on failure.
  bool Start(const std::vector<std::string>& args, const ChildOptions& options = {});
  // The first line of standard error not offered before that satisfies `match`; nullopt when
  // standard error ends or the deadline passes first.
  std::optional<std::string> WaitForErrLine(const std::function<bool(const std::string&)>& match);
  bool Signal(int signal);  // false once the child has been reaped
  CommandResult Wait();     // reads both pipes to their end and reaps the child

  bool timedOut() const { return timedOut_; }
  const std::string& err() const { return err_; }

 private:
  bool Pump();  // reads what is ready; false when both pipes ended or the deadline passed

  pid_t pid_ = -1;
  int fds_[2] = {-1, -1};  // standard output, standard error
  std::string out_;
  std::string err_;
  size_t errOffered_ = 0;
  std::chrono::steady_clock::time_point deadline_;
  bool timedOut_ = false;
  bool reaped_ = false;
  int exitStatus_ = -1;
};
