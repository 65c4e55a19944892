// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "widgets/shell_open.h"

#include <QProcess>

void ShellOpen(const QString& target) {
  if (target.isEmpty()) return;
  // Detached: the child is handed to init, so nothing waits for it or leaves a zombie.
  QProcess::startDetached(QStringLiteral("xdg-open"), {target});
}
