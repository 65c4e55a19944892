// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Why a file an image names (or the image itself) cannot be read, for messages.
#include <sys/types.h>

#include <string>

// Empty when `path` is a readable, non-empty regular file (its size then in `*size`);
// otherwise what it is instead, to follow "it" or a file's name in a message ("does not
// exist", "is a directory", "is not a regular file", "is empty", "cannot be read (...)").
std::string FileProblem(const std::string& path, off_t* size = nullptr);
