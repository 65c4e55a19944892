// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "platform/device_watch.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

namespace {

constexpr uint32_t kImageEvents =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_MOVED_FROM;

bool Is(const char* value, const char* expected) {
  return value && std::strcmp(value, expected) == 0;
}

}  // namespace

DeviceWatcher::DeviceWatcher(const std::vector<std::string>& imagePaths, Callback callback)
    : callback_(std::move(callback)) {
  udev_ = udev_new();
  if (udev_) udevMonitor_ = udev_monitor_new_from_netlink(udev_, "udev");
  if (udevMonitor_ &&
      (udev_monitor_filter_add_match_subsystem_devtype(udevMonitor_, "block", "disk") < 0 ||
       udev_monitor_enable_receiving(udevMonitor_) < 0)) {
    udevMonitor_ = udev_monitor_unref(udevMonitor_);
  }

  // A file is watched through its folder: an editor or mkdisc may replace it by a rename,
  // and a removed file may come back.
  inotify_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  for (const std::string& path : imagePaths) {
    if (inotify_ < 0) break;
    std::error_code error;
    const std::filesystem::path file = std::filesystem::absolute(path, error);
    if (error) continue;
    const int watch = inotify_add_watch(inotify_, file.parent_path().c_str(), kImageEvents);
    if (watch >= 0) images_.push_back({watch, file.filename(), file.stem()});
  }
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ >= 0) thread_ = std::thread(&DeviceWatcher::Run, this);
}

DeviceWatcher::~DeviceWatcher() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    if (write(wake_, &one, sizeof one) != sizeof one) {
      // An eventfd write only fails at its counter's limit, which one write cannot reach.
    }
    thread_.join();
  }
  if (wake_ >= 0) close(wake_);
  if (inotify_ >= 0) close(inotify_);
  if (udevMonitor_) udev_monitor_unref(udevMonitor_);
  if (udev_) udev_unref(udev_);
}

void DeviceWatcher::Run() {
  pollfd fds[3] = {{wake_, POLLIN, 0},
                   {inotify_, POLLIN, 0},
                   {udevMonitor_ ? udev_monitor_get_fd(udevMonitor_) : -1, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents) return;
    if (fds[1].revents & POLLIN) ReadInotify();
    if (fds[2].revents & POLLIN) ReadUdev();
  }
}

void DeviceWatcher::ReadUdev() {
  udev_device* device = udev_monitor_receive_device(udevMonitor_);
  if (!device) return;
  const char* sysname = udev_device_get_sysname(device);
  const bool optical = Is(udev_device_get_property_value(device, "ID_CDROM"), "1") ||
                       (sysname && std::strncmp(sysname, "sr", 2) == 0);
  if (optical) {
    const char* action = udev_device_get_action(device);
    const bool inserted = Is(action, "change") &&
                          Is(udev_device_get_property_value(device, "DISK_MEDIA_CHANGE"), "1") &&
                          Is(udev_device_get_property_value(device, "ID_CDROM_MEDIA"), "1");
    callback_(Is(action, "add") || inserted ? DeviceChange::kArrival : DeviceChange::kOther);
  }
  udev_device_unref(device);
}

void DeviceWatcher::ReadInotify() {
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t got = read(inotify_, buffer, sizeof buffer);
    if (got <= 0) return;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->len == 0) continue;
      const std::filesystem::path name(event->name);
      bool ours = false;
      for (const ImageWatch& image : images_) {
        ours =
            ours || (image.watch == event->wd && (name == image.name || name.stem() == image.stem));
      }
      if (!ours) continue;
      const bool arrival = event->mask & (IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE);
      callback_(arrival ? DeviceChange::kArrival : DeviceChange::kOther);
    }
  }
}
