// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// CRipBusyDlg: the notice shown instead of a dialog whose settings the running rip reads.
class QWidget;

class CRipBusyDlg {
 public:
  explicit CRipBusyDlg(QWidget* parent) : parent_(parent) {}
  // Shows "You are currently ripping." (caption "Help") until the user presses OK.
  void DoModal();

 private:
  QWidget* parent_;
};
