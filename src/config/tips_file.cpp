// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "config/tips_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

TipsFile::~TipsFile() {
  Close();
}

bool TipsFile::Open(const std::string& path) {
  Close();
  // Non-blocking, so that a FIFO in the file's place cannot hold the window up; only a
  // regular file is read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return false;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  file_ = fdopen(fd, "r");
  if (!file_) ::close(fd);
  return file_ != nullptr;
}

void TipsFile::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

std::string TipsFile::TimeStamp() const {
  struct stat status {};
  if (!file_ || fstat(fileno(file_), &status) != 0) return {};
  char text[64] = {};
  if (!ctime_r(&status.st_ctime, text)) return {};
  std::string stamp = text;
  while (!stamp.empty() && std::strchr(" \t\r\n\v\f", stamp.back())) stamp.pop_back();
  return stamp;
}

bool TipsFile::Seek(int64_t position) {
  if (!file_ || position < 0) return false;
  // A place past the end (the file shrank) is the end, so the next read wraps to the first tip
  // whatever the file system allows as an offset.
  struct stat status {};
  if (fstat(fileno(file_), &status) == 0 && position > status.st_size) position = status.st_size;
  return fseeko(file_, static_cast<off_t>(position), SEEK_SET) == 0;
}

int64_t TipsFile::Tell() const {
  return file_ ? static_cast<int64_t>(ftello(file_)) : -1;
}

bool TipsFile::ReadPiece(std::string& piece) {
  piece.clear();
  if (!file_) return false;
  while (piece.size() < kPieceBytes) {
    const int c = std::getc(file_);
    if (c == EOF) break;
    piece.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return !piece.empty();
}

bool IsTipLine(const std::string& piece) {
  // A CR first is the empty line of a file with CR-LF line ends; a NUL first leaves nothing
  // to show.
  return !piece.empty() && !std::strchr(" \t\r\n;", piece.front()) && piece.front() != '\0';
}

TipsFile::Tip TipsFile::ReadNextTip() {
  Tip tip;
  std::string piece;
  // Two ends of the file in one call mean a whole pass without a tip line: give up rather
  // than go round for ever.
  int ends = 0;
  while (ends < 2) {
    if (!ReadPiece(piece)) {
      ++ends;
      if (!Seek(0)) ++tip.seekFailures;
      continue;
    }
    if (!IsTipLine(piece)) continue;
    tip.text = piece.substr(0, piece.find('\0'));
    while (!tip.text.empty() && (tip.text.back() == '\n' || tip.text.back() == '\r')) {
      tip.text.pop_back();
    }
    tip.found = true;
    break;
  }
  return tip;
}
