// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Finding a window's controls as a screen reader does: by their accessible names. For the
// tests that drive the window (they link Qt; the support library does not).
#include <QObject>
#include <QString>

#include <gtest/gtest.h>

// The first child of `root` of type W whose accessible name is `name`; a failure when none.
template <typename W>
W* Named(QObject* root, const char* name) {
  for (W* w : root->findChildren<W*>()) {
    if (w->accessibleName() == QLatin1String(name)) return w;
  }
  ADD_FAILURE() << "no control named " << name;
  return nullptr;
}
