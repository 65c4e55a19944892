// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// CTipOfDayDlg ("Tip of the Day"): one hint at a time from "tips.txt" beside the program.
// Constructing it reads a tip and destroying it remembers where the file was left, so every
// construction moves the remembered place on by one tip, whether or not it is shown. The place
// starts again at the first tip whenever the file has changed. The values live in the group
// "Tip" of the per-user profile: "StartUp" (0: show at start-up), "FilePos", "TimeStamp".
#include <QDialog>
#include <string>

#include "config/tips_file.h"

class QCheckBox;
class QLabel;
class QPushButton;

class CTipOfDayDlg : public QDialog {
  Q_OBJECT
 public:
  static constexpr const char* kHeading = "Did you know...";
  static constexpr const char* kNoFile = "Tips file does not exist in the prescribed directory";
  static constexpr const char* kReadTrouble = "Trouble reading the tips file";

  explicit CTipOfDayDlg(QWidget* parent = nullptr, const std::string& tipsPath = TipsPath());
  ~CTipOfDayDlg() override;

  // Start-up: constructs the dialog, shows it when "StartUp" asks for it, destroys it.
  static void ShowAtStartup(QWidget* parent, const std::string& tipsPath = TipsPath());
  // The program's folder + "tips.txt".
  static std::string TipsPath();

  bool showAtStartup() const { return showAtStartup_; }
  QString tipText() const;
  QCheckBox* startUpBox() const { return startUp_; }
  QPushButton* nextButton() const { return next_; }

  void OnNextTip();
  void accept() override;  // Close: stores "StartUp" from the check box

 private:
  void ReadNextTip();
  void ReadTrouble();

  TipsFile file_;
  bool showAtStartup_ = true;
  QLabel* tip_;
  QCheckBox* startUp_;
  QPushButton* next_;
};
