// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "app/gui_rip_host.h"

#include <QCoreApplication>
#include <QThread>

#include "app/message_box.h"

namespace {
MessageBoxRequest ErrorBoxRequest(const std::string& text) {
  return {QString::fromLocal8Bit(text.c_str()), QStringLiteral("Obrin error"),
          QMessageBox::Information, QMessageBox::Ok};
}
}  // namespace

void GuiRipHost::BeginJob(uint64_t listGeneration) {
  generation_ = listGeneration;
  std::lock_guard lock(mutex_);
  stopRequested_ = false;
  lastAnswered_ = lastAsked_;
}

void GuiRipHost::PostProgress(TrackRecord& track) {
  QCoreApplication::postEvent(frame_, new RipProgressEvent(&track, generation_));
}

void GuiRipHost::PostFinished() {
  QCoreApplication::postEvent(frame_, new QEvent(kRipFinishedEvent));
}

void GuiRipHost::ShowErrorBox(const std::string& text) {
  if (QThread::currentThread() == frame_->thread()) {
    // No worker could start: the user-interface thread itself reports it.
    boxOpen_ = true;
    ShowMessageBox(dialogParent_, ErrorBoxRequest(text));
    boxOpen_ = false;
    return;
  }
  std::unique_lock lock(mutex_);
  if (stopRequested_) return;
  const uint64_t serial = ++lastAsked_;
  QCoreApplication::postEvent(frame_, new RipErrorBoxEvent(text, serial));
  answered_.wait(lock, [&] { return lastAnswered_ >= serial || stopRequested_; });
}

void GuiRipHost::StopRequested() {
  {
    std::lock_guard lock(mutex_);
    stopRequested_ = true;
  }
  answered_.notify_all();
  // The stop came from inside the box's own event loop (a close of the session, say).
  if (boxOpen_) CloseOpenMessageBox();
}

void GuiRipHost::AnswerErrorBox(const RipErrorBoxEvent& event) {
  {
    std::lock_guard lock(mutex_);
    if (stopRequested_ || event.serial <= lastAnswered_) return;
  }
  boxOpen_ = true;
  ShowMessageBox(dialogParent_, ErrorBoxRequest(event.text));
  boxOpen_ = false;
  {
    std::lock_guard lock(mutex_);
    if (event.serial > lastAnswered_) lastAnswered_ = event.serial;
  }
  answered_.notify_all();
}
