// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The tips file ("tips.txt" beside the program) read the way the tip of the day reads it:
// text lines in pieces of at most 999 bytes, each piece a line of its own; a piece starting
// with a blank, a tab, a line end or ";" (a comment) is skipped; every other piece is one tip.
// After the last tip the reading wraps to the first.
#include <cstdint>
#include <cstdio>
#include <string>

class TipsFile {
 public:
  static constexpr std::size_t kPieceBytes = 999;

  TipsFile() = default;
  ~TipsFile();
  TipsFile(const TipsFile&) = delete;
  TipsFile& operator=(const TipsFile&) = delete;

  // False when the file cannot be opened for reading (or is not a regular file).
  bool Open(const std::string& path);
  bool isOpen() const { return file_ != nullptr; }
  void Close();

  // The file's status-change time as ctime text, trailing white space removed; "" when the
  // file is not open.
  std::string TimeStamp() const;

  // Moves to byte `position` from the start (to the end when it lies past it); false when that
  // is impossible (negative, or the file cannot seek).
  bool Seek(int64_t position);
  // The read position in bytes; -1 when unknown.
  int64_t Tell() const;

  struct Tip {
    std::string text;      // the tip without its line end, cut at a NUL byte
    bool found = false;    // false: the file holds no tip line at all (text is empty)
    int seekFailures = 0;  // the wrap to the start failed this many times (reading went on)
  };
  // The next tip from the read position, wrapping to the start at the end of the file.
  Tip ReadNextTip();

 private:
  // One piece of a line; false at the end of the file or on a read error.
  bool ReadPiece(std::string& piece);

  std::FILE* file_ = nullptr;
};

// Whether a piece read from the tips file is shown as a tip (not blank-led, not a comment,
// not an empty line).
bool IsTipLine(const std::string& piece);
