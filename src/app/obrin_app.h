// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// CObrinApp: Obrin's start-up, in its fixed order: settings, single instance, drives, the main
// frame with its splash, the first disc load (timer 1 of the frame).
#include <QLockFile>
#include <memory>

#include "app/app_options.h"

class QApplication;

// Takes the single-instance lock "Obrin.lock" in the runtime folder. Held while the returned
// object lives; null (after the "The Obrin is running!" notice) when another Obrin holds it.
// A lock left by a process that no longer runs never blocks.
std::unique_ptr<QLockFile> TakeInstanceLock();

class CMainFrame;

class CObrinApp {
 public:
  CObrinApp();
  ~CObrinApp();
  // Start-up up to the shown frame; false when the program is to end now (another Obrin
  // runs). Message boxes on the way are modal.
  bool InitInstance(const AppOptions& options);

  bool noCdDrives = false;
  CMainFrame* frame() const { return frame_.get(); }

 private:
  std::unique_ptr<QLockFile> instance_;
  std::unique_ptr<CMainFrame> frame_;
};

// Everything after the command line: returns the process's exit status.
int RunObrin(QApplication& app, const AppOptions& options);
