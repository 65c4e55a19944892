// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string_view>

namespace {

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// The permission bits an ordinary newly created file would get (0666 less the umask). The
// umask is read from /proc because umask() can only be queried by changing it, which would
// race with other threads creating files.
mode_t NewFileMode() {
  mode_t mask = 022;
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) {
      mask = static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
      break;
    }
  }
  return 0666 & ~mask;
}

}  // namespace

bool ReplaceFileAtomically(const std::string& target, const std::string& content,
                           const struct stat* old) {
  const std::size_t cut = target.rfind('/');
  const std::string folder = cut == std::string::npos ? "."
                             : cut == 0               ? "/"
                                                      : target.substr(0, cut);
  std::size_t slash = target.rfind('/');
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp = folder + "/." + base + ".XXXXXX";
  int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, content);
  if (ok && old) {
    // Keep the owner when an administrator edits someone else's file; harmless otherwise.
    [[maybe_unused]] int ignored = fchown(fd, old->st_uid, old->st_gid);
  }
  ok = ok && fchmod(fd, old ? (old->st_mode & 07777) : NewFileMode()) == 0;
  ok = ok && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable. The new file is already in place, so a failure here is
  // not reported as "unchanged".
  int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  return true;
}
