// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "widgets/bitmap_button.h"

#include <QPainter>

#include "widgets/resources.h"

CBitmapButton::CBitmapButton(int controlId, QWidget* parent)
    : QAbstractButton(parent), controlId_(controlId) {
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_Hover);
}

void CBitmapButton::LoadBitmaps(int normal, int pressed, int focused) {
  normal_ = normal;
  pressed_ = pressed;
  focused_ = focused;
  update();
}

int CBitmapButton::CurrentBitmap() const {
  if (isDown()) return pressed_;
  if (hasFocus()) return focused_;
  return normal_;
}

QSize CBitmapButton::sizeHint() const {
  const QSize size = ImageSize(normal_);
  return size.isEmpty() ? QSize(16, 16) : size;
}

void CBitmapButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  DrawImage(painter, CurrentBitmap(), QRectF(rect()));
}
