// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// The capture loop, the WAV writer and the rip job on a scripted drive. Guards against:
// - blocks other than 26 sectors, progress on the wrong scale or rhythm, audio not bit-exact;
// - a failed attempt not retried, a read past the disc's end retried, a failed block not reported
// with its first frame, blocks
//   after a failure written, a delivery with an offset copied wrongly or trusted outside the
//   buffer;
// - a stop not seen between blocks, a drive or file left open;
// - unticked tracks ripped or touched, the finished message before ripFinished is set;
// - Stop hanging (also in an error box);
// - the copy CRC or an AccurateRip sum not those of the audio as read (against zlib and
//   whipper's accuraterip-checksum), the first or last track's edges not skipped, a sum of a
//   read cut short taken for the track's
// - the offset finder's sums by correction other than the track's read at that correction
// - secure reading: a read the database confirms read again, a second read not taken, more
//   than five reads, a file not holding audio that two reads agree on, "Reads differ" not
//   ending the track ERROR, the bar jumping back; a track the CUETools database confirms
//   read again, its neighbours' edges not read for the shifted CRCs or reaching its file
// - a WAV header (RIFF size, byte rate, block align) other than the data of each format; the
//   disc's own format not the drive's audio bit for bit, the others not as long (a WAV cut
//   short by a read error or failed write: the fault table of test_fault_injection).
#include <zlib.h>

#include <climits>
#include <cstring>

#include <gtest/gtest.h>

#include "capture/capture.h"
#include "capture/checksums.h"
#include "capture/ctdb_crc.h"
#include "capture/offset_finder.h"
#include "config/settings.h"
#include "disc/ctdb.h"
#include "encoders/wav_writer.h"
#include "rip/rip_job.h"
#include "support/decode.h"
#include "support/fake_drive.h"
#include "support/http_server.h"
#include "support/recording_host.h"
#include "support/test_env.h"

namespace {

using Ints = std::vector<int32_t>;

// The 44-byte header by hand: words after "RIFF", "WAVEfmt " and "data", 16-bit pairs sharing
// a word (the host is little-endian, like the file).
std::string WavHeader(uint32_t dataSize, uint32_t rate, uint32_t channels, uint32_t bits) {
  const uint32_t align = channels * bits / 8;
  const uint32_t w[] = {dataSize + 36,      16,      1 | channels << 16, rate, rate * align,
                        align | bits << 16, dataSize};
  const auto words = [&](int from, int to) {
    return std::string(reinterpret_cast<const char*>(w + from), 4 * (to - from));
  };
  return "RIFF" + words(0, 1) + "WAVEfmt " + words(1, 6) + "data" + words(6, 7);
}

class RipEngine : public ::testing::Test {
 protected:
  // `lengths` audio tracks back to back from sector 0, all ticked, album "Album", in a new
  // drive that a new host hears of.
  void UseDisc(const std::vector<uint32_t>& lengths, int32_t format) {
    drive_ = std::make_shared<FakeDrive>();
    host_ = std::make_unique<RecordingHost>();
    std::vector<FakeTrack> tracks;
    uint32_t start = 0;
    for (uint32_t length : lengths) {
      tracks.push_back({start, length, false});
      start += length;
    }
    drive_->SetTracks(tracks);
    SetCdDevices({drive_});
    PrepareRipSettings(dir_.path() + "/", format);
    ripSettings.discAlbum = "Album";
  }
  // Captures a track into the temporary file (`wav`: rips it to t.wav), as the worker would,
  // with the job as `adjust` leaves it.
  void Capture(bool wav = false, size_t position = 0,
               const std::function<void(CaptureJob&)>& adjust = {}) {
    ripSettings.ripping = 1;
    buffer_ = AllocTrackBuffer(26);
    job_ =
        CaptureJob{&ripSettings.tracks.at(position), buffer_.get(), wav ? dir_ / "t.wav" : pcm()};
    if (adjust) adjust(job_);
    wav ? RipTrackToWav(*host_, job_) : CaptureTrackToPcm(*host_, job_);
  }
  std::string pcm() const { return dir_ / "cddatmp001.pcm"; }
  std::string wavOf(int position) const {
    return dir_ / ("Album/-Track 0" + std::to_string(position + 1) + ".wav");
  }
  Ints statuses() const {
    Ints s;
    for (const TrackRecord& t : ripSettings.tracks) s.push_back(t.status);
    return s;
  }
  void TearDown() override { StopRipJob(); }

  ScopedConfigHome config_;
  TempDir dir_;
  std::shared_ptr<FakeDrive> drive_;
  std::unique_ptr<RecordingHost> host_;
  TrackBufferPtr buffer_;
  CaptureJob job_;
};

TEST_F(RipEngine, CaptureReadsBlocksOf26WithProgressBeforeEveryFifth) {
  UseDisc({261}, Mp3);
  Capture();
  // Before blocks 0, 5 and 10 on the 0..30 scale, then the closing message.
  EXPECT_EQ(host_->ProgressOf(0), (Ints{0, 14, 29, 29}));
  const auto reads = drive_->Reads();
  ASSERT_EQ(reads.size(), 11u);
  for (size_t i = 0; i < reads.size(); ++i) {
    EXPECT_EQ(reads[i].start, 26 * i);
    EXPECT_EQ(reads[i].count, i == 10 ? 1u : 26u);
  }
  EXPECT_EQ(ReadFile(pcm()), FakeDrive::ExpectedAudio(0, 261));
  EXPECT_EQ(drive_->Closes(), drive_->Opens());
  EXPECT_EQ(drive_->OptionsSet(), (std::vector<std::pair<int, uint32_t>>{{37, 3}, {38, 1}}));
  EXPECT_TRUE(host_->errors().empty());
}

// The sink writes on a thread of its own and the loop learns of a refused piece a few pieces
// late (the last piece's refusal only when the loop ends): whichever piece it refuses, it says
// "Cannot write output file" once, ends the track ERROR, and offers nothing after it.
TEST_F(RipEngine, ARefusedPieceEndsTheReadWhereverItFalls) {
  class Refusing : public PcmSink {
   public:
    explicit Refusing(size_t refuse) : refuse_(refuse) {}
    bool Write(const uint8_t* data, size_t size) override {
      if (pieces_++ == refuse_) return false;
      taken_.append(reinterpret_cast<const char*>(data), size);
      return true;
    }
    size_t pieces_ = 0, refuse_;
    std::string taken_;
  };
  for (size_t refuse : {0u, 1u, 3u}) {  // of the 4 blocks of a 100-sector track
    SCOPED_TRACE(testing::Message() << "refused piece " << refuse);
    UseDisc({100}, Wav);
    ripSettings.ripping = 1;
    buffer_ = AllocTrackBuffer(26);
    job_ = CaptureJob{&ripSettings.tracks[0], buffer_.get(), ""};
    Refusing sink(refuse);
    const CdHandle handle = OpenDriveForCapture();
    const ReadLoopResult result = RunReadLoop(*host_, job_, handle, sink, 100);
    CloseCDHandle(handle);
    EXPECT_TRUE(result.writeFailed);
    EXPECT_FALSE(result.whole || ripSettings.tracks[0].checksums.complete);
    EXPECT_EQ(ripSettings.tracks[0].status, kStatusError);
    EXPECT_EQ(host_->errors(), std::vector<std::string>{"Cannot write output file"});
    EXPECT_EQ(sink.pieces_, refuse + 1);
    EXPECT_TRUE(sink.taken_ == FakeDrive::ExpectedAudio(0, 26 * uint32_t(refuse)));
  }
}

// Each row: the drive's script, the errors, what the temporary file holds, the drive's read
// calls (each of the three attempts asks it 1 + 3 times), the track's length. A row with
// errors fails the capture.
TEST_F(RipEngine, CaptureFaults) {
  const auto audio = &FakeDrive::ExpectedAudio;
  const struct {
    std::function<void(FakeDrive&)> script;
    std::vector<std::string> errors;
    std::string audio;
    size_t reads;
    uint32_t trackLength = 100;  // sectors the TOC gives the track; the disc has 100
  } cases[] = {
      {[](FakeDrive& d) { d.FailAttempts(26, 1, 2); }, {}, audio(0, 100), 4 + 2},
      {[](FakeDrive& d) { d.FailAttempts(52, 1, INT_MAX); },
       {"Error at frame 52 (3:4)"},
       audio(0, 52),
       2 + 3 * 4},
      {[](FakeDrive& d) { d.DeliverShifted(26, 4, 4); },
       {},
       audio(0, 26) + audio(26, 26).substr(0, 61148) + audio(52, 48),
       4},
      {[](FakeDrive& d) { d.SetCannotOpen(true); }, {"Error at frame 0 (1:130)"}, "", 0},
      {[](FakeDrive& d) { d.DeliverShifted(26, 60000, 0); },
       {"Error at frame 26 (3:4)"},
       audio(0, 26),
       1 + 3 * 4},
      // A block past the disc's end fails at once on every attempt: the library's own
      // retries are for I/O errors, and would cost seconds at the end of every disc.
      {[](FakeDrive&) {}, {"Error at frame 78 (4:4)"}, audio(0, 78), 3 + 3, 110},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    UseDisc({100}, Mp3);
    ripSettings.tracks[0].lengthSectors = c.trackLength;
    c.script(*drive_);
    Capture();
    EXPECT_EQ(host_->errors(), c.errors);
    EXPECT_EQ(job_.captureFailed, !c.errors.empty());
    EXPECT_EQ(ripSettings.tracks[0].checksums.complete, c.errors.empty());
    EXPECT_EQ(drive_->Reads().size(), c.reads);
    EXPECT_TRUE(ReadFile(pcm()) == c.audio);
    EXPECT_EQ(drive_->Closes(), drive_->Opens());
  }
}

TEST_F(RipEngine, ChecksumsOfEachTrackAsItIsRead) {
  // First, middle and last audio track (the last shorter than what it skips); a lone track.
  for (const auto& lengths : {std::vector<uint32_t>{10, 8, 3}, std::vector<uint32_t>{12}}) {
    UseDisc(lengths, Wav);
    for (size_t p = 0; p < lengths.size(); ++p) {
      SCOPED_TRACE(testing::Message() << "track " << p + 1 << " of " << lengths.size());
      const TrackRecord& track = ripSettings.tracks[p];
      const std::string wav = dir_ / "t.wav";
      Capture(true, p);
      const std::string audio = ReadFile(wav).substr(44);
      const auto oracle = [&](const char* version) {
        const CommandResult r = RunCommand({"/usr/bin/accuraterip-checksum", version, wav,
                                            std::to_string(p + 1), std::to_string(lengths.size())});
        return r.exitStatus == 0 ? std::stoul(r.out, nullptr, 16) : ~0ul;
      };
      // A track shorter than its skipped edge sums nothing (the oracle's range wraps there).
      const bool tooShort = lengths.size() > 1 && p + 1 == lengths.size() && lengths[p] < 5;
      const auto expected = [&](const char* version) { return tooShort ? 0ul : oracle(version); };
      EXPECT_TRUE(track.checksums.complete);
      EXPECT_EQ(track.checksums.copyCrc,
                crc32(0, reinterpret_cast<const Bytef*>(audio.data()), uInt(audio.size())));
      EXPECT_EQ(track.checksums.accurateRipV1, expected("--accuraterip-v1"));
      EXPECT_EQ(track.checksums.accurateRipV2, expected("--accuraterip-v2"));
    }
  }
}

// With a read offset of N samples a track is the disc's audio from N samples after its TOC
// start, silence where that runs off the disc's first sector or past its last audio track.
TEST_F(RipEngine, ReadOffsetShiftsTheAudioWithSilenceOffTheDisc) {
  const std::vector<uint32_t> lengths = {30, 40, 20};
  const std::string disc = FakeDrive::ExpectedAudio(0, 90);
  for (const int32_t offset : {0, 667, -667, 3 * 588, -3000, 3000}) {
    uint32_t start = 0;
    for (size_t p = 0; p < lengths.size(); start += lengths[p++]) {
      SCOPED_TRACE(testing::Message() << "offset " << offset << ", track " << p + 1);
      UseDisc(lengths, Mp3);
      ripSettings.readOffset = offset;
      Capture(false, p);
      std::string expected(lengths[p] * kSectorBytes, '\0');
      for (size_t i = 0; i < expected.size(); ++i) {
        const int64_t at = int64_t{start} * kSectorBytes + 4 * offset + int64_t(i);
        if (at >= 0 && at < int64_t(disc.size())) expected[i] = disc[size_t(at)];
      }
      EXPECT_TRUE(ReadFile(pcm()) == expected);
      EXPECT_TRUE(host_->errors().empty());
      EXPECT_TRUE(ripSettings.tracks[p].checksums.complete);
      size_t sectorsRead = 0;
      for (const FakeReadCall& read : drive_->Reads()) sectorsRead += read.count;
      EXPECT_LE(sectorsRead, lengths[p] + 1u);
    }
  }
}

// Secure reading of a 30-sector track (two blocks a read); each row garbles the reads of its
// first block from attempt `first` to `last` (0: none), every garbled read its own way.
TEST_F(RipEngine, SecureReadingReadsUntilTwoReadsAgree) {
  const std::string good = FakeDrive::ExpectedAudio(0, 30);
  TrackChecksums sums(30 * 588, true, true);
  sums.Add(reinterpret_cast<const uint8_t*>(good.data()), good.size());
  const AccurateRipLookup confirms{
      AccurateRipLookup::kFound, {{1, 0, 0, 0, {{9, sums.Values().accurateRipV2}}}}, ""};
  const struct {
    int first, last;
    bool inDatabase;
    size_t reads;      // passes over the track
    bool fileIsGood;   // else the last (garbled) read
    bool readsDiffer;  // "Reads differ", ERROR
  } rows[] = {
      {0, 0, false, 2, true, false},       {1, 1, false, 3, true, false},
      {2, 2, false, 3, true, false},       {1, 2, false, 4, true, false},
      {1, INT_MAX, false, 5, false, true}, {0, 0, true, 1, true, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "garbled " << row.first << ".." << row.last
                                    << (row.inDatabase ? ", confirmed" : ""));
    UseDisc({30}, Mp3);
    if (row.first) drive_->GarbleAttempts(0, row.first, row.last);
    Capture(false, 0, [&](CaptureJob& job) {
      job.secure = true;
      job.accurateRip = row.inDatabase ? &confirms : nullptr;
      job.audioTracks = 1;
    });
    const TrackRecord& track = ripSettings.tracks[0];
    EXPECT_EQ(drive_->Reads().size(), 2 * row.reads);
    std::string last = good;
    if (!row.fileIsGood) last[0] = char(last[0] ^ row.reads);
    EXPECT_TRUE(ReadFile(pcm()) == last);
    EXPECT_EQ(host_->errors(), row.readsDiffer ? std::vector<std::string>{"Reads differ"}
                                               : std::vector<std::string>{});
    EXPECT_EQ(job_.captureFailed, row.readsDiffer);
    EXPECT_EQ(track.status == kStatusError, row.readsDiffer);
    EXPECT_EQ(track.checksums.readCrcs.size(), row.inDatabase ? 0 : row.reads);
    EXPECT_EQ(track.checksums.tested, !row.inDatabase && !row.readsDiffer);
    // The bar only moves on, and stays in the capture's share.
    const std::vector<int32_t> progress = host_->ProgressOf(0);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end() - row.readsDiffer));
    EXPECT_LT(progress.back(), row.readsDiffer ? 103 : 30);
  }
}

// Secure reading of the middle track of three (30, 40, 30 sectors) against a CUETools
// database whose entry holds its CRC (zlib's over its audio: the disc's counted span takes it
// whole) or another: a track it confirms is read once, one it does not twice. Either way the
// read takes in its neighbours' edges (from sector 25, the track's start less 2939 samples,
// to sector 75), and the file holds the track's own audio alone.
TEST_F(RipEngine, SecureReadingTakesTheCtdbsConfirmationAndReadsTheNeighboursEdges) {
  const std::string good = FakeDrive::ExpectedAudio(30, 40);
  const auto crc = static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(good.data()), static_cast<uInt>(good.size())));
  for (const bool confirmed : {true, false}) {
    SCOPED_TRACE(confirmed);
    char entry[160];
    std::snprintf(entry, sizeof entry,
                  "<entry id=\"1\" crc32=\"1\" confidence=\"3\" trackcrcs=\"1 %08x 2\" "
                  "toc=\"0:30:70:100\"/>",
                  static_cast<unsigned>(confirmed ? crc : crc ^ 1));
    const std::string reply =
        "<ctdb xmlns=\"" + std::string(kCtdbNamespace) + "\">" + entry + "</ctdb>";
    const CtdbLookup lookup = ReadCtdbReply(reply, "0:30:70:100");
    ASSERT_EQ(lookup.kind, CtdbLookup::kFound);
    UseDisc({30, 40, 30}, Mp3);
    Capture(false, 1, [&](CaptureJob& job) {
      job.secure = true;
      job.ctdb = &lookup;
    });
    const TrackRecord& track = ripSettings.tracks[1];
    size_t passes = 0, sectors = 0;
    for (const FakeReadCall& read : drive_->Reads()) {
      passes += read.start == 25;
      sectors += read.count;
    }
    EXPECT_EQ(passes, confirmed ? 1u : 2u);
    EXPECT_EQ(sectors, 50 * passes);
    EXPECT_TRUE(ReadFile(pcm()) == good);
    EXPECT_EQ(track.checksums.copyCrc, crc);
    EXPECT_EQ(track.checksums.ctdbCrc, crc);
    EXPECT_EQ(track.checksums.ctdbByShift.size(), 2u * kCtdbShiftLimit + 1);
    EXPECT_EQ(track.ctdb,
              confirmed ? "Accurately ripped (3/3)" : "Not accurate (database confidence 3)");
    EXPECT_EQ(track.checksums.tested, !confirmed);
    EXPECT_TRUE(host_->errors().empty());
  }
}

// Reads that never agree end the track ERROR, but its file keeps the last read in every
// format that goes through a capture file (a database that does not know the disc).
TEST_F(RipEngine, ReadsThatNeverAgreeKeepTheLastReadInTheFile) {
  HttpTestServer database([](const std::string&) { return HttpTestReply{404, ""}; });
  for (const int32_t format : {Wav, Flac}) {
    SCOPED_TRACE(format);
    UseDisc({30}, format);
    ripSettings.secureRip = 1;
    ripSettings.accurateRipServer = ripSettings.ctdbServer = database.Url();
    drive_->GarbleAttempts(0, 1, INT_MAX);
    StartRipJob(*host_);
    ASSERT_TRUE(host_->WaitFinished());
    JoinRipJob();
    EXPECT_EQ(statuses(), Ints{kStatusError});
    EXPECT_EQ(host_->errors(), std::vector<std::string>{"Reads differ"});
    std::string last = FakeDrive::ExpectedAudio(0, 30);
    last[0] = char(last[0] ^ kSecureReads);
    const std::string file =
        dir_ / ("Album/-Track 01" + std::string(format == Wav ? ".wav" : ".flac"));
    if (format == Wav) {
      EXPECT_TRUE(ReadFile(file).substr(44) == last);
    } else {
      EXPECT_TRUE(DecodeFlac(file) == std::optional<std::string>(last));
    }
    EXPECT_FALSE(FileExists(pcm()));
  }
}

// The offset finder's sums by correction against the plain sum of the track read at that
// correction, for a middle, a first, a last and a lone track, and one shorter than its edges.
TEST(SlidingV1, EveryCorrectionSumsAsTheTrackReadAtIt) {
  std::vector<uint8_t> room;
  uint32_t from = 0;
  for (const auto& [first, last, samples] : {std::tuple{false, false, 17520},
                                             {true, false, 17520},
                                             {false, true, 17520},
                                             {true, true, 17520},
                                             {true, true, 5000}}) {
    const std::string window = FakeDrive::ExpectedAudio(from++, 40);  // 23520 samples
    const auto* bytes = reinterpret_cast<const uint8_t*>(window.data());
    // Each takes over the window of the one before, as the offset finder's tracks do.
    SlidingV1 sliding(samples, first, last, 3000, std::move(room));
    for (size_t at = 0; at < (samples + 6000u) * 4; at += 7) {
      sliding.Add(bytes + at, std::min<size_t>(7, (samples + 6000u) * 4 - at));
    }
    const std::vector<uint32_t> sums = sliding.Sums();
    ASSERT_EQ(sums.size(), 6001u);
    for (const int offset : {-3000, -2999, -1, 0, 1, 667, 2999, 3000}) {
      TrackChecksums plain(samples, first, last);
      plain.Add(bytes + 4 * (3000 + offset), size_t(samples) * 4);
      EXPECT_EQ(sums[size_t(offset + 3000)], plain.Values().accurateRipV1)
          << first << last << " " << samples << " at " << offset;
    }
    EXPECT_EQ(sliding.V2At(667), [&] {
      TrackChecksums plain(samples, first, last);
      plain.Add(bytes + 4 * (3000 + 667), size_t(samples) * 4);
      return plain.Values().accurateRipV2;
    }());
    room = sliding.TakeWindow();
  }
}

// The copy CRC is zlib's for any length, start and initial value: around the wide path's
// 256-byte threshold and 128-byte blocks, and chained over pieces.
TEST(CopyCrc32, IsZlibsCrc32) {
  std::vector<uint8_t> bytes(70000);
  uint32_t x = 7;
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>((x = x * 1664525 + 1013904223) >> 24);
  for (size_t size : {0u, 1u, 255u, 256u, 257u, 383u, 384u, 385u, 1000u, 61152u, 69999u}) {
    for (size_t start : {0u, 1u, 31u}) {
      for (uint32_t initial : {0u, 0xFFFFFFFFu, 0x12345678u}) {
        EXPECT_EQ(CopyCrc32(initial, bytes.data() + start, size),
                  crc32(initial, bytes.data() + start, uInt(size)))
            << size << " bytes from " << start << ", initial " << initial;
      }
    }
  }
  uint32_t chained = 0;
  for (size_t at = 0; at < bytes.size(); at += 3001) {
    chained = CopyCrc32(chained, bytes.data() + at, std::min<size_t>(3001, bytes.size() - at));
  }
  EXPECT_EQ(chained, crc32(0, bytes.data(), uInt(bytes.size())));
#if defined(__x86_64__)
  // Where the processor has the wide products, the fast path passed its own check.
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("vpclmulqdq")) {
    EXPECT_TRUE(CopyCrc32IsWide());
  }
#endif
}

TEST(TrackChecksums, PiecesEndingInsideASampleChangeNothing) {
  const std::string audio = FakeDrive::ExpectedAudio(0, 7);
  const auto* bytes = reinterpret_cast<const uint8_t*>(audio.data());
  const auto sums = [&](size_t piece) {
    TrackChecksums checksums(7 * 588, true, false);
    for (size_t at = 0; at < audio.size(); at += piece) {
      checksums.Add(bytes + at, std::min(piece, audio.size() - at));
    }
    const TrackChecksumValues v = checksums.Values();
    return std::tuple(v.copyCrc, v.accurateRipV1, v.accurateRipV2);
  };
  const auto whole = sums(audio.size());
  EXPECT_NE(std::get<1>(whole), 0u);
  for (size_t piece : {1u, 3u, 4097u}) EXPECT_EQ(sums(piece), whole) << "piece " << piece;
}

TEST_F(RipEngine, WalksTickedTracksInListOrderAndLeavesOthersAlone) {
  UseDisc({30, 30, 30, 30, 30}, Wav);
  for (TrackRecord& t : ripSettings.tracks) t.checked = 0, t.status = 42;
  ripSettings.tracks[1].checked = ripSettings.tracks[4].checked = 1;
  StartRipJob(*host_);
  ASSERT_TRUE(host_->WaitFinished());
  JoinRipJob();
  EXPECT_EQ(host_->currentTracks(), (Ints{1, 4}));
  EXPECT_EQ(host_->startedFiles(), (std::vector<std::string>{wavOf(1), wavOf(4)}));
  EXPECT_EQ(statuses(), (Ints{42, kStatusCompleted, 42, 42, kStatusCompleted}));
  EXPECT_TRUE(ReadFile(wavOf(4)).substr(44) == FakeDrive::ExpectedAudio(120, 30));
  EXPECT_EQ(host_->finishedCount(), 1);
  EXPECT_TRUE(host_->finishedAfterFlag());
  EXPECT_EQ(ripSettings.ripping, 0);
}

TEST_F(RipEngine, StopAtEveryMomentEndsTheRestStoppedWithoutHanging) {
  enum Moment { RightAfterStart, MidSecondTrack, InErrorBox, AfterTheEnd };
  const struct {
    Moment moment;
    Ints statuses;
    size_t secondWavBytes;  // 0: no file
  } cases[] = {
      {RightAfterStart, {kStatusStopped, kStatusStopped, kStatusStopped}, 0},
      {MidSecondTrack, {kStatusCompleted, kStatusStopped, kStatusStopped}, 44 + 52 * 2352},
      {InErrorBox, {kStatusCompleted, kStatusStopped, kStatusStopped}, 44 + 26 * 2352},
      {AfterTheEnd, {kStatusCompleted, kStatusCompleted, kStatusPending}, 44 + 300 * 2352},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.moment);
    UseDisc(c.moment == RightAfterStart ? std::vector<uint32_t>(3, 3000)
                                        : std::vector<uint32_t>{60, 300, 60},
            Wav);
    if (c.moment == MidSecondTrack) drive_->BlockReadAt(60 + 26);
    if (c.moment == InErrorBox) drive_->FailAttempts(60 + 26, 1, INT_MAX), host_->HoldErrorBoxes();
    if (c.moment == AfterTheEnd) ripSettings.tracks[2].checked = 0;
    StartRipJob(*host_);
    if (c.moment == MidSecondTrack) {
      ASSERT_TRUE(drive_->WaitUntilBlocked());
      // StopRipJob's first step, taken while the read is held; the job then ends before
      // StopRipJob marks anything, so the stopped track's status is the read loop's own.
      ripSettings.ripping = 0;
      drive_->ReleaseRead();
      ASSERT_TRUE(host_->WaitFinished());
    }
    if (c.moment == InErrorBox || c.moment == AfterTheEnd) {
      ASSERT_TRUE(c.moment == InErrorBox ? host_->WaitForErrorBox() : host_->WaitFinished());
    }
    StopRipJob();
    EXPECT_EQ(statuses(), c.statuses);
    EXPECT_EQ(FileExists(wavOf(1)) ? ReadFile(wavOf(1)).size() : 0, c.secondWavBytes);
    EXPECT_FALSE(FileExists(wavOf(2)));
    EXPECT_TRUE(host_->ProgressOf(2).empty());
    EXPECT_EQ(host_->finishedCount(), 1);
    EXPECT_EQ(drive_->Opens(), drive_->Closes());
  }
}

TEST_F(RipEngine, WavHeaderDescribesTheDataOfEachFormat) {
  const struct {
    WavSettings settings;
    uint32_t rate, channels, bits, sectors;
  } rows[] = {{{0, 1, 1}, 44100, 2, 16, 75}, {{1, 1, 1}, 32000, 2, 16, 75},
              {{3, 0, 1}, 48000, 1, 16, 75}, {{2, 1, 0}, 44100, 2, 8, 75},
              {{3, 0, 0}, 48000, 1, 8, 75},  {{1, 0, 0}, 32000, 1, 8, 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.rate << " Hz, " << row.channels << "x" << row.bits);
    UseDisc({row.sectors}, Wav);
    std::memcpy(ripSettings.tracks[0].formatSettings.data(), &row.settings, sizeof row.settings);
    Capture(true);
    const std::string file = ReadFile(dir_ / "t.wav");
    EXPECT_EQ(ripSettings.tracks[0].status, kStatusCompleted);
    const auto dataSize = static_cast<uint32_t>(file.size() - 44);
    EXPECT_EQ(file.substr(0, 44), WavHeader(dataSize, row.rate, row.channels, row.bits));
    // As long as the track, in whole frames (the resampler may round by one).
    const uint32_t align = row.channels * row.bits / 8;
    EXPECT_EQ(dataSize % align, 0u);
    EXPECT_NEAR(dataSize / align, row.sectors * 588.0 * row.rate / 44100, 1.0);
    const bool disc = row.rate == 44100 && align == 4;
    EXPECT_EQ(disc ? file.substr(44) : "", disc ? FakeDrive::ExpectedAudio(0, row.sectors) : "");
    EXPECT_EQ(drive_->Closes(), drive_->Opens());
    EXPECT_TRUE(host_->errors().empty());
  }
}

}  // namespace
