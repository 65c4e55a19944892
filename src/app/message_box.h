// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Obrin's message boxes. Every box of the window goes through ShowMessageBox, so that a test
// can answer them instead of a user (SetMessageBoxHandler).
#include <QMessageBox>
#include <functional>

struct MessageBoxRequest {
  QString text;
  QString caption;
  QMessageBox::Icon icon = QMessageBox::Information;
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};

// Shows the box modally and returns the button pressed.
QMessageBox::StandardButton ShowMessageBox(QWidget* parent, const MessageBoxRequest& request);

// Replaces the boxes by `handler` (empty: real boxes again).
using MessageBoxHandler = std::function<QMessageBox::StandardButton(const MessageBoxRequest&)>;
void SetMessageBoxHandler(MessageBoxHandler handler);

// Closes the box ShowMessageBox has open now, if any, as if its default button were pressed.
void CloseOpenMessageBox();
