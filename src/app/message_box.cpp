// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "app/message_box.h"

#include <QPointer>

namespace {
MessageBoxHandler& Handler() {
  static MessageBoxHandler handler;
  return handler;
}
QPointer<QMessageBox> openBox;
}  // namespace

QMessageBox::StandardButton ShowMessageBox(QWidget* parent, const MessageBoxRequest& request) {
  if (Handler()) return Handler()(request);
  QMessageBox box(request.icon, request.caption, request.text, request.buttons, parent);
  QPointer<QMessageBox> outer = openBox;
  openBox = &box;
  const int result = box.exec();
  openBox = outer;
  return static_cast<QMessageBox::StandardButton>(result);
}

void SetMessageBoxHandler(MessageBoxHandler handler) {
  Handler() = std::move(handler);
}

void CloseOpenMessageBox() {
  if (openBox) openBox->done(QMessageBox::Ok);
}
