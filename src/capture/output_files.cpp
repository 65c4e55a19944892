// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "capture/output_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

const char* const kTempPcmName = "cddatmp001.pcm";

OutputFileLock::~OutputFileLock() {
  if (fd_ >= 0) close(fd_);
}

bool OutputFileLock::Take(int fd) {
  if (fd_ >= 0) close(fd_);
  fd_ = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (fd_ < 0) return true;  // no lock to be had: the rip goes on as before locks
  if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
  const bool anotherRips = errno == EWOULDBLOCK;
  close(fd_);
  fd_ = -1;
  return !anotherRips;  // a file system without locks: the file as it is
}

FILE* OpenRegularFile(const std::string& path, const char* mode, OutputFileLock* lock) {
  const char kind = mode[0];
  int flags = O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK;
  flags |= kind == 'r' ? O_RDONLY : kind == 'a' ? (O_WRONLY | O_APPEND) : (O_WRONLY | O_CREAT);
  // Not O_TRUNC: nothing is cut before the name is known to be a regular file of our own.
  const int fd = open(path.c_str(), flags, 0666);
  if (fd < 0) return nullptr;
  struct stat st;
  int error = 0;
  if (fstat(fd, &st) != 0) {
    error = errno;
  } else if (!S_ISREG(st.st_mode)) {
    error = EEXIST;
  } else if (kind == 'w' && lock && !lock->Take(fd)) {
    error = EWOULDBLOCK;
  } else if (kind == 'w' && ftruncate(fd, 0) != 0) {
    error = errno;
  }
  FILE* file = nullptr;
  if (error == 0 && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0) {
    file = fdopen(fd, kind == 'r' ? "rb" : kind == 'a' ? "ab" : "wb");
  }
  if (!file) {
    if (error == 0) error = errno;
    close(fd);
    errno = error;
  }
  return file;
}

bool OutputFileRemoved(FILE* file) {
  struct stat st;
  return file && fstat(fileno(file), &st) == 0 && st.st_nlink == 0;
}

TempPcmClaim::~TempPcmClaim() {
  if (fd_ >= 0) close(fd_);
}

std::string TempPcmClaim::Take(const std::string& usual) {
  const std::string folder = usual.substr(0, usual.size() - std::strlen(kTempPcmName));
  int number = 1;
  for (int attempt = 0; attempt < 1000 && number <= 999; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "cddatmp%03d.pcm", number);
    const std::string path = number == 1 ? usual : folder + name;
    // Never through a link planted at the name, and never waiting on a FIFO: such a name
    // is left for the capture to refuse.
    const int fd =
        open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK, 0666);
    if (fd < 0) break;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {  // not a file another rip can own
      close(fd);
      return path;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const bool anotherRips = errno == EWOULDBLOCK;
      close(fd);
      if (!anotherRips) return path;  // a file system without locks: the name as it is
      ++number;
      continue;
    }
    // The holder may have deleted the file between our open and our lock: a lock on a
    // file without that name guards nothing, so the name is tried again.
    struct stat held, named;
    if (fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      fd_ = fd;
      return path;
    }
    close(fd);
  }
  return usual;
}
