// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Commands Obrin sends a CD drive itself, through libcdio's MMC layer, where libcdio's own
// reading stops short: READ CD with C2 error pointers or outside the disc's audio (the lead-in
// and lead-out a read offset may need), TEST UNIT READY with its sense, and a timing test of
// the drive's audio cache. Each works on an open libcdio drive; images have none of this.
#include <cstdint>
#include <functional>
#include <string>

// libcdio's handle, declared as its header does: that header cannot sit beside libcue's.
typedef struct _CdIo CdIo_t;

// The drive's identity (INQUIRY, padding squeezed out) and what its capabilities page says.
struct DriveIdentity {
  std::string vendor, model, revision;
  bool c2Pointers = false;  // page 2A: C2 error pointers can be read with the audio
};
DriveIdentity ReadDriveIdentity(CdIo_t* cdio);

// "Drive VENDOR MODEL": the settings section of a drive model (its own read offset), from
// the identity as the drive reports it, trimmed, with runs of blanks inside made one.
std::string DriveSettingsSection(const std::string& vendor, const std::string& model);

// What one command came back with.
struct DriveReply {
  enum Kind { kOk, kOutOfRange, kReadError, kNotReady, kNoDisc, kOther } kind = kOther;
  uint8_t key = 0, asc = 0, ascq = 0;  // the sense, where the drive gave one
  bool TrayOpen() const { return kind == kNoDisc && ascq == 0x02; }
};

// READ CD of `count` CD-DA sectors from `lsn` (which may be negative, or past the lead-out:
// the drive decides) into `audio` (2352 bytes each); with `c2` non-null, the drive's 294
// bytes of C2 error bits per sector go there, one bit per audio byte, most significant first.
DriveReply ReadCdAudio(CdIo_t* cdio, int32_t lsn, uint32_t count, uint8_t* audio, uint8_t* c2);

// The Q sub-channel of the sector at `lsn` (READ CD with formatted Q, 16 bytes after the
// audio; raw P-W's Q where `raw`), into `q` (16 bytes; raw: the 12 deinterleaved ones).
DriveReply ReadSubchannelQ(CdIo_t* cdio, int32_t lsn, bool raw, uint8_t* q);
// The formatted Q of `count` sectors from `lsn` in one command, 16 bytes each, into `q`.
DriveReply ReadSubchannelQRun(CdIo_t* cdio, int32_t lsn, uint32_t count, uint8_t* q);

// TEST UNIT READY: kOk, kNotReady (becoming ready), kNoDisc (TrayOpen() when the tray is
// open) or kOther.
DriveReply TestUnitReady(CdIo_t* cdio);

// The drive's audio cache in sectors, found by timing: a sector read again after N others
// comes back at once while it is still cached, and needs the disc (a seek) once N sectors
// have pushed it out. Reads about four times the cache (at most 4 x `limit` sectors) from
// [from, from + span); 0 when a re-read of a sector just read is no faster than one from the
// disc (no cache), or the area is too small to tell; the most the area can tell when the
// cache is larger. `sectorsRead` counts what the test read; `onRead` is told of each read.
uint32_t MeasureAudioCache(CdIo_t* cdio, int32_t from, uint32_t span, uint32_t limit,
                           uint64_t& sectorsRead,
                           const std::function<void(int32_t lsn, uint32_t count)>& onRead = {});
