// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "disc/drive_commands.h"

#include "disc/q_subchannel.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <vector>

#include <cdio/cdio.h>
#include <cdio/mmc.h>
#include <cdio/mmc_cmds.h>

namespace {

constexpr uint32_t kAudioBytes = 2352;
constexpr uint32_t kC2Bytes = 294;
constexpr uint32_t kCacheTestPiece = 26;
// Each command's own time limit; libcdio's Debian build leaves the kernel's 60 s in force.
constexpr unsigned kCommandTimeoutMs = 30000;

std::string Squeezed(const char* text) {
  std::istringstream words(text ? text : "");
  std::string out;
  for (std::string word; words >> word;) out += (out.empty() ? "" : " ") + word;
  return out;
}

DriveReply ReplyOf(CdIo_t* cdio, driver_return_code_t code) {
  DriveReply reply;
  if (code == DRIVER_OP_SUCCESS) {
    reply.kind = DriveReply::kOk;
    return reply;
  }
  cdio_mmc_request_sense_t* sense = nullptr;
  const int length = mmc_last_cmd_sense(cdio, &sense);
  if (length >= 14 && sense) {
    reply.key = sense->sense_key;
    reply.asc = sense->asc;
    reply.ascq = sense->ascq;
  }
  std::free(sense);
  if (reply.key == 0x05 && reply.asc == 0x21) {
    reply.kind = DriveReply::kOutOfRange;
  } else if (reply.key == 0x02 && reply.asc == 0x3A) {
    reply.kind = DriveReply::kNoDisc;
  } else if (reply.key == 0x02 && reply.asc == 0x04) {
    reply.kind = DriveReply::kNotReady;
  } else if (reply.key == 0x03 || reply.key == 0x04) {
    reply.kind = DriveReply::kReadError;
  } else {
    reply.kind = DriveReply::kOther;
  }
  return reply;
}

using Clock = std::chrono::steady_clock;

// The time one single-sector read takes, in microseconds; -1 when it failed.
int64_t TimedRead(CdIo_t* cdio, int32_t lsn, uint8_t* buffer) {
  const auto start = Clock::now();
  if (ReadCdAudio(cdio, lsn, 1, buffer, nullptr).kind != DriveReply::kOk) return -1;
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
}

bool ReadRun(CdIo_t* cdio, int32_t lsn, uint32_t count, std::vector<uint8_t>& buffer,
             uint64_t& sectorsRead) {
  for (uint32_t done = 0; done < count;) {
    const uint32_t n = std::min(kCacheTestPiece, count - done);
    if (ReadCdAudio(cdio, lsn + static_cast<int32_t>(done), n, buffer.data(), nullptr).kind !=
        DriveReply::kOk) {
      return false;
    }
    sectorsRead += n;
    done += n;
  }
  return true;
}

}  // namespace

std::string DriveSettingsSection(const std::string& vendor, const std::string& model) {
  return "Drive " + Squeezed((vendor + " " + model).c_str());
}

DriveIdentity ReadDriveIdentity(CdIo_t* cdio) {
  DriveIdentity identity;
  cdio_hwinfo_t info{};
  if (cdio && cdio_get_hwinfo(cdio, &info)) {
    identity.vendor = Squeezed(info.psz_vendor);
    identity.model = Squeezed(info.psz_model);
    identity.revision = Squeezed(info.psz_revision);
  }
  cdio_drive_read_cap_t read = 0;
  cdio_drive_write_cap_t write = 0;
  cdio_drive_misc_cap_t misc = 0;
  if (cdio) cdio_get_drive_cap(cdio, &read, &write, &misc);
  identity.c2Pointers = read != CDIO_DRIVE_CAP_ERROR && read != CDIO_DRIVE_CAP_UNKNOWN &&
                        (read & CDIO_DRIVE_CAP_READ_C2_ERRS) != 0;
  return identity;
}

DriveReply ReadCdAudio(CdIo_t* cdio, int32_t lsn, uint32_t count, uint8_t* audio, uint8_t* c2) {
  if (!c2) {
    return ReplyOf(cdio, mmc_read_cd(cdio, audio, lsn, 1 /* CD-DA */, false, false, 0, true, false,
                                     0, 0, kAudioBytes, count));
  }
  std::vector<uint8_t> raw(size_t{count} * (kAudioBytes + kC2Bytes));
  const DriveReply reply =
      ReplyOf(cdio, mmc_read_cd(cdio, raw.data(), lsn, 1, false, false, 0, true, false, 1, 0,
                                kAudioBytes + kC2Bytes, count));
  if (reply.kind != DriveReply::kOk) return reply;
  for (uint32_t s = 0; s < count; ++s) {
    const uint8_t* sector = raw.data() + size_t{s} * (kAudioBytes + kC2Bytes);
    std::copy(sector, sector + kAudioBytes, audio + size_t{s} * kAudioBytes);
    std::copy(sector + kAudioBytes, sector + kAudioBytes + kC2Bytes, c2 + size_t{s} * kC2Bytes);
  }
  return reply;
}

DriveReply ReadSubchannelQ(CdIo_t* cdio, int32_t lsn, bool raw, uint8_t* q) {
  const uint32_t extra = raw ? 96 : 16;
  std::vector<uint8_t> sector(kAudioBytes + extra);
  const DriveReply reply =
      ReplyOf(cdio, mmc_read_cd(cdio, sector.data(), lsn, 1, false, false, 0, true, false, 0,
                                raw ? 1 : 2, static_cast<uint16_t>(sector.size()), 1));
  if (reply.kind != DriveReply::kOk) return reply;
  if (raw) {
    DeinterleaveQ(sector.data() + kAudioBytes, q);
  } else {
    std::copy(sector.begin() + kAudioBytes, sector.end(), q);
  }
  return reply;
}

DriveReply ReadSubchannelQRun(CdIo_t* cdio, int32_t lsn, uint32_t count, uint8_t* q) {
  constexpr uint32_t kStride = kAudioBytes + 16;
  std::vector<uint8_t> sectors(size_t{count} * kStride);
  const DriveReply reply =
      ReplyOf(cdio, mmc_read_cd(cdio, sectors.data(), lsn, 1, false, false, 0, true, false, 0, 2,
                                static_cast<uint16_t>(kStride), count));
  if (reply.kind != DriveReply::kOk) return reply;
  for (uint32_t s = 0; s < count; ++s) {
    const uint8_t* sub = sectors.data() + size_t{s} * kStride + kAudioBytes;
    std::copy(sub, sub + 16, q + size_t{s} * 16);
  }
  return reply;
}

DriveReply TestUnitReady(CdIo_t* cdio) {
  // A unit attention (a disc was just put in, the drive was reset) is news, not an answer:
  // the drive is asked again.
  DriveReply reply;
  for (int attempt = 0; attempt < 4; ++attempt) {
    reply = ReplyOf(cdio, mmc_test_unit_ready(cdio, kCommandTimeoutMs));
    if (reply.kind != DriveReply::kOther || reply.key != 0x06) break;
  }
  return reply;
}

uint32_t MeasureAudioCache(CdIo_t* cdio, int32_t from, uint32_t span, uint32_t limit,
                           uint64_t& sectorsRead,
                           const std::function<void(int32_t lsn, uint32_t count)>& onRead) {
  const auto noted = [&](int32_t lsn, uint32_t count) {
    if (onRead) onRead(lsn, count);
  };
  std::vector<uint8_t> buffer(size_t{kCacheTestPiece} * kAudioBytes);
  // The probed sector at the area's start, the runs that push it out after the sectors the
  // drive reads ahead of it, and the area's end for a read that surely comes from the disc.
  constexpr uint32_t kPastReadAhead = 128;
  if (span < kPastReadAhead + 64) return 0;
  limit = std::min(limit, span - kPastReadAhead);
  const int32_t probe = from;
  const int32_t away = from + static_cast<int32_t>(kPastReadAhead);
  const int32_t far = from + static_cast<int32_t>(span - 1);
  // A sector read for the first time after a seek, and the same sector at once again.
  noted(far, 1);
  noted(probe, 1);
  if (TimedRead(cdio, far, buffer.data()) < 0) return 0;
  const int64_t miss = TimedRead(cdio, probe, buffer.data());
  const int64_t hit = TimedRead(cdio, probe, buffer.data());
  sectorsRead += 3;
  if (miss < 0 || hit < 0 || hit * 2 >= miss) return 0;
  const int64_t threshold = (hit + miss) / 2;
  // Whether `run` sectors read elsewhere push the probe out of the cache.
  const auto evicts = [&](uint32_t run) -> int {
    if (TimedRead(cdio, probe, buffer.data()) < 0) return -1;
    ++sectorsRead;
    noted(away, run);
    if (!ReadRun(cdio, away, run, buffer, sectorsRead)) return -1;
    const int64_t again = TimedRead(cdio, probe, buffer.data());
    ++sectorsRead;
    return again < 0 ? -1 : again > threshold ? 1 : 0;
  };
  uint32_t kept = 0, pushed = 0;
  for (uint32_t run = 64; run <= limit; run *= 2) {
    const int result = evicts(run);
    if (result < 0) return 0;
    if (result == 1) {
      pushed = run;
      break;
    }
    kept = run;
  }
  if (pushed == 0) return limit;  // as large as can be told: read that much
  // Narrowed to a sixteenth of the size, so that what is read to defeat it is not twice it.
  while (pushed - kept > std::max(16u, pushed / 16)) {
    const uint32_t middle = kept + (pushed - kept) / 2;
    const int result = evicts(middle);
    if (result < 0) return pushed;
    (result == 1 ? pushed : kept) = middle;
  }
  return pushed;
}
