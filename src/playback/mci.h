// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Obrin's media control layer for CD audio: open a drive as a CD-audio device, ask for a
// track's length, play a stretch of the disc, stop, close, open the door.
//
// Devices are named by the drive's device name, as FindCdDriveLetters lists them. Play reads
// the disc's audio through the CD-access library on a thread of its own and streams it to
// ALSA: the PCM "default", or the one named by OBRIN_AUDIO_DEVICE (e.g. "null"). No call
// waits on the audio; MciStop returns within about 100 ms.
//
// Calls come from one thread (the user interface); the notice of MciPlay comes from the
// player's thread.
#include <cstdint>
#include <functional>
#include <string>

using MciDeviceId = uint32_t;
constexpr MciDeviceId kNoMciDevice = 0;

// Tracks, minutes, seconds, frames: the track in the lowest byte.
constexpr uint32_t MciMakeTmsf(uint32_t track, uint32_t minutes, uint32_t seconds,
                               uint32_t frames) {
  return (track & 0xFF) | (minutes & 0xFF) << 8 | (seconds & 0xFF) << 16 | (frames & 0xFF) << 24;
}
// Minutes, seconds, frames in the three low bytes, minutes lowest.
constexpr uint32_t MciMsfMinute(uint32_t msf) {
  return msf & 0xFF;
}
constexpr uint32_t MciMsfSecond(uint32_t msf) {
  return (msf >> 8) & 0xFF;
}
constexpr uint32_t MciMsfFrame(uint32_t msf) {
  return (msf >> 16) & 0xFF;
}

enum class MciNotice { kSuccessful, kAborted, kFailure };
using MciNotify = std::function<void(MciNotice)>;

enum class MciMode { kNotReady, kStopped, kPlaying };

// Opens the drive named `element`. With `wait` the open also waits for the disc and the
// sound output to be ready, and fails when there is no readable disc or the ALSA device
// cannot be opened; without it the drive only has to exist (enough to open its door).
// kNoMciDevice on failure.
MciDeviceId MciOpenCdAudio(const std::string& element, bool wait);
// Positions are given in TMSF from now on; false for an unknown device.
bool MciSetTimeFormatTmsf(MciDeviceId device);
// The length of `track` (its number on the disc) as MSF; false when the device is not open
// with the TMSF format, the disc cannot be read or it has no such track.
bool MciStatusLength(MciDeviceId device, uint32_t track, uint32_t& msf);
// Plays from `from` up to `to` (TMSF, `to` excluded), stopping what the device played
// before. Returns once playback has started; `notify`, when given, is told how it ended
// (played to the end, stopped, or a read or audio error). False, with nothing played, for a
// range that is empty, past the disc or crosses a data track.
bool MciPlay(MciDeviceId device, uint32_t from, uint32_t to, MciNotify notify = {});
MciMode MciStatusMode(MciDeviceId device);
bool MciStop(MciDeviceId device);
// Stops and forgets the device.
bool MciClose(MciDeviceId device);
// Opens the drive's door: a real drive's tray opens; a disc image is unloaded and reads as
// an empty drive until its file changes.
bool MciSetDoorOpen(MciDeviceId device);
