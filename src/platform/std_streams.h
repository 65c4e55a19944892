// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Start-up guard of Obrin's executables.

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that no file the
// program opens later takes one of their numbers and receives what is meant for standard
// output or standard error. Call it first thing in main(), before any file is opened.
// False when /dev/null could not be opened (the descriptors are then left as they were).
bool EnsureStandardDescriptors();
