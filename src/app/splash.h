// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The splash window: bitmap 208 centred over the screen for 1750 ms. Any key or mouse press
// anywhere in the application hides it at once, and that press goes nowhere else.
#include <QPixmap>
#include <QTimer>
#include <QWidget>

class CSplashWindow : public QWidget {
  Q_OBJECT
 public:
  // Shows the splash over `frame` unless its bitmap is missing; returns it or nullptr.
  static CSplashWindow* ShowSplashScreen(QWidget* frame);
  ~CSplashWindow() override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  CSplashWindow(QWidget* frame, QPixmap pixmap);
  void HideSplashScreen();

  QPixmap pixmap_;
  QTimer timer_;
};
