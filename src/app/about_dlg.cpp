// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "app/about_dlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/main_frame.h"
#include "ui/commands.h"
#include "widgets/resources.h"
#include "widgets/static_link.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Obrin"));
  auto* icon = new QLabel(this);
  icon->setPixmap(ImageIcon(IDR_MAINFRAME).pixmap(48, 48));
  auto* version = new QLabel(QStringLiteral("Obrin v2.0"), this);
  auto* link = new CStaticLink(QString::fromLatin1(CMainFrame::kHomePage),
                               QString::fromLatin1(CMainFrame::kHomePage), this);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* text = new QVBoxLayout;
  text->addWidget(version);
  text->addWidget(link);
  auto* row = new QHBoxLayout;
  row->addWidget(icon);
  row->addLayout(text, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
}
