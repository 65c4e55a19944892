// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// A push button drawn entirely from three images: normal, pressed and focused.
#include <QAbstractButton>

class CBitmapButton : public QAbstractButton {
  Q_OBJECT
 public:
  CBitmapButton(int controlId, QWidget* parent);

  void LoadBitmaps(int normal, int pressed, int focused);
  int controlId() const { return controlId_; }
  // The image the button shows now.
  int CurrentBitmap() const;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int controlId_;
  int normal_ = 0, pressed_ = 0, focused_ = 0;
};
