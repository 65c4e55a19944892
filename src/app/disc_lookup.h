// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Naming a disc from MusicBrainz as it is loaded, when the user has asked for that: one
// request per disc on a thread of its own, the answer handed back on the window's thread, and
// the release it chose remembered for the disc, so that a list rebuilt from the same disc (a
// format or settings change) is named again without asking again.
#include <QObject>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "disc/musicbrainz.h"

class DiscLookUp {
 public:
  // `owner` (which holds this as a member) receives the answers; `taken` runs on its thread with
  // the disc's identity and the lookup once it has been asked for.
  using Taken = std::function<void(const std::string& disc, const MusicBrainzLookup& lookup)>;
  DiscLookUp(QObject* owner, Taken taken);
  // Cancels a lookup under way and waits for its thread.
  ~DiscLookUp();

  // Asks for `disc` unless it was asked for already or a lookup runs; true when asked.
  bool Ask(const std::string& disc, const std::string& server, const MusicBrainzToc& toc,
           size_t audioTracks);
  // The release remembered for `disc`, when there is one.
  const MusicBrainzRelease* ReleaseFor(const std::string& disc) const;
  void Remember(const std::string& disc, const MusicBrainzRelease& release);
  bool running() const { return thread_.joinable(); }

 private:
  QObject* owner_;
  Taken taken_;
  std::thread thread_;
  std::atomic<bool> cancelled_{false};
  std::string askedDisc_;
  std::string namedDisc_;
  std::optional<MusicBrainzRelease> release_;
};
