// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "capture/capture.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "capture/checksums.h"
#include "capture/ctdb_crc.h"
#include "capture/loudness.h"
#include "capture/writer_thread.h"
#include "config/settings.h"

// The CUETools database's CRCs of a track, as the read loop kept them.
CtdbCrcs CtdbCrcsOf(const TrackChecksumValues& sums) {
  CtdbCrcs crcs;
  crcs.limit = static_cast<int32_t>(sums.ctdbByShift.size() / 2);
  crcs.byShift = sums.ctdbByShift;
  crcs.samples = sums.ctdbSamples;
  return crcs;
}

// The track's number among the disc's audio tracks, from 1; 0 for the hidden track.
uint32_t AudioTrackNumber(const TrackRecord& track) {
  if (track.hidden) return 0;
  uint32_t number = 0;
  for (const TrackRecord& t : ripSettings.tracks) {
    number += !t.hidden;
    if (&t == &track) return number;
  }
  return 0;
}

namespace {

void SetProgress(RipHost& host, TrackRecord& track, uint64_t from, uint64_t scale, uint64_t total,
                 uint64_t remaining) {
  // 64-bit so that a damaged TOC's huge length cannot wrap the percentage.
  const uint64_t span = scale - from;
  track.status = static_cast<int32_t>(from + (span * total - span * remaining) / total);
  host.PostProgress(track);
}

class FileSink : public PcmSink {
 public:
  explicit FileSink(FILE* file) : file_(file) {}
  bool Write(const uint8_t* data, size_t size) override {
    return std::fwrite(data, 1, size, file_) == size;
  }

 private:
  FILE* file_;
};

// OBRIN_NO_CHECKSUMS=1 is for the benchmark only, never for users: it skips the sums, to
// show what they cost.
const bool kChecksumsSkipped = [] {
  const char* value = std::getenv("OBRIN_NO_CHECKSUMS");
  return value && std::string_view(value) == "1";
}();

// A read that only proves another: its checksums are all that is kept.
class ProofSink : public PcmSink {
 public:
  bool Write(const uint8_t*, size_t) override { return true; }
};

// Adds each piece to a track's sums.
class SummingSink : public PcmSink {
 public:
  explicit SummingSink(TrackChecksums& sums) : sums_(sums) {}
  bool Write(const uint8_t* data, size_t size) override {
    if (!kChecksumsSkipped) sums_.Add(data, size);
    return true;
  }

 private:
  TrackChecksums& sums_;
};

// Takes the CD pre-emphasis out of the audio on its way to another sink: the inverse of the
// 50/15 us shelf, a first-order filter whose pole and zero are the analog ones mapped to
// 44.1 kHz (within 0.4 dB of the ideal curve up to 20 kHz), each channel on its own.
class DeemphasisSink : public PcmSink {
 public:
  explicit DeemphasisSink(PcmSink& next) : next_(next) {}
  bool Write(const uint8_t* data, size_t size) override {
    out_.resize(size);
    for (size_t i = 0; i + 1 < size; i += 2) {
      const size_t channel = (i / 2) % 2;
      const double x = static_cast<int16_t>(static_cast<uint16_t>(data[i] | data[i + 1] << 8));
      const double y = kGain * (x - kZero * last_[channel]) + kPole * filtered_[channel];
      last_[channel] = x;
      filtered_[channel] = y;
      const auto sample = static_cast<int16_t>(std::lround(std::clamp(y, -32768.0, 32767.0)));
      out_[i] = static_cast<uint8_t>(sample & 0xFF);
      out_[i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(sample) >> 8);
    }
    return next_.Write(out_.data(), size);
  }
  bool Drain() override { return next_.Drain(); }

 private:
  static inline const double kPole = std::exp(-1 / (50e-6 * 44100));
  static inline const double kZero = std::exp(-1 / (15e-6 * 44100));
  static inline const double kGain = (1 - kPole) / (1 - kZero);  // 1 at 0 Hz
  PcmSink& next_;
  std::vector<uint8_t> out_;
  double last_[2] = {0, 0};
  double filtered_[2] = {0, 0};
};

// Sums what goes to another sink on its way there. The sums are worked out on the reading
// thread while the piece is still in its cache, and the sink writes (or encodes) on a thread
// of its own, at the same time as the next piece is read: writing is the heavier half, so
// the sums hide behind it. A read that writes nothing (a check, a proof) has the other
// thread work out the sums instead.
class ChecksumSink : public PcmSink {
 public:
  ChecksumSink(TrackChecksums& checksums, PcmSink& next)
      : summing_(checksums),
        sumHere_(dynamic_cast<ProofSink*>(&next) == nullptr),
        next_(sumHere_ ? next : summing_) {}
  bool Write(const uint8_t* data, size_t size) override {
    if (sumHere_) summing_.Write(data, size);
    return next_.Write(data, size);
  }
  bool Drain() override { return next_.Drain(); }

 private:
  SummingSink summing_;
  const bool sumHere_;
  PipelinedSink next_;
};

// A track read with its neighbours' edges for the CUETools database's shifted CRCs: every
// byte of the window goes to the sliding CRC, the track's own alone to `next` (its file and
// its other sums). Once the track's last byte is handed over, `next` is drained, so that the
// reads of the edge after it, which take the loop's buffers by turns, never overwrite a
// piece `next` is still writing.
class CtdbWindowSink : public PcmSink {
 public:
  CtdbWindowSink(SlidingCtdbCrc* crc, int64_t trackFrom, int64_t trackBytes, PcmSink& next)
      : crc_(crc), from_(trackFrom), to_(trackFrom + trackBytes), next_(next) {}
  bool Write(const uint8_t* data, size_t size) override {
    if (crc_ && !kChecksumsSkipped) crc_->Add(data, size);
    const int64_t at = at_;
    at_ += static_cast<int64_t>(size);
    const int64_t begin = std::max(at, from_), end = std::min(at_, to_);
    if (begin < end && !next_.Write(data + (begin - at), static_cast<size_t>(end - begin))) {
      return false;
    }
    if (at_ >= to_ && !drained_) {
      drained_ = true;
      drainedOk_ = next_.Drain();
      return drainedOk_;
    }
    return true;
  }
  bool Drain() override { return drained_ ? drainedOk_ : next_.Drain(); }

 private:
  SlidingCtdbCrc* crc_;
  const int64_t from_, to_;
  int64_t at_ = 0;
  PcmSink& next_;
  bool drained_ = false, drainedOk_ = true;
};

// Zeros for the parts of a CRC window off the disc's audio, which no counted range reaches.
void AddSilence(SlidingCtdbCrc& crc, int64_t samples) {
  static const uint8_t kZeros[4096] = {};
  for (int64_t bytes = 4 * samples; bytes > 0; bytes -= sizeof kZeros) {
    crc.Add(kZeros, static_cast<size_t>(std::min<int64_t>(bytes, sizeof kZeros)));
  }
}

// The drive a track is read from, for the rip's log: its identity, and when reading securely
// its audio cache (measured once per disc, and told to this handle's error-correcting reads).
// False for an image.
bool LearnDrive(CdHandle handle, bool secure) {
  DriveReadFacts& facts = ripSettings.driveRead;
  DriveFacts drive;
  if (GetDriveFacts(handle, &drive) != 1) return false;
  if (!facts.drive) {
    facts.drive = true;
    facts.c2Reported = drive.c2Pointers;
    for (const std::string* part : {&drive.vendor, &drive.model, &drive.revision}) {
      if (!part->empty()) facts.identity += (facts.identity.empty() ? "" : " ") + *part;
    }
  }
  uint32_t sectors = 0;
  if (secure && GetDriveCacheSectors(handle, &sectors, &facts.sectorsReadElsewhere) == 1) {
    facts.cacheMeasured = true;
    facts.cacheSectors = sectors;
  }
  return true;
}

// Before a track is read again: a cache's worth of audio elsewhere on the disc, so that the
// read comes from the disc and not from what the drive kept of the last one.
void EmptyDriveCache(CdHandle handle, uint32_t startSector, uint32_t lengthSectors) {
  DriveReadFacts& facts = ripSettings.driveRead;
  if (!facts.drive || facts.cacheSectors == 0) return;
  // The read offset moves a track's reads a few sectors either way.
  constexpr uint32_t kOffsetReach = 8;
  const uint32_t from = startSector > kOffsetReach ? startSector - kOffsetReach : 0;
  // The cache test finds the fewest sectors that push one out, the drive's read-ahead
  // beside them: that much more is read.
  constexpr uint32_t kReadAhead = 128;
  const uint32_t sectors = facts.cacheSectors + kReadAhead;
  if (ReadAwayFrom(handle, from, lengthSectors + 2 * kOffsetReach, sectors) == 1) {
    facts.sectorsReadElsewhere += sectors;
  } else {
    facts.cacheDefeated = false;
  }
}

constexpr uint32_t kC2BytesPerSector = 294;

bool Flagged(const uint8_t* c2) {
  return std::any_of(c2, c2 + kC2BytesPerSector, [](uint8_t bits) { return bits != 0; });
}

// A block read with C2 error pointers: a sector flagged is read again (after the cache's
// worth elsewhere) until a read of it comes back clean or gives the bytes an earlier flagged
// read gave; what stays flagged goes into the track's suspicious sectors. 1 when the block
// is in the buffer; 0 when the drive refuses C2 or could not read it (the plain reads then
// take over).
int ReadBlockWithC2(CdHandle handle, TrackBuffer* buffer, int64_t sector, uint32_t count,
                    TrackRecord& track) {
  DriveReadFacts& facts = ripSettings.driveRead;
  uint8_t* data = TrackBufferData(buffer);
  std::vector<uint8_t> c2(size_t{count} * kC2BytesPerSector);
  const int read = ReadCDAudioRaw(handle, static_cast<int32_t>(sector), count, data, c2.data());
  if (read == kRawReadRefused) facts.c2Refused = true;
  if (read != kRawReadOk) return 0;
  facts.c2Used = true;
  buffer->deliveredLength = count * kSectorBytes;
  buffer->offset = 0;
  std::vector<uint32_t> flagged;
  for (uint32_t s = 0; s < count; ++s) {
    if (Flagged(c2.data() + size_t{s} * kC2BytesPerSector)) flagged.push_back(s);
  }
  std::vector<std::string> earlier(count);  // each flagged sector's last read
  for (const uint32_t s : flagged) {
    earlier[s].assign(reinterpret_cast<const char*>(data) + size_t{s} * kSectorBytes, kSectorBytes);
  }
  std::vector<uint8_t> again(kSectorBytes), againC2(kC2BytesPerSector);
  for (int round = 0; round < kC2Rereads && !flagged.empty(); ++round) {
    EmptyDriveCache(handle, static_cast<uint32_t>(sector), count);
    std::vector<uint32_t> still;
    for (const uint32_t s : flagged) {
      const int64_t at = sector + s;
      if (ReadCDAudioRaw(handle, static_cast<int32_t>(at), 1, again.data(), againC2.data()) !=
          kRawReadOk) {
        still.push_back(s);
        continue;
      }
      const std::string bytes(reinterpret_cast<const char*>(again.data()), kSectorBytes);
      if (!Flagged(againC2.data()) || bytes == earlier[s]) {
        std::copy(again.begin(), again.end(), data + size_t{s} * kSectorBytes);
      } else {
        earlier[s] = bytes;
        still.push_back(s);
      }
    }
    flagged = std::move(still);
  }
  for (const uint32_t s : flagged) {
    track.checksums.suspicious.push_back(static_cast<uint32_t>(sector + s));
  }
  return 1;
}

// Empties the capture file for a read that replaces what it holds.
bool Rewind(FILE* file) {
  return std::fflush(file) == 0 && std::fseek(file, 0, SEEK_SET) == 0 &&
         ftruncate(fileno(file), 0) == 0;
}

// Whether either database holds the audio of the track's last read.
bool DatabaseConfirms(const CaptureJob& job) {
  const TrackRecord& track = *job.track;
  const TrackChecksumValues& sums = track.checksums;
  if (job.accurateRip && JudgeTrack(*job.accurateRip, job.audioTracks, track.tocPosition,
                                    sums.accurateRipV1, sums.accurateRipV2)
                                 .kind == AccurateRipVerdict::kAccurate) {
    return true;
  }
  return job.ctdb && !sums.ctdbByShift.empty() &&
         JudgeCtdbTrack(*job.ctdb, AudioTrackNumber(track), CtdbCrcsOf(sums)).kind ==
             CtdbVerdict::kAccurate;
}

// The reads after the first that secure reading asks for, once the first got the whole
// track and neither database confirmed it. The second only proves the first; from the
// third on each replaces the file, so that when a read agrees with an earlier one the file
// holds audio that two reads gave.
// A secure read goes on after a whole first read neither database confirms.
bool WantsAnotherRead(const CaptureJob& job) {
  return job.secure && job.track->checksums.complete && !DatabaseConfirms(job);
}

// Sectors whose C2 pointers stayed set end the track in error unless a database confirms
// the audio; the file keeps what was read.
void JudgeSuspicious(RipHost& host, CaptureJob& job, FILE* file) {
  TrackRecord& track = *job.track;
  if (track.checksums.suspicious.empty() || track.status == kStatusStopped ||
      track.status == kStatusError) {
    return;
  }
  if (track.checksums.complete && DatabaseConfirms(job)) return;
  host.ShowErrorBox(kSuspiciousText);
  track.status = kStatusError;
  job.captureFailed = true;
  job.holdsLastRead = file != nullptr;
}

// Reads the track again until two reads agree. The first further read only proves; each later
// one replaces what `file` holds (none: a check, nothing is kept). Read n runs from
// scale - scale/2^(n-1) to scale - scale/2^n of the progress.
ReadLoopResult ReadUntilTwoAgree(RipHost& host, CaptureJob& job, CdHandle handle, FILE* file,
                                 ReadLoopResult result, uint32_t scale) {
  TrackRecord& track = *job.track;
  std::vector<uint32_t> crcs{track.checksums.copyCrc};
  for (int read = 2; read <= kSecureReads; ++read) {
    const auto from = static_cast<uint32_t>(scale - (scale >> (read - 1)));
    const auto to = static_cast<uint32_t>(scale - (scale >> read));
    ProofSink proof;
    FileSink replace(file);
    if (file && read > 2 && !Rewind(file)) {
      host.ShowErrorBox("Cannot write output file");
      track.status = kStatusError;
      result.writeFailed = true;
      break;
    }
    EmptyDriveCache(handle, track.startSector, track.lengthSectors);
    result = RunReadLoop(host, job, handle,
                         read == 2 || !file ? static_cast<PcmSink&>(proof) : replace, to, from);
    if (result.stopped || result.readFailed || result.writeFailed) break;
    const bool agrees = std::find(crcs.begin(), crcs.end(), track.checksums.copyCrc) != crcs.end();
    crcs.push_back(track.checksums.copyCrc);
    if (agrees) {
      track.checksums.tested = true;
      break;
    }
    if (read == kSecureReads) {
      host.ShowErrorBox(kReadsDifferText);
      track.status = kStatusError;
      job.captureFailed = true;
      job.holdsLastRead = file != nullptr;
    }
  }
  track.checksums.readCrcs = std::move(crcs);
  return result;
}

}  // namespace

int ReadBlockWithRetries(CdHandle handle, TrackBuffer* buffer) {
  int result = 0;
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    result = ReadCDAudioLBA(handle, buffer);
    if (result == 1) break;
  }
  return result;
}

CdHandle OpenDriveForCapture() {
  const RipSettings& settings = ripSettings;
  OpenRequest request{};
  if (settings.driveIndex >= 0 &&
      static_cast<size_t>(settings.driveIndex) < settings.drives.size()) {
    request = settings.drives[static_cast<size_t>(settings.driveIndex)].openRequest;
  }
  // Not tested: a handle that did not open fails the first read, which reports it.
  CdHandle handle = GetCDHandle(&request);
  ModifyCDParms(handle, kCdParmReadRetries, 3);
  ModifyCDParms(handle, kCdParmParanoia, 1);
  return handle;
}

namespace {

int64_t FloorDiv(int64_t value, int64_t divisor) {
  return value / divisor - (value % divisor < 0 ? 1 : 0);
}

}  // namespace

ReadLoopResult ReadSpan(RipHost& mainWindow, CaptureJob& job, CdHandle handle, PcmSink& sink,
                        const ReadSpanExtent& extent, uint32_t progressScale,
                        uint32_t progressFrom) {
  ReadLoopResult result;
  TrackRecord& track = *job.track;
  // Buffers by turns: the pieces handed to the sink stay untouched while the next is read.
  constexpr size_t kBuffers = kPiecesInFlight + 1;
  TrackBufferPtr more[kBuffers - 1];
  TrackBuffer* buffers[kBuffers] = {job.readBuffer};
  for (size_t i = 1; i < kBuffers; ++i) {
    more[i - 1] = AllocTrackBuffer(job.readBuffer->capacity / kSectorBytes);
    if (!more[i - 1]) {
      mainWindow.ShowErrorBox("Not enough memory to go on ripping");
      result.readFailed = true;
      job.captureFailed = true;
      return result;
    }
    buffers[i] = more[i - 1].get();
  }
  TrackBuffer* buffer = job.readBuffer;
  // Sectors are read whole: a span that does not start or end on a sector boundary reads the
  // sectors around it and drops what lies outside.
  int64_t sector = FloorDiv(extent.firstByte, kSectorBytes);
  const int64_t endSector =
      FloorDiv(extent.firstByte + extent.byteCount + kSectorBytes - 1, kSectorBytes);
  int64_t skip = extent.firstByte - sector * kSectorBytes;  // bytes before the span
  int64_t bytesLeft = extent.byteCount;
  const uint32_t total = static_cast<uint32_t>(endSector - sector);
  uint32_t remaining = total;
  const uint32_t bufferSectors = buffer->capacity / kSectorBytes;
  uint32_t blockNumber = 0;
  bool edgeRefused = false, edgeReached = false;

  while (remaining > 0) {
    if (ripSettings.ripping == 0) {
      track.status = kStatusStopped;
      result.stopped = true;
      break;
    }
    if (blockNumber % kProgressEveryBlocks == 0) {
      SetProgress(mainWindow, track, progressFrom, progressScale, total, remaining);
    }
    ++blockNumber;

    buffer = buffers[blockNumber % kBuffers];  // counted from 1 by now
    uint32_t count = std::min({kSectorsPerRead, remaining, bufferSectors});
    const bool silence = sector < 0 || sector >= extent.silentFrom;
    count = static_cast<uint32_t>(std::min<int64_t>(count, sector < 0 ? -sector
                                                           : silence  ? count
                                                                     : extent.silentFrom - sector));
    int readResult = 1;
    // A drive may read into its lead-in or lead-out: that is tried once, and where it
    // refuses, silence stands in.
    const bool overread = silence && job.readsDrive && !edgeRefused &&
                          ReadCDAudioRaw(handle, static_cast<int32_t>(sector), count,
                                         TrackBufferData(buffer), nullptr) == kRawReadOk;
    if (silence) {
      edgeReached = true;
      result.edgeAtEnd = sector >= 0;
    }
    if (silence && !overread) edgeRefused = job.readsDrive;
    if (silence) {
      buffer->deliveredLength = count * kSectorBytes;
      buffer->offset = 0;
      if (!overread) std::memset(TrackBufferData(buffer), 0, buffer->deliveredLength);
    } else {
      buffer->startSector = static_cast<uint32_t>(sector);
      buffer->sectorCount = count;
      buffer->deliveredLength = 0;
      buffer->offset = 0;
      const bool withC2 = job.useC2 && !ripSettings.driveRead.c2Refused &&
                          ReadBlockWithC2(handle, buffer, sector, count, track) == 1;
      if (!withC2) readResult = ReadBlockWithRetries(handle, buffer);
    }
    // A delivery that claims bytes outside the buffer is as good as a failed read.
    if (readResult == 1 && (buffer->offset < 0 || uint64_t{static_cast<uint32_t>(buffer->offset)} +
                                                          buffer->deliveredLength >
                                                      buffer->capacity)) {
      readResult = 0;
    }
    if (readResult != 1) {
      const uint32_t aspiError = GetAspiLibAspiError();
      const uint32_t libError = GetAspiLibError();
      char text[96];
      std::snprintf(text, sizeof text, "Error at frame %d (%d:%d)", static_cast<int>(sector),
                    static_cast<int>(libError), static_cast<int>(aspiError & 0xFF));
      mainWindow.ShowErrorBox(text);
      result.readFailed = true;
      job.captureFailed = true;
      break;
    }
    const int64_t dropped = std::min<int64_t>(skip, buffer->deliveredLength);
    skip -= dropped;
    const uint8_t* delivered = TrackBufferData(buffer) + buffer->offset + dropped;
    const auto size = static_cast<size_t>(std::min(buffer->deliveredLength - dropped, bytesLeft));
    bytesLeft -= static_cast<int64_t>(size);
    if (silence && !overread) {
      result.edgeSilence += static_cast<int64_t>(size / 4);
    }
    if (!sink.Write(delivered, size)) {
      mainWindow.ShowErrorBox("Cannot write output file");
      track.status = kStatusError;
      result.writeFailed = true;
      break;
    }
    sector += count;
    remaining -= count;
  }
  // A piece handed over just before the loop ended may yet fail to be written.
  if (!sink.Drain() && !result.writeFailed) {
    mainWindow.ShowErrorBox("Cannot write output file");
    track.status = kStatusError;
    result.writeFailed = true;
  }
  result.whole = remaining == 0 && !result.writeFailed;
  if (!edgeReached || !job.readsDrive) result.edgeSilence = -1;
  return result;
}

ReadLoopResult RunReadLoop(RipHost& mainWindow, CaptureJob& job, CdHandle handle, PcmSink& sink,
                           uint32_t progressScale, uint32_t progressFrom) {
  TrackRecord& track = *job.track;
  const TrackList& tracks = ripSettings.tracks;
  // The read offset moves the track's audio by whole samples on the disc: a correction of +N
  // takes the stream from N samples after the TOC's start. Samples before the disc's first
  // sector, or past its last audio track where only a shifted read reaches, are silence.
  const int64_t audioEnd =
      tracks.empty() ? 0 : int64_t{tracks.back().startSector} + tracks.back().lengthSectors;
  const int64_t trackFirstByte =
      int64_t{track.startSector} * kSectorBytes + int64_t{ripSettings.readOffset} * 4;
  const int64_t trackBytes = int64_t{track.lengthSectors} * kSectorBytes;
  const int64_t silentFrom =
      std::max(audioEnd, int64_t{track.startSector} + int64_t{track.lengthSectors});
  job.readsDrive = LearnDrive(handle, job.secure);
  job.useC2 = job.secure && job.readsDrive && ripSettings.driveRead.c2Reported;
  track.checksums.suspicious.clear();
  // The sums see the bytes as they go to the sink: no second pass over the file.
  TrackChecksums checksums(uint64_t{track.lengthSectors} * (kSectorBytes / 4),
                           &track == FirstAudioTrack(tracks),
                           !tracks.empty() && &tracks.back() == &track);
  // The sums are the disc's audio; what is written may be de-emphasised.
  const bool proof = dynamic_cast<ProofSink*>(&sink) != nullptr;
  const bool deemphasis = ripSettings.deemphasis && track.preEmphasis && !proof;
  // The loudness is that of what the file gets: a read that only proves another changes
  // nothing there, and each read that writes starts the measurement anew. De-emphasised
  // audio exists only on the writing thread, so it is measured there.
  LoudnessMeter* meter = proof ? nullptr : LoudnessMeterOf(track);
  if (meter) meter->Reset();
  MeteredSink meteredAfter(deemphasis ? meter : nullptr, sink, false);
  DeemphasisSink deemphasised(meteredAfter);
  ChecksumSink summed(checksums, deemphasis ? static_cast<PcmSink&>(deemphasised) : sink);
  MeteredSink metered(deemphasis ? nullptr : meter, summed, true);
  // The CUETools database counts the disc from the first audio track's start, as read. When
  // it holds the disc, the track is read with up to kCtdbShiftLimit samples of its
  // neighbours on either side, as far as the disc's audio goes (on the disc as read and as
  // it lies); what lies beyond is never counted and stands as zeros.
  const TrackRecord* first = FirstAudioTrack(tracks);
  int64_t before = 0, after = 0, limit = 0;
  std::optional<SlidingCtdbCrc> window;
  if (job.ctdb && job.ctdb->kind == CtdbLookup::kFound && first && !track.hidden) {
    limit = kCtdbShiftLimit;
    const int64_t perSector = kSectorBytes / 4;
    const int64_t discFirst = int64_t{first->startSector} * perSector;
    const int64_t trackFirst = int64_t{track.startSector} * perSector;
    const int64_t trackSamples = trackBytes / 4;
    const int64_t audioSamples = audioEnd * perSector;
    const int64_t readFirst = trackFirstByte / 4, readEnd = readFirst + trackSamples;
    before = std::clamp<int64_t>(std::min(trackFirst - discFirst, readFirst), 0, limit);
    after = std::clamp<int64_t>(
        std::min(audioSamples - (trackFirst + trackSamples), audioSamples - readEnd), 0, limit);
    window.emplace(static_cast<uint64_t>(audioSamples - discFirst),
                   static_cast<uint64_t>(trackFirst - discFirst),
                   static_cast<uint64_t>(trackSamples), static_cast<int32_t>(limit));
    AddSilence(*window, limit - before);
  }
  // Without the database's entries at hand (a rip that does not verify, a disc it does not
  // hold) the track's CRC at shift 0 alone, for the log and the verdict: the copy CRC's pass notes where the counted samples begin
  // and end, so it costs no pass of its own.
  bool marked = false;
  uint64_t markedSamples = 0;
  if (!window && first && !track.hidden) {
    const int64_t perSector = kSectorBytes / 4;
    const int64_t discFirst = int64_t{first->startSector} * perSector;
    const int64_t trackFirst = int64_t{track.startSector} * perSector - discFirst;
    const CtdbSpan span = CtdbCountedSpan(
        static_cast<uint64_t>(std::max<int64_t>(audioEnd * perSector - discFirst, 0)));
    const int64_t from = std::max<int64_t>(static_cast<int64_t>(span.begin) - trackFirst, 0);
    const int64_t to =
        std::min<int64_t>(static_cast<int64_t>(span.end) - trackFirst, trackBytes / 4);
    if (trackFirst >= 0 && from < to) {
      checksums.MarkCrcRange(static_cast<uint64_t>(from), static_cast<uint64_t>(to));
      marked = true;
      markedSamples = static_cast<uint64_t>(to - from);
    }
  }
  CtdbWindowSink windowed(window ? &*window : nullptr, 4 * before, trackBytes, metered);
  const ReadSpanExtent extent{trackFirstByte - 4 * before, trackBytes + 4 * (before + after),
                              silentFrom};
  const ReadLoopResult result =
      ReadSpan(mainWindow, job, handle, window ? static_cast<PcmSink&>(windowed) : metered, extent,
               progressScale, progressFrom);
  // Sectors of the neighbours' edges are no part of the track.
  std::erase_if(track.checksums.suspicious, [&](uint32_t sector) {
    return sector < track.startSector || sector >= track.startSector + track.lengthSectors;
  });
  const TrackChecksumValues values = checksums.Values();
  track.checksums.copyCrc = values.copyCrc;
  track.checksums.accurateRipV1 = values.accurateRipV1;
  track.checksums.accurateRipV2 = values.accurateRipV2;
  track.checksums.complete = result.whole;
  track.checksums.edgeSilence =
      result.edgeSilence < 0
          ? -1
          : static_cast<int32_t>(std::min<int64_t>(result.edgeSilence, INT32_MAX));
  track.checksums.edgeAtEnd = result.edgeAtEnd;
  track.checksums.ctdbCrc = 0;
  track.checksums.ctdbByShift.clear();
  track.checksums.ctdbSamples = 0;
  if (window && result.whole) {
    AddSilence(*window, limit - after);
    const CtdbCrcs crcs = window->Crcs();
    track.checksums.ctdbCrc = crcs.At(0).value_or(0);
    track.checksums.ctdbByShift = crcs.byShift;
    track.checksums.ctdbSamples = crcs.samples;
  } else if (marked && result.whole) {
    track.checksums.ctdbCrc = checksums.MarkedCrc();
    track.checksums.ctdbByShift = {track.checksums.ctdbCrc};
    track.checksums.ctdbSamples = markedSamples;
  }
  // The databases hold nothing of a hidden track before track 1.
  if (job.accurateRip && track.checksums.complete && !track.hidden) {
    track.accurateRip = AccurateRipResultText(
        JudgeTrack(*job.accurateRip, job.audioTracks, track.tocPosition,
                   track.checksums.accurateRipV1, track.checksums.accurateRipV2));
  }
  if (job.ctdb && !track.checksums.ctdbByShift.empty()) {
    track.ctdb = CtdbResultText(
        JudgeCtdbTrack(*job.ctdb, AudioTrackNumber(track), CtdbCrcsOf(track.checksums)));
  }
  return result;
}

ReadLoopResult FeedPcmFile(RipHost& mainWindow, TrackRecord& track, FILE* pcm, PcmSink* sink,
                           bool captureFailed) {
  ReadLoopResult result;
  result.readFailed = captureFailed;
  if (!sink) return result;
  // The pieces the drive delivered, so that a converter sees the same input.
  std::vector<uint8_t> piece(kSectorsPerRead * kSectorBytes);
  const uint64_t total = uint64_t{track.lengthSectors} * kSectorBytes;
  uint64_t done = 0;
  for (uint32_t pieceNumber = 0;; ++pieceNumber) {
    if (ripSettings.ripping == 0) {
      track.status = kStatusStopped;
      break;
    }
    const size_t got = std::fread(piece.data(), 1, piece.size(), pcm);
    if (got < piece.size() && std::ferror(pcm)) {
      mainWindow.ShowErrorBox("Cannot open PCM data file");
      result.readFailed = true;
      break;
    }
    if (got == 0) break;
    if (pieceNumber % kProgressEveryBlocks == 0) {
      track.status =
          static_cast<int32_t>(30 + (total ? std::min<uint64_t>(70 * done / total, 69) : 0));
      mainWindow.PostProgress(track);
    }
    done += got;
    if (!sink->Write(piece.data(), got)) {
      mainWindow.ShowErrorBox("Cannot write output file");
      track.status = kStatusError;
      result.writeFailed = true;
      break;
    }
  }
  return result;
}

FILE* CreateCaptureTarget(RipHost& mainWindow, CaptureJob& job, OutputFileLock* lock) {
  job.captureFailed = false;
  job.fileCreated = false;
  job.holdsLastRead = false;
  FILE* file = OpenRegularFile(job.targetPath, "wb", lock);
  if (!file) {
    mainWindow.ShowErrorBox("Cannot create output file");
    job.track->status = kStatusError;
    mainWindow.PostProgress(*job.track);
    return nullptr;
  }
  job.fileCreated = true;
  return file;
}

void CheckTrack(RipHost& mainWindow, CaptureJob& job) {
  TrackRecord& track = *job.track;
  const CdHandle handle = OpenDriveForCapture();
  ProofSink nothing;
  ReadLoopResult result = RunReadLoop(mainWindow, job, handle, nothing, job.secure ? 50 : 100);
  if (!result.stopped && WantsAnotherRead(job)) {
    result = ReadUntilTwoAgree(mainWindow, job, handle, nullptr, result, 100);
  }
  CloseCDHandle(handle);
  if (!result.stopped && !result.readFailed) JudgeSuspicious(mainWindow, job, nullptr);
  if (track.status != kStatusStopped && track.status != kStatusError) {
    track.status = result.readFailed ? kStatusError : kStatusCompleted;
  }
  mainWindow.PostProgress(track);
}

void CaptureTrackToPcm(RipHost& mainWindow, CaptureJob& job) {
  TrackRecord& track = *job.track;
  FILE* file = CreateCaptureTarget(mainWindow, job);
  if (!file) return;

  const CdHandle handle = OpenDriveForCapture();
  FileSink sink(file);
  ReadLoopResult result = RunReadLoop(mainWindow, job, handle, sink, job.secure ? 15 : 30);
  if (!result.writeFailed && WantsAnotherRead(job)) {
    result = ReadUntilTwoAgree(mainWindow, job, handle, file, result, 30);
  }
  if (!result.stopped && !result.readFailed && !result.writeFailed) {
    JudgeSuspicious(mainWindow, job, file);
  }
  CloseCDHandle(handle);
  // Buffered data reaches the disk only here: a full disk may show up at this point.
  if (std::fclose(file) != 0 && !result.writeFailed) {
    mainWindow.ShowErrorBox("Cannot write output file");
    track.status = kStatusError;
    job.holdsLastRead = false;
  }
  mainWindow.PostProgress(track);
}
