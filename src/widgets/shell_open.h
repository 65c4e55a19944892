// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The desktop's "open" for a folder, a web address or a mailto: address: `xdg-open` as found
// on PATH, started and never waited for. A missing or failing xdg-open is not Obrin's error.
#include <QString>

void ShellOpen(const QString& target);
