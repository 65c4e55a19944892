// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// COutputPathDlg ("Output Setting"): shows the output folder, lets the user pick another with
// the folder picker, and on Save stores it and writes the settings file.
#include <QDialog>
#include <QString>
#include <functional>
#include <string>

class QLineEdit;
class QPushButton;

// The folder picker: the chosen folder, or an empty text when the user cancelled. Tests
// replace it (SetFolderPicker) so that no real file dialog opens.
using FolderPicker = std::function<QString(QWidget* parent, const QString& title)>;
void SetFolderPicker(FolderPicker picker);  // empty: the real picker again
QString PickFolder(QWidget* parent, const QString& title);

class COutputPathDlg : public QDialog {
  Q_OBJECT
 public:
  explicit COutputPathDlg(QWidget* parent = nullptr);

  void BrowseForOutputFolder();
  void accept() override;  // SaveOutputPath, then close with OK

  const QString& pathText() const { return pathText_; }
  QLineEdit* pathBox() const { return pathBox_; }
  QPushButton* browseButton() const { return browse_; }

 private:
  QString pathText_;
  std::string pathBytes_;  // what Save stores: the record's own bytes until a browse
  QLineEdit* pathBox_;
  QPushButton* browse_;
};
