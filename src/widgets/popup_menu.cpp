// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "widgets/popup_menu.h"

#include <QLinearGradient>
#include <QPainter>

#include "widgets/resources.h"

namespace {
constexpr int kBandWidth = 26;
}

CNewMenu::CNewMenu(QWidget* parent) : QMenu(parent) {}

void CNewMenu::SetSideBand(const QString& caption) {
  sideBand_ = caption;
  setContentsMargins(caption.isEmpty() ? 0 : kBandWidth, 0, 0, 0);
  update();
}

QAction* CNewMenu::AddCommand(const QString& text, int commandId, int iconId) {
  QAction* action = addAction(text);
  action->setData(commandId);
  if (iconId != 0) action->setIcon(ImageIcon(iconId));
  return action;
}

void CNewMenu::paintEvent(QPaintEvent* event) {
  QMenu::paintEvent(event);
  if (sideBand_.isEmpty()) return;
  QPainter painter(this);
  const QRect band(0, 0, kBandWidth, height());
  QLinearGradient gradient(band.bottomLeft(), band.topLeft());
  gradient.setColorAt(0, QColor(0x1d, 0x4e, 0xd8));
  gradient.setColorAt(1, QColor(0x0f, 0x17, 0x2a));
  painter.fillRect(band, gradient);
  painter.setPen(Qt::white);
  QFont font = painter.font();
  font.setBold(true);
  font.setPixelSize(14);
  painter.setFont(font);
  painter.translate(band.left() + 1, band.bottom() - 8);
  painter.rotate(-90);
  painter.drawText(QRect(0, 0, band.height(), kBandWidth - 2), Qt::AlignLeft | Qt::AlignVCenter,
                   sideBand_);
}

int CommandOf(const QAction* action) {
  return action && !action->isSeparator() ? action->data().toInt() : 0;
}
