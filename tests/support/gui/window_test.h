// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// What the tests that drive the window share: the real frame over a disc image on Qt's
// offscreen platform (set by offscreen_main.cpp), message boxes answered and kept.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QTimer>

#include "app/main_frame.h"
#include "app/message_box.h"
#include "app/output_path_dlg.h"
#include "config/settings.h"
#include "disc/cd_device.h"
#include "support/named_control.h"
#include "support/recording_host.h"
#include "support/test_env.h"
#include "ui/obrin_view.h"

// Message boxes are answered with OK, after `answer_` ran, and kept as "caption: text" in
// boxes_. LoadMadeDisc makes a disc image of mkdisc's arguments the only drive (LoadDisc: of
// tracks `lengths` sectors long); OpenFrame adds a frame over it with timer 1 stopped.
class WindowTest : public ::testing::Test {
 protected:
  WindowTest() {
    SetMessageBoxHandler([this](const MessageBoxRequest& r) {
      boxes_.push_back((r.caption + ": " + r.text).toStdString());
      if (answer_) answer_(r);
      return QMessageBox::Ok;
    });
  }
  ~WindowTest() override {
    frame_.reset();
    SetMessageBoxHandler({});
    SetFolderPicker({});
    SetCdImages({});
  }
  void LoadMadeDisc(const std::vector<std::string>& mkdiscArgs, int32_t format,
                    const std::string& outFolder = "") {
    cue_ = MakeDiscAt(dir_ / "disc.cue", mkdiscArgs);
    SetCdImages({cue_});
    out_ = outFolder.empty() ? dir_ / "out/" : outFolder;
    PrepareRipSettings(out_, format);
  }
  void LoadDisc(const std::string& lengths, int32_t format, const std::string& outFolder = "") {
    LoadMadeDisc({"--lengths", lengths}, format, outFolder);
  }
  void OpenFrame(const std::string& lengths, int32_t format = Mp3,
                 const std::string& outFolder = "") {
    LoadDisc(lengths, format, outFolder);
    frame_ = std::make_unique<CMainFrame>();
    frame_->timer1().stop();
    frame_->ReloadDisc();
  }
  // Runs `open`; the modal dialog of type D it opens is handed to `act`, then closed with the
  // button named `button` (or rejected). Returns the modal's class name, empty when none opened.
  template <typename D>
  std::string WithDialog(const std::function<void()>& open, const std::function<void(D&)>& act,
                         const char* button = "OK") {
    std::string opened;
    QTimer::singleShot(0, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal) return;
      opened = modal->metaObject()->className();
      if (auto* dialog = qobject_cast<D*>(modal)) {
        if (act) act(*dialog);
        if (QPushButton* b = Named<QPushButton>(dialog, button)) b->click();
      }
      if (modal->isVisible()) static_cast<QDialog*>(modal)->reject();
    });
    open();
    QCoreApplication::processEvents();
    return opened;
  }
  QString Cell(int row, int column) const { return frame_->listView()->RowText(row, column); }
  int Rows() const { return frame_->listView()->topLevelItemCount(); }
  std::string Ini() const { return ReadFile(config_.iniPath()); }
  bool IniHas(const std::string& text) const { return Ini().find(text) != std::string::npos; }

  ScopedConfigHome config_;
  TempDir dir_;
  std::string cue_, out_;
  std::vector<std::string> boxes_;
  std::function<void(const MessageBoxRequest&)> answer_;
  std::unique_ptr<CMainFrame> frame_;
};
