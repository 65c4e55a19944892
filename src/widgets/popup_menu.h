// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// A popup menu with a vertical band down its left side that carries a caption, drawn bottom
// to top beside the items.
#include <QMenu>

class CNewMenu : public QMenu {
  Q_OBJECT
 public:
  explicit CNewMenu(QWidget* parent = nullptr);

  void SetSideBand(const QString& caption);
  QString sideBand() const { return sideBand_; }
  // Adds an item that sends `commandId` (kept as the action's data).
  QAction* AddCommand(const QString& text, int commandId, int iconId = 0);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString sideBand_;
};

// The command id an item of a CNewMenu sends; 0 for separators and foreign actions.
int CommandOf(const QAction* action);
