// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "disc/file_problem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::string FileProblem(const std::string& path, off_t* size) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    return errno == ENOENT ? "does not exist"
                           : std::string("cannot be read (") + std::strerror(errno) + ")";
  }
  if (S_ISDIR(st.st_mode)) return "is a directory";
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  if (st.st_size == 0) return "is empty";
  if (access(path.c_str(), R_OK) != 0) {
    return std::string("cannot be read (") + std::strerror(errno) + ")";
  }
  if (size) *size = st.st_size;
  return {};
}
