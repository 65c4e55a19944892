// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "app/output_path_dlg.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/message_box.h"
#include "config/settings.h"

namespace {
FolderPicker& Picker() {
  static FolderPicker picker;
  return picker;
}
}  // namespace

void SetFolderPicker(FolderPicker picker) {
  Picker() = std::move(picker);
}

QString PickFolder(QWidget* parent, const QString& title) {
  if (Picker()) return Picker()(parent, title);
  return QFileDialog::getExistingDirectory(parent, title, QString(), QFileDialog::ShowDirsOnly);
}

COutputPathDlg::COutputPathDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Output Setting"));
  auto* label = new QLabel(QStringLiteral("Music file output path:"), this);
  pathBox_ = new QLineEdit(this);
  pathBox_->setReadOnly(true);  // only the picker changes the folder
  pathBox_->setAccessibleName(label->text());
  label->setBuddy(pathBox_);
  browse_ = new QPushButton(QStringLiteral("Brower..."), this);
  browse_->setAccessibleName(browse_->text());
  browse_->setAutoDefault(false);
  connect(browse_, &QPushButton::clicked, this, &COutputPathDlg::BrowseForOutputFolder);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* save = buttons->addButton(QStringLiteral("&Save"), QDialogButtonBox::AcceptRole);
  QPushButton* cancel = buttons->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
  save->setAccessibleName(QStringLiteral("Save"));
  cancel->setAccessibleName(QStringLiteral("Cancel"));
  save->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* row = new QHBoxLayout;
  row->addWidget(pathBox_, 1);
  row->addWidget(browse_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
  layout->addLayout(row);
  layout->addStretch(1);
  layout->addWidget(buttons);
  resize(480, sizeHint().height());

  pathBytes_ = ripSettings.outputPath;
  pathText_ = QFile::decodeName(QByteArray::fromStdString(pathBytes_));
  pathBox_->setText(pathText_);
  pathBox_->setCursorPosition(0);
}

void COutputPathDlg::BrowseForOutputFolder() {
  const QString folder = PickFolder(this, QStringLiteral("Select a folder:"));
  if (folder.isEmpty()) return;  // cancelled: the box keeps its text
  pathText_ = folder + QLatin1Char('/');
  pathBytes_ = QFile::encodeName(pathText_).toStdString();
  pathBox_->setText(pathText_);
}

void COutputPathDlg::accept() {
  // Stored as shown: no check that it exists, no separator added; the rip reports a folder
  // it cannot write into.
  ripSettings.outputPath = pathBytes_;
  SaveSettings(ripSettings);
  ShowMessageBox(this, {QStringLiteral("Setting Completed!"), QStringLiteral("Help"),
                        QMessageBox::Information, QMessageBox::Ok});
  QDialog::accept();
}
