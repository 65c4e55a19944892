// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "app/splash.h"

#include <QApplication>
#include <QPainter>
#include <QScreen>

#include "ui/commands.h"
#include "widgets/resources.h"

namespace {
constexpr int kSplashMs = 1750;
}

CSplashWindow* CSplashWindow::ShowSplashScreen(QWidget* frame) {
  QPixmap pixmap = ImagePixmap(IDB_SPLASH, qGuiApp->devicePixelRatio());
  if (pixmap.isNull()) return nullptr;
  return new CSplashWindow(frame, std::move(pixmap));
}

CSplashWindow::CSplashWindow(QWidget* frame, QPixmap pixmap)
    : QWidget(frame, Qt::SplashScreen | Qt::FramelessWindowHint), pixmap_(std::move(pixmap)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setCursor(Qt::ArrowCursor);
  const QSize size = pixmap_.deviceIndependentSize().toSize();
  setFixedSize(size);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->geometry().center() - QPoint(size.width() / 2, size.height() / 2));
  }
  qApp->installEventFilter(this);
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, &CSplashWindow::HideSplashScreen);
  timer_.start(kSplashMs);
  show();
}

CSplashWindow::~CSplashWindow() {
  qApp->removeEventFilter(this);
}

void CSplashWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawPixmap(0, 0, pixmap_);
}

bool CSplashWindow::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::NonClientAreaMouseButtonPress:
      HideSplashScreen();
      return true;
    default:
      return QWidget::eventFilter(watched, event);
  }
}

void CSplashWindow::HideSplashScreen() {
  qApp->removeEventFilter(this);
  QWidget* frame = parentWidget();
  close();
  if (frame) frame->update();
}
