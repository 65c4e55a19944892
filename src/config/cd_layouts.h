// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The byte layouts of the CD-access contract (drive list, open request, table of contents,
// audio read buffer) and the units of CD audio. They sit at the bottom of the program because
// the settings record embeds them (each drive's open request and last table of contents);
// the calls that fill them are in disc/cdaccess.h.
#include <cstddef>
#include <cstdint>

constexpr int kMaxCdDevices = 8;
constexpr uint32_t kSectorBytes = 2352;  // one sector of CD audio: 588 stereo 16-bit frames
constexpr uint32_t kSectorsPerSecond = 75;
// Lead-out, lead-in and pregap between the audio session of an enhanced CD and its data
// session: the audio ends this far before the data track starts.
constexpr uint32_t kSessionGapSectors = 11400;

#pragma pack(push, 1)
struct DeviceEntry {
  uint8_t hostAdapter;
  uint8_t target;
  uint8_t lun;
  uint8_t reserved;
  char identification[117];  // NUL-terminated
};

struct DeviceList {
  uint8_t capacity;  // callers zero the whole list, so this is 0
  uint8_t count;     // number of devices found
  DeviceEntry entries[kMaxCdDevices];
};

struct OpenRequest {
  uint8_t size;     // 12
  uint8_t version;  // 1
  uint8_t hostAdapter;
  uint8_t target;
  uint8_t lun;
  uint8_t reserved[7];
};

struct TocEntry {
  uint8_t reserved1;
  uint8_t adrControl;   // ADR in the high nibble, control in the low one; 0x04 marks a data track
  uint8_t trackNumber;  // 0xAA for the lead-out
  uint8_t reserved2;
  uint8_t address[4];  // start sector (logical sector number, track 1 at 0), big-endian
};

struct TocBuffer {
  uint16_t length;  // bytes that follow this field: 2 + 8 * (tracks + lead-out)
  uint8_t firstTrack;
  uint8_t lastTrack;
  TocEntry entries[100];  // first track first; the entry after the last track is the lead-out
};

// Header of an audio read buffer; the data bytes follow it directly in the same allocation.
struct TrackBuffer {
  uint32_t startSector;
  uint32_t sectorCount;
  uint32_t capacity;         // bytes of data behind the header
  uint32_t deliveredLength;  // bytes delivered by the last successful read; 0 after a failure
  uint32_t status;           // CdAspiStatus of the last read
  int32_t offset;            // position of the first delivered byte within the data
};
#pragma pack(pop)

static_assert(sizeof(DeviceEntry) == 121);
static_assert(sizeof(DeviceList) == 2 + 8 * 121);
static_assert(sizeof(OpenRequest) == 12);
static_assert(sizeof(TocEntry) == 8);
static_assert(sizeof(TocBuffer) == 804);
static_assert(offsetof(TocBuffer, entries) == 4);
static_assert(sizeof(TrackBuffer) == 24);
static_assert(offsetof(TrackBuffer, offset) == 20);

inline uint8_t* TrackBufferData(TrackBuffer* buffer) {
  return reinterpret_cast<uint8_t*>(buffer) + sizeof(TrackBuffer);
}
inline uint32_t TocEntryAddress(const TocEntry& entry) {
  return (uint32_t{entry.address[0]} << 24) | (uint32_t{entry.address[1]} << 16) |
         (uint32_t{entry.address[2]} << 8) | uint32_t{entry.address[3]};
}
inline void SetTocEntryAddress(TocEntry& entry, uint32_t sector) {
  entry.address[0] = static_cast<uint8_t>(sector >> 24);
  entry.address[1] = static_cast<uint8_t>(sector >> 16);
  entry.address[2] = static_cast<uint8_t>(sector >> 8);
  entry.address[3] = static_cast<uint8_t>(sector);
}
