// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "platform/std_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

bool EnsureStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is this one, since those below it are open by now.
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened < 0) return false;
    if (opened != fd) {
      const bool moved = dup2(opened, fd) == fd;
      close(opened);
      if (!moved) return false;
    }
  }
  return true;
}
