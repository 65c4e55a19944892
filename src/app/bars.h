// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The three bars of the main frame and where their controls go. Each bar paints its own
// background from its bitmaps; the frame places the controls from its outer width W.
#include <QWidget>
#include <vector>

enum class BarId { kMain, kSub, kState };

// One bar control: its place as a function of W (x counted from W when `fromRight`).
struct BarControlSpec {
  BarId bar;
  int controlId;
  int command;  // what a click sends to CMainFrame::OnCommand; 0 for the combo
  int x, y, width, height;
  bool fromRight;
  int normal, pressed, focused;  // images
  const char* name;              // tooltip and accessible name
};

// Every bar control in the order the frame creates them; the combo's width is W - 415.
const std::vector<BarControlSpec>& BarControls();
QRect BarControlRect(const BarControlSpec& spec, int outerWidth);

class QLabel;

class CDialogBar : public QWidget {
  Q_OBJECT
 public:
  CDialogBar(BarId id, QWidget* parent);
  BarId id() const { return id_; }
  // The state bar's text ("Ready" until told otherwise) and, when not empty, a "Log: PATH"
  // link after it; a click on the link emits logClicked(path).
  void SetStateText(const QString& text, const QString& logPath = QString());
  QString StateText() const;

 signals:
  void logClicked(const QString& path);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  BarId id_;
  QLabel* state_ = nullptr;  // the state bar's
};
