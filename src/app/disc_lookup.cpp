// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "app/disc_lookup.h"

#include <QMetaObject>

DiscLookUp::DiscLookUp(QObject* owner, Taken taken) : owner_(owner), taken_(std::move(taken)) {}

DiscLookUp::~DiscLookUp() {
  cancelled_ = true;
  if (thread_.joinable()) thread_.join();
}

bool DiscLookUp::Ask(const std::string& disc, const std::string& server, const MusicBrainzToc& toc,
                     size_t audioTracks) {
  if (disc.empty() || disc == askedDisc_ || thread_.joinable()) return false;
  askedDisc_ = disc;
  thread_ = std::thread([this, disc, server, toc, audioTracks] {
    MusicBrainzLookup lookup =
        LookUpMusicBrainz(server, toc, audioTracks, [this] { return cancelled_.load(); });
    if (cancelled_) return;
    // Queued to the owner, whose member this is: a call still queued when the owner goes is
    // dropped with it, so `this` outlives every call that runs.
    QMetaObject::invokeMethod(
        owner_,
        [this, disc, lookup = std::move(lookup)] {
          if (thread_.joinable()) thread_.join();
          if (lookup.kind == MusicBrainzLookup::kFound) Remember(disc, lookup.releases.front());
          // A failed lookup is asked again at the disc's next load; an answer is final.
          if (lookup.kind == MusicBrainzLookup::kFailed) askedDisc_.clear();
          taken_(disc, lookup);
        },
        Qt::QueuedConnection);
  });
  return true;
}

const MusicBrainzRelease* DiscLookUp::ReleaseFor(const std::string& disc) const {
  return release_ && disc == namedDisc_ ? &*release_ : nullptr;
}

void DiscLookUp::Remember(const std::string& disc, const MusicBrainzRelease& release) {
  namedDisc_ = disc;
  release_ = release;
}
