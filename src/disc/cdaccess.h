#pragma once
// The CD-access library: the call contract and byte layouts through which Obrin reaches
// every drive and disc image. Nothing else in the program talks to libcdio.
//
// Devices are the real optical drives libcdio finds, followed by the disc images named with
// SetCdImages(), each image acting as one drive; at most kMaxCdDevices in all. Tests can put
// scripted devices behind the same calls with SetCdDevices().
//
// Every call is safe from any thread; one handle is used by one thread at a time.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

constexpr int kMaxCdDevices = 8;
constexpr uint32_t kSectorBytes = 2352;  // one sector of CD audio: 588 stereo 16-bit frames
constexpr uint32_t kSectorsPerSecond = 75;

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

// The CD-access library's own number for a disc id, computed from a TOC (first track to
// lead-out); exposed for tests.
uint32_t ComputeCddbDiscId(const TocBuffer& toc);
