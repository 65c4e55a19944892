// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// How the rip engine talks to its host (the window, the terminal front end, or a test).
// A job never touches the user interface itself: everything goes through this interface.
#include <string>

struct TrackRecord;

class RipHost {
 public:
  virtual ~RipHost() = default;
  // WM_RIP_PROGRESS: `track`'s status changed. Called on the worker; must not block.
  virtual void PostProgress(TrackRecord& track) = 0;
  // WM_RIP_FINISHED: the job's very last action, after ripFinished became 1.
  virtual void PostFinished() = 0;
  // The "Obrin error" box. Called on the worker; holds the worker until the user closes it.
  // Also called on the user-interface thread by StartRipJob when no worker can be started.
  // A host must let a stop or close end the wait rather than hang (see StopRequested).
  virtual void ShowErrorBox(const std::string& text) = 0;
  // The worker begins a ticked track that will be written to `outputName`.
  virtual void TrackStarted(TrackRecord& track, const std::string& outputName) {
    (void)track;
    (void)outputName;
  }
  // Called on the stopping thread by StopRipJob before it waits for the worker: an error box
  // that is open must close now, and later ones must not wait for the user.
  virtual void StopRequested() {}
  // Whether a capture that a stop ended leaves its temporary PCM file behind (the window's
  // way: the next capture overwrites it). Asked on the worker.
  virtual bool KeepsStoppedCapture() const { return true; }
};
