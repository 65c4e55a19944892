// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The window's RipHost: the worker's messages become Qt events posted to the main frame, and
// its error boxes are shown modally on the user-interface thread while the worker waits.
#include <QEvent>
#include <QObject>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "capture/rip_host.h"

class QWidget;

inline constexpr QEvent::Type kRipProgressEvent = static_cast<QEvent::Type>(QEvent::User + 2);
inline constexpr QEvent::Type kRipFinishedEvent = static_cast<QEvent::Type>(QEvent::User + 3);
inline constexpr QEvent::Type kRipErrorBoxEvent = static_cast<QEvent::Type>(QEvent::User + 4);

// WM_RIP_PROGRESS. `generation` names the track list the record belonged to when the job
// started; a reload makes a new one, and events of an older list are dropped unread.
struct RipProgressEvent : QEvent {
  RipProgressEvent(TrackRecord* t, uint64_t g)
      : QEvent(kRipProgressEvent), track(t), generation(g) {}
  TrackRecord* track;
  uint64_t generation;
};

struct RipErrorBoxEvent : QEvent {
  RipErrorBoxEvent(std::string t, uint64_t s)
      : QEvent(kRipErrorBoxEvent), text(std::move(t)), serial(s) {}
  std::string text;
  uint64_t serial;
};

class GuiRipHost : public RipHost {
 public:
  // `frame` receives the events; `dialogParent` owns the error boxes.
  GuiRipHost(QObject* frame, QWidget* dialogParent) : frame_(frame), dialogParent_(dialogParent) {}

  // Before each job: the generation of the list whose records it rips; forgets an old stop.
  void BeginJob(uint64_t listGeneration);

  void PostProgress(TrackRecord& track) override;
  void PostFinished() override;
  void ShowErrorBox(const std::string& text) override;
  void StopRequested() override;

  // On the user-interface thread, for a kRipErrorBoxEvent: shows the box unless a stop came
  // first, then lets the worker go on.
  void AnswerErrorBox(const RipErrorBoxEvent& event);

 private:
  QObject* frame_;
  QWidget* dialogParent_;
  std::atomic<uint64_t> generation_{0};
  std::mutex mutex_;
  std::condition_variable answered_;
  bool stopRequested_ = false;
  uint64_t lastAsked_ = 0;
  uint64_t lastAnswered_ = 0;
  bool boxOpen_ = false;  // user-interface thread only
};
