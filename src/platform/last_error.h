// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The platform's text for the last error, as the rip path shows it in its error boxes.
#include <string>

// The platform's text for the calling thread's last error (dlerror() after a failed load,
// strerror(errno) otherwise), at most 127 characters; empty when there is none.
std::string GetLastErrorText();
