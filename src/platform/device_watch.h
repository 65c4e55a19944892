// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Tells when the discs may have changed: optical drives through udev (a disc inserted or
// removed, a drive added or removed) and disc image files through inotify (written,
// replaced or removed). Without udev (a container) only the images are watched.
#include <functional>
#include <string>
#include <thread>
#include <vector>

enum class DeviceChange {
  kArrival,  // a disc inserted, a drive added, an image file created or rewritten
  kOther,    // anything else: a disc or drive gone, an image file removed
};

class DeviceWatcher {
 public:
  using Callback = std::function<void(DeviceChange)>;
  // `callback` runs on the watcher's own thread.
  DeviceWatcher(const std::vector<std::string>& imagePaths, Callback callback);
  ~DeviceWatcher();
  DeviceWatcher(const DeviceWatcher&) = delete;
  DeviceWatcher& operator=(const DeviceWatcher&) = delete;

  bool watchesDrives() const { return udevMonitor_ != nullptr; }

 private:
  struct ImageWatch {
    int watch;
    std::string name;  // the image's file name
    std::string stem;  // its name without the extension: "disc.bin" goes with "disc.cue"
  };
  void Run();
  void ReadUdev();
  void ReadInotify();

  Callback callback_;
  struct udev* udev_ = nullptr;
  struct udev_monitor* udevMonitor_ = nullptr;
  int inotify_ = -1;
  int wake_ = -1;  // an eventfd that ends the thread
  std::vector<ImageWatch> images_;
  std::thread thread_;
};
