// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "widgets/static_link.h"

#include <QMouseEvent>

#include "widgets/shell_open.h"

CStaticLink::CStaticLink(const QString& text, const QString& target, QWidget* parent)
    : QLabel(parent), target_(target) {
  setText(text);
  QFont underlined = font();
  underlined.setUnderline(true);
  setFont(underlined);
  QPalette palette = this->palette();
  palette.setColor(QPalette::WindowText, QColor(0x25, 0x63, 0xeb));
  setPalette(palette);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::TabFocus);
  setAccessibleName(text);
}

void CStaticLink::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    ShellOpen(target_);
  }
  QLabel::mouseReleaseEvent(event);
}
