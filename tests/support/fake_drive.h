#pragma once
// A scripted CD drive for tests: put it behind the CD-access calls with SetCdDevices() and
// steer it from the test thread while a worker reads from it. Every knob and every counter
// is safe to use from any thread at any time.
//
// Audio is a fixed function of (sector, byte), so a test can check a ripped file byte for
// byte with ExpectedAudio(). Reads are counted per start sector: "attempt n at sector S" is
// the n-th ReadAudio call (1-based, over all sessions) whose start sector is S.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "disc/cd_device.h"

struct FakeTrack {
  uint32_t start = 0;
  uint32_t length = 0;  // sectors
  bool data = false;    // control bit 0x04
};

struct FakeReadCall {
  uint32_t start = 0;
  uint32_t count = 0;
  int attempt = 0;  // 1-based, per start sector
  bool succeeded = false;
};

class FakeDrive : public CdDevice {
 public:
  FakeDrive();
  ~FakeDrive() override;

  // The byte at position `offset` (0..2351) of `sector`.
  static uint8_t AudioByte(uint32_t sector, uint32_t offset);
  // The bytes of `count` sectors from `start`, as a successful read delivers them.
  static std::string ExpectedAudio(uint32_t start, uint32_t count);

  // --- the disc ---
  // TOC of tracks 1..n from {start, length, data}; the lead-out follows the last track.
  void SetTracks(const std::vector<FakeTrack>& tracks);
  // Exactly these TOC bytes (for malformed TOCs); the lead-out for reads is taken from the
  // entry after the last track when it is readable, else reads are unbounded.
  void SetRawToc(const TocBuffer& toc);
  // ReadToc fails (an unreadable disc that still opens).
  void SetTocFails(bool fails);
  // Open() returns null (no disc, drive gone).
  void SetCannotOpen(bool cannotOpen);
  void SetDescription(const std::string& text);
  // Shown as a disc image (host adapter 1) instead of a drive.
  void SetIsImage(bool isImage);
  // What SetOption answers for every option (default true).
  void SetOptionResult(bool understood);

  // --- scripted reads ---
  // Attempts firstAttempt..lastAttempt (1-based, inclusive) at `sector` fail with these numbers.
  void FailAttempts(uint32_t sector, int firstAttempt, int lastAttempt,
                    uint32_t libError = kCdErrRead, uint32_t aspiStatus = kAspiError);
  // Every read at `sector` fails.
  void FailAlways(uint32_t sector, uint32_t libError = kCdErrRead,
                  uint32_t aspiStatus = kAspiError);
  // Successful reads at `sector` deliver the range's bytes from data + offset, `shortBy`
  // bytes fewer than asked for; bytes before the offset are 0xEE.
  void DeliverShifted(uint32_t sector, int32_t offset, uint32_t shortBy);
  // The next read at `sector` blocks (before it delivers) until ReleaseRead().
  void BlockReadAt(uint32_t sector);
  // Waits until a read sits at the gate; false after `timeout` (a test bug, not a timing).
  bool WaitUntilBlocked(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Lets the blocked read go on (or disarms the gate before it is reached).
  void ReleaseRead();

  // --- what happened ---
  int OpenAttempts() const;  // calls of Open(), successful or not
  int Opens() const;         // sessions handed out
  int Closes() const;        // sessions destroyed
  int TocReads() const;
  std::vector<FakeReadCall> Reads() const;
  std::vector<std::pair<int, uint32_t>> OptionsSet() const;  // {which, value} in order

  // CdDevice
  std::string Description() const override;
  bool IsImage() const override;
  std::unique_ptr<CdSession> Open() override;

  struct State;

 private:
  std::shared_ptr<State> state_;
};
