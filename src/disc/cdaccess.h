// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The CD-access library: the call contract through which Obrin reaches every drive and disc
// image (its byte layouts are in config/cd_layouts.h). Nothing else in the program talks to
// libcdio.
//
// Devices are the real optical drives libcdio finds, followed by the disc images named with
// SetCdImages(), each image acting as one drive; at most kMaxCdDevices in all. Tests can put
// scripted devices behind the same calls with SetCdDevices().
//
// Every call is safe from any thread; one handle is used by one thread at a time.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/cd_layouts.h"
#include "config/disc_model.h"

struct TrackBufferDeleter {
  void operator()(TrackBuffer* buffer) const noexcept;
};
using TrackBufferPtr = std::unique_ptr<TrackBuffer, TrackBufferDeleter>;

// A zeroed buffer for `sectors` sectors with `capacity` set; null when memory is short.
TrackBufferPtr AllocTrackBuffer(uint32_t sectors);

using CdHandle = uint32_t;  // 0 is "not open": every call on it fails
constexpr CdHandle kNoCdHandle = 0;

// Numbers left behind by a failed call, for the calling thread (GetAspiLibError).
enum CdLibError : uint32_t {
  kCdOk = 0,
  kCdErrInvalidHandle = 1,  // the handle is not open (no disc, device gone, never opened)
  kCdErrBadRequest = 2,     // null buffer, zero sectors, or more sectors than the buffer holds
  kCdErrRead = 3,           // the device reported an I/O error for the range
  kCdErrPastEnd = 4,        // the range runs past the disc's or the image's data
  kCdErrNoToc = 5,          // no table of contents could be read
};
// SCSI-request status in the style of ASPI (GetAspiLibAspiError; callers show the low byte).
enum CdAspiStatus : uint32_t {
  kAspiPending = 0x00,
  kAspiComplete = 0x01,
  kAspiError = 0x04,           // the command ran and failed
  kAspiInvalidCommand = 0x80,  // the request itself was malformed
  kAspiNoDevice = 0x82,        // no device or no medium behind the handle
};

// Options of ModifyCDParms.
enum CdParm : int {
  // Extra attempts the library makes on its own when a read fails, before it reports the
  // failure (0..10, default 0). A read past the end of the disc is not retried.
  kCdParmReadRetries = 37,
  // Error-correcting reads on real drives: 1 reads through libcdio-paranoia (jitter and
  // scratch correction), 0 plain reads (default 1). Images are exact copies; it has no effect.
  kCdParmParanoia = 38,
};

// Fills `list` with the devices; returns the number found (also stored in list->count).
int GetCDList(DeviceList* list);
// Opens the device named by `request`; kNoCdHandle when it has no readable disc.
CdHandle GetCDHandle(const OpenRequest* request);
// 1 on success; any other value is failure.
int ReadTOC(CdHandle handle, TocBuffer* toc);
// Word 0 receives the CDDB/freedb disc id; then, as far as `n` + 3 words reach, the track
// count, each track's start in frames (with the 150-frame lead-in) and the disc length in
// seconds. 1 on success.
int GetCDDBDiskID(CdHandle handle, uint32_t* buffer, int n);
// Fills `text` with the disc's CD-Text (cleaned: UTF-8, no control characters); 1 when the
// disc has any, 0 otherwise (`text` empty then).
int GetCdText(CdHandle handle, DiscCdText* text);
// Fills `sectors[0..count)` with the pregap of each TOC track (index 0 to index 1, 0 where
// there is none), in TOC order; 1 when the disc says, 0 otherwise (all zero then).
int GetTrackPregaps(CdHandle handle, uint32_t* sectors, int count);
// Fills `marks` with each TOC track's indexes 02 and up, in TOC order; 1 when the disc
// says, 0 otherwise (`marks` empty then).
int GetTrackIndexes(CdHandle handle, std::vector<std::vector<TrackIndexMark>>* marks);
// What reading the disc's layout through the handle (pregaps, indexes, CD-Text and codes)
// found that the user should know, one sentence each.
std::vector<std::string> GetDiscNotes(CdHandle handle);
// Sets one of the CdParm options; 1 when understood.
int ModifyCDParms(CdHandle handle, int which, uint32_t value);
// Reads buffer->sectorCount sectors from buffer->startSector. 1 on success, with
// buffer->deliveredLength bytes at data + buffer->offset; never reports bytes it did not read.
// A range that is not wholly on the disc (or in the image's data) fails with kCdErrPastEnd.
int ReadCDAudioLBA(CdHandle handle, TrackBuffer* buffer);
uint32_t GetAspiLibError();      // CdLibError of the calling thread's last failed call
uint32_t GetAspiLibAspiError();  // CdAspiStatus of the same
int CloseCDHandle(CdHandle handle);
// Why the calling thread's last GetCDHandle gave kNoCdHandle, as a sentence naming the
// device ("Cannot open disc image disc.cue: ..."); empty after a success, or when the
// device had nothing to say beyond "no disc".
std::string GetCDHandleErrorText();
// What the device said about the calling thread's last successful GetCDHandle (an image's
// file that stood in for the one it names), one sentence each.
std::vector<std::string> GetCDHandleNotes();

// --- A real drive's own commands (beyond the classic contract); every one fails on an image.

struct DriveFacts {
  std::string vendor, model, revision;
  bool c2Pointers = false;  // the drive says it can give C2 error pointers
};
// 1 for a real drive, with its identity; 0 for an image.
int GetDriveFacts(CdHandle handle, DriveFacts* facts);
// Measures the drive's audio cache (once per disc: later calls give the first answer) into
// `sectors`, 0 when none was found, adding the sectors the test read to `sectorsRead`; the
// handle's error-correcting reads are told its size. 1 when measured, 0 on an image.
int GetDriveCacheSectors(CdHandle handle, uint32_t* sectors, uint64_t* sectorsRead);
// Reads `sectors` sectors of audio away from [avoidFrom, avoidFrom + avoidCount) so that none
// of it can still be in the drive's cache. 1 when that much was read, 0 otherwise.
int ReadAwayFrom(CdHandle handle, uint32_t avoidFrom, uint32_t avoidCount, uint32_t sectors);
// What a raw read came to.
enum RawReadResult : int { kRawReadFailed = 0, kRawReadOk = 1, kRawReadRefused = 2 };
// Reads `count` sectors from `lsn` (negative: the lead-in; from the lead-out on: past the
// disc's end) straight from a drive into `audio` (2352 bytes each) and, with `c2` non-null,
// 294 bytes of C2 error bits per sector. kRawReadRefused when the drive refuses the
// address (out of range) or the C2 field; kRawReadFailed on a read error or an image.
int ReadCDAudioRaw(CdHandle handle, int32_t lsn, uint32_t count, uint8_t* audio, uint8_t* c2);

// The CD-access library's own number for a disc id, computed from a TOC (first track to
// lead-out); exposed for tests.
uint32_t ComputeCddbDiscId(const TocBuffer& toc);
