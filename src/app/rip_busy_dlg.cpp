// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "app/rip_busy_dlg.h"

#include "app/message_box.h"

void CRipBusyDlg::DoModal() {
  // Through the message-box path, so that a test answers it like any other notice.
  ShowMessageBox(parent_, {QStringLiteral("You are currently ripping."), QStringLiteral("Help"),
                           QMessageBox::Information, QMessageBox::Ok});
}
