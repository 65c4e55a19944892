// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Replacing a file's contents so that a reader, a crash or a full disk only ever leaves the
// old file or the new one: the settings file, the rip log and cue sheet, cached database
// replies.
#include <sys/types.h>

#include <string>

struct stat;

// Writes `content` to a temporary file beside `target`, flushes it to the disk and renames it
// over `target` (a symbolic link at the name is replaced, never written through). The new
// file takes `old`'s owner and mode when given, else a new file's mode. False, leaving
// `target` as it was and no temporary file, when any step fails.
bool ReplaceFileAtomically(const std::string& target, const std::string& content,
                           const struct stat* old = nullptr);
