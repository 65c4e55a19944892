// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// What sits behind the CD-access calls: one object per drive or disc image. The real ones
// come from libcdio (DiscoverCdDevices); tests script their own.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "disc/cdaccess.h"
#include "disc/drive_commands.h"

// One open disc; used by one thread at a time.
class CdSession {
 public:
  virtual ~CdSession() = default;
  // Fills a zeroed TocBuffer; false when the disc has no readable TOC.
  virtual bool ReadToc(TocBuffer& toc) = 0;
  // Reads buffer.sectorCount sectors from buffer.startSector into the buffer's data (the
  // request is already checked against the capacity). On success sets deliveredLength and
  // offset and returns true; on failure sets the two error numbers and returns false.
  virtual bool ReadAudio(TrackBuffer& buffer, uint32_t& libError, uint32_t& aspiStatus) = 0;
  // The disc's CD-Text (its first block's language); false when it has none.
  virtual bool ReadCdText(DiscCdText& text) {
    (void)text;
    return false;
  }
  // Sectors of each TOC track's pregap (its index 0 before its index 1), in TOC order; false
  // when the disc does not say.
  virtual bool ReadPregaps(std::vector<uint32_t>& sectors) {
    (void)sectors;
    return false;
  }
  // Each TOC track's indexes 02 and up, in TOC order; false when the disc does not say.
  virtual bool ReadIndexes(std::vector<std::vector<TrackIndexMark>>& marks) {
    (void)marks;
    return false;
  }
  // What reading the disc's layout (its pregaps, indexes and codes) found that the user
  // should know, one sentence each.
  virtual std::vector<std::string> LayoutNotes() const { return {}; }
  // What the user should know about how the disc was opened (an image's file that stood in
  // for the one named), one sentence each.
  virtual std::vector<std::string> OpenNotes() const { return {}; }
  // ModifyCDParms options; false when not understood.
  virtual bool SetOption(int which, uint32_t value) = 0;

  // A real drive's own commands; an image has none (IsDrive false, every other call fails).
  virtual bool IsDrive() const { return false; }
  virtual DriveIdentity Identity() { return {}; }
  // The drive's audio cache in sectors (0: none found), measured once per disc; its reads
  // are counted in `sectorsRead`. The session's error-correcting reads are told the size.
  virtual bool MeasureCache(uint32_t& sectors, uint64_t& sectorsRead) {
    (void)sectors, (void)sectorsRead;
    return false;
  }
  // Reads `sectors` sectors of the disc's audio outside [avoidFrom, avoidFrom + avoidCount),
  // so that nothing of that stretch can still be in the drive's cache. False when the disc's
  // audio elsewhere is shorter than that (what there is was read) or a read failed.
  virtual bool ReadElsewhere(uint32_t avoidFrom, uint32_t avoidCount, uint32_t sectors) {
    (void)avoidFrom, (void)avoidCount, (void)sectors;
    return false;
  }
  // READ CD straight from the drive, past libcdio's checks: with C2 error bits (`c2` non-null)
  // or outside the disc's audio (a negative `lsn`, or from the lead-out on).
  virtual DriveReply ReadRaw(int32_t lsn, uint32_t count, uint8_t* audio, uint8_t* c2) {
    (void)lsn, (void)count, (void)audio, (void)c2;
    return {};
  }
};

class CdDevice {
 public:
  virtual ~CdDevice() = default;
  // Identification text shown in the drive list.
  virtual std::string Description() const = 0;
  // True for a disc image; the drive list gives images host adapter 1, real drives 0.
  virtual bool IsImage() const { return false; }
  // The device file of a drive ("/dev/sr0") or the path of an image: what playback and
  // eject name the drive by.
  virtual std::string DeviceName() const { return Description(); }
  // Null when the device cannot be opened or holds no disc.
  virtual std::unique_ptr<CdSession> Open() = 0;
  // Open(), and when it gives null, why, as a sentence for the user (empty when there is
  // nothing more to say than "no disc").
  virtual std::unique_ptr<CdSession> OpenExplained(std::string& why) {
    why.clear();
    return Open();
  }
  // Opens the tray of a real drive; unloads an image, which then holds no disc until its
  // file changes. False when that cannot be done.
  virtual bool Eject() { return false; }
};

using CdDeviceList = std::vector<std::shared_ptr<CdDevice>>;

// One track as a CdSession knows it, for FillTocBuffer.
struct CdTocTrack {
  uint32_t start = 0;   // logical sector number of the first sector
  uint8_t control = 0;  // 0x04 data track, 0x02 copy permitted, 0x01 pre-emphasis
};

// Zeroes `toc` and fills it: tracks numbered from `firstTrack`, then the lead-out (0xAA).
// False, leaving it zeroed, for no tracks or track numbers beyond 99.
bool FillTocBuffer(uint8_t firstTrack, const std::vector<CdTocTrack>& tracks, uint32_t leadOut,
                   TocBuffer& toc);

// The real optical drives libcdio finds, then one device per image path; at most
// kMaxCdDevices in all (later ones are dropped).
CdDeviceList DiscoverCdDevices(const std::vector<std::string>& imagePaths);

// Replaces the devices behind GetCDList / GetCDHandle. Handles opened before stay valid.
void SetCdDevices(CdDeviceList devices);
// The DeviceName of each device of the current list, in list order.
std::vector<std::string> GetCdDeviceNames();
// The device of the current list with that DeviceName; null when there is none.
std::shared_ptr<CdDevice> FindCdDevice(const std::string& deviceName);

// Empty when the NRG image at `path` has a chunk table that libcdio's parser can take
// safely; otherwise what is wrong with it.
std::string NrgStructureProblem(const std::string& path);

// Polled while a drive that is becoming ready is waited for (up to 20 s): true ends the
// wait. Set once, before any drive is opened.
void SetCdWaitCancel(std::function<bool()> cancelled);

// Same as SetCdDevices(DiscoverCdDevices(imagePaths)).
void SetCdImages(const std::vector<std::string>& imagePaths);
