// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Opening the files a rip writes so that nothing but a regular file of our own is ever
// written, truncated or deleted: output files under an exclusive lock, temporary PCM files
// claimed under one, and the check that a file being written still has a name.
#include <cstdio>
#include <string>

// The temporary PCM file of MP3 and Ogg Vorbis tracks, in the output folder. While another
// process's rip holds it, a track uses the next free "cddatmpNNN.pcm" beside it.
extern const char* const kTempPcmName;  // "cddatmp001.pcm"

// An exclusive flock on a stage's output file for the life of the object, so that two rips
// writing the same name at once (the same disc into the same folder) never mix their bytes
// in one file, which both would then call complete: the second finds the name taken.
class OutputFileLock {
 public:
  OutputFileLock() = default;
  ~OutputFileLock();
  OutputFileLock(const OutputFileLock&) = delete;
  OutputFileLock& operator=(const OutputFileLock&) = delete;
  // Locks the file open on `fd` without waiting, through a descriptor of its own, so the
  // lock outlives the stage's closing of `fd`. False only when another process holds it.
  bool Take(int fd);

 private:
  int fd_ = -1;
};

// Opens `path` as std::fopen(path, mode) would for "rb", "wb" (created or truncated) and "ab",
// but only ever a regular file: a symbolic link at the name is not followed, and a FIFO or
// device is refused without waiting for its other end. With `lock` ("wb"), the file is locked
// before it is truncated, and refused while another rip holds it. Null with errno set
// (ELOOP for a link, EEXIST for anything else that is not a regular file) on failure.
FILE* OpenRegularFile(const std::string& path, const char* mode, OutputFileLock* lock = nullptr);

// True when `file` (open for writing) no longer has a name: it was deleted, or its folder
// removed, while the stage wrote it, and everything written went with it.
bool OutputFileRemoved(FILE* file);

// Holds one temporary PCM file for the capture and encode of one track, through an exclusive
// flock on it. Two rips into one folder (two processes, or two encodes of one job) would
// otherwise capture, encode and delete the same "cddatmp001.pcm" under each other. The usual
// name is kept whenever nothing else holds it; otherwise the next free "cddatmpNNN.pcm".
class TempPcmClaim {
 public:
  TempPcmClaim() = default;
  ~TempPcmClaim();
  TempPcmClaim(const TempPcmClaim&) = delete;
  TempPcmClaim& operator=(const TempPcmClaim&) = delete;
  // The path to capture into: `usual` when nothing else holds it, or when no lock can be had
  // at all (the capture then reports the folder's own failure), else a free sibling.
  std::string Take(const std::string& usual);

 private:
  int fd_ = -1;
};
