#include "support/test_env.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

extern char** environ;

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/obrin-test-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // A test may have left read-only folders behind; give them back their write bit first.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored)) chmod(it->path().c_str(), 0700);
  }
  chmod(path_.c_str(), 0700);
  std::filesystem::remove_all(path_, ignored);
}

ScopedConfigHome::ScopedConfigHome() {
  if (const char* old = std::getenv("XDG_CONFIG_HOME")) {
    saved_ = old;
    hadSaved_ = true;
  }
  setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
}

ScopedConfigHome::~ScopedConfigHome() {
  if (hadSaved_) {
    setenv("XDG_CONFIG_HOME", saved_.c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
}

ScopedFileSizeLimit::ScopedFileSizeLimit(unsigned long long bytes) {
  savedHandler_ = signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  savedCur_ = limit.rlim_cur;
  savedMax_ = limit.rlim_max;
  limit.rlim_cur = bytes;
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) ADD_FAILURE() << "setrlimit(RLIMIT_FSIZE) failed";
}

ScopedFileSizeLimit::~ScopedFileSizeLimit() {
  rlimit limit{};
  limit.rlim_cur = savedCur_;
  limit.rlim_max = savedMax_;
  setrlimit(RLIMIT_FSIZE, &limit);
  signal(SIGXFSZ, savedHandler_);
}

std::string BinPath(const std::string& name) {
  return std::string(OBRIN_BIN_DIR) + "/" + name;
}

namespace {
std::string SlurpFd(int fd) {
  std::string data;
  char chunk[65536];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0) data.append(chunk, static_cast<size_t>(n));
  return data;
}
}  // namespace

CommandResult RunCommand(const std::vector<std::string>& args,
                         const std::vector<std::string>& extraEnv) {
  CommandResult result;
  if (args.empty()) return result;
  std::string program = args[0].find('/') == std::string::npos ? BinPath(args[0]) : args[0];

  std::vector<char*> argv;
  argv.push_back(program.data());
  std::vector<std::string> copies(args.begin() + 1, args.end());
  for (auto& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);
  for (const auto& extra : extraEnv) {
    std::string name = extra.substr(0, extra.find('=') + 1);
    std::erase_if(envStrings, [&](const std::string& s) { return s.rfind(name, 0) == 0; });
    envStrings.push_back(extra);
  }
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);

  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  if (rc != 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    result.err = "cannot start " + program;
    return result;
  }
  std::thread errReader([&] { result.err = SlurpFd(errPipe[0]); });
  result.out = SlurpFd(outPipe[0]);
  errReader.join();
  close(outPipe[0]);
  close(errPipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

void MakeDisc(const std::vector<std::string>& args) {
  std::vector<std::string> full = {"mkdisc"};
  full.insert(full.end(), args.begin(), args.end());
  CommandResult r = RunCommand(full);
  ASSERT_EQ(r.exitStatus, 0) << "mkdisc failed: " << r.err;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}
