// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// A text that acts as a hyperlink: underlined, hand cursor, opens its target when clicked.
#include <QLabel>

class CStaticLink : public QLabel {
  Q_OBJECT
 public:
  CStaticLink(const QString& text, const QString& target, QWidget* parent = nullptr);
  QString target() const { return target_; }

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QString target_;
};
