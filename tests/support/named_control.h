// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Finding a window's controls as a screen reader does: walking the accessibility tree from
// `root` and matching each control's accessible name. For the tests that drive the window
// (they link Qt; the support library does not).
#include <QAccessible>
#include <QObject>
#include <QString>

#include <gtest/gtest.h>

namespace named_control {
// The control of type W named `name` at or below `node`, depth first.
template <typename W>
W* Find(QAccessibleInterface* node, const QString& name) {
  if (!node) return nullptr;
  QObject* object = node->object();
  // Cells and other parts of a control speak for their control's object: only the control's
  // own interface names it. A combo box on Linux gives its current text as its name and its
  // accessible name through the bridge's relations, so that name counts as well.
  if (auto* w = qobject_cast<W*>(object);
      w && QAccessible::queryAccessibleInterface(object) == node &&
      (node->text(QAccessible::Name) == name || w->property("accessibleName") == name)) {
    return w;
  }
  for (int i = 0; i < node->childCount(); ++i) {
    if (W* found = Find<W>(node->child(i), name)) return found;
  }
  return nullptr;
}
}  // namespace named_control

// The first control of type W below `root` whose accessible name is `name`; a failure when
// none.
template <typename W>
W* Named(QObject* root, const char* name) {
  if (W* w = named_control::Find<W>(QAccessible::queryAccessibleInterface(root),
                                    QString::fromUtf8(name))) {
    return w;
  }
  ADD_FAILURE() << "no control named " << name;
  return nullptr;
}
