// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// mkdisc: writes a synthetic disc image (cue/bin, cdrdao toc/bin or Nero nrg) for tests and
// demos.
// The audio is generated, not recorded: a few voices of a chord progression with vibrato,
// drums and a little noise, so encoders and rippers get something music-like to chew on,
// and every byte is a function of the arguments alone.
#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kSectorBytes = 2352;
constexpr uint32_t kFramesPerSector = kSectorBytes / 4;
constexpr uint32_t kSectorsPerSecond = 75;
constexpr double kSampleRate = 44100.0;
constexpr int kMaxTracks = 99;
// Enough for any real disc (80 minutes is 360,000 sectors) with room to spare.
constexpr uint64_t kMaxTotalSectors = 1'000'000;

const char kHelp[] =
    "Usage: mkdisc OUTPUT [options]\n"
    "Writes a synthetic audio CD image.\n"
    "  OUTPUT ending in .cue  writes a cue sheet and OUTPUT with .bin beside it\n"
    "  OUTPUT ending in .toc  writes a cdrdao TOC file and OUTPUT with .bin beside it;\n"
    "                         every track's length is declared explicitly\n"
    "  OUTPUT ending in .nrg  writes a Nero disc-at-once image (one file: the 150-sector\n"
    "                         pregap, the audio, then the CUEX/DAOX chunk table)\n"
    "Options:\n"
    "  --lengths L1,L2,...  track lengths in sectors (75 per second);\n"
    "                       default 4500,3000,6000\n"
    "  --data-track K       track K (1-based) is a MODE1/2352 data track (not .nrg)\n"
    "  --seed N             seed of the generated audio (default 1); the same\n"
    "                       arguments always give the same bytes\n"
    "  --short N            .toc only: the bin holds N sectors fewer than the TOC\n"
    "                       declares, cut from the end\n"
    "  --title TEXT         the disc's CD-Text title (.cue and .toc); --performer TEXT\n"
    "                       its performer\n"
    "  --track-title N=TEXT  track N's title; --track-performer N=TEXT its performer\n"
    "  --cdrdao-layout      .toc only: CD-Text as cdrdao writes it (blocks over several\n"
    "                       lines, SIZE_INFO, octal escapes of Latin-1 for UTF-8 text)\n"
    "  --pregaps P1,P2,...  each track's pregap (index 0 before index 1) in sectors, the\n"
    "                       end of the track before it, rendered as digital silence; track\n"
    "                       1's must be 0 (.cue and .toc)\n"
    "  --source bin|wav|flac  .cue only: the audio as raw sectors (default), RIFF WAVE\n"
    "                       files (with an odd-sized LIST chunk before the data) or FLAC\n"
    "                       files (typed WAVE in the sheet, as rippers write them)\n"
    "  --layout single|appended|prepended|leftout  .cue only: one file for the disc\n"
    "                       (default), or one per track with each pregap at the end of the\n"
    "                       file before, at the start of its own, or left out (PREGAP);\n"
    "                       per-track files are named OUTPUT-NN.EXT\n"
    "  --sines L1,L2,...    track K is a 1 kHz sine at peak level LK dBFS in both channels\n"
    "                       (e.g. -20), or digital silence for 'silence'; the tracks\n"
    "                       after the list's end are music as usual\n"
    "  --help               this text\n"
    "Track lengths of 0: a .cue image may hold an empty track at any position.\n"
    "A .toc image may hold one anywhere but last: libcdio reads a zero length on the\n"
    "last track as \"up to the end of the bin\", so mkdisc refuses that.\n"
    "libcdio refuses a .toc in which one track alone declares more sectors than the\n"
    "whole bin holds, so with --short every track must fit in the shortened bin.\n"
    "Exit status: 0 written, 1 output could not be written, 2 usage error.\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "mkdisc: %s\nTry 'mkdisc --help'.\n", message.c_str());
  return 2;
}

bool ParseUnsigned(const std::string& text, uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() > suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Minutes:seconds:frames as cue sheets and cdrdao TOC files write sector positions.
std::string Msf(uint64_t sectors) {
  char text[32];
  std::snprintf(text, sizeof text, "%02llu:%02llu:%02llu",
                static_cast<unsigned long long>(sectors / (60 * kSectorsPerSecond)),
                static_cast<unsigned long long>(sectors / kSectorsPerSecond % 60),
                static_cast<unsigned long long>(sectors % kSectorsPerSecond));
  return text;
}

uint64_t SplitMix(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() { return SplitMix(state_); }
  // Uniform in [0, 1).
  double Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
  double Range(double lo, double hi) { return lo + (hi - lo) * Unit(); }
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }

 private:
  uint64_t state_;
};

// Per-sample noise: cheaper than SplitMix and good enough for hiss and drums.
struct NoiseSource {
  uint32_t state;
  float Next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<float>(static_cast<int32_t>(state)) * (1.0f / 2147483648.0f);
  }
};

// One period of the voices' timbre (a soft organ: fundamental and two overtones) and of a
// plain sine, indexed by the top bits of a 32-bit phase.
constexpr int kTableBits = 11;
constexpr uint32_t kTableSize = 1u << kTableBits;
constexpr int kFracBits = 32 - kTableBits;

struct Tables {
  float organ[kTableSize + 1];
  float sine[kTableSize + 1];
  Tables() {
    for (uint32_t i = 0; i <= kTableSize; ++i) {
      double x = 2.0 * M_PI * i / kTableSize;
      sine[i] = static_cast<float>(std::sin(x));
      organ[i] =
          static_cast<float>((std::sin(x) + 0.35 * std::sin(2 * x) + 0.15 * std::sin(3 * x)) / 1.3);
    }
  }
};

inline float Lookup(const float* table, uint32_t phase) {
  uint32_t index = phase >> kFracBits;
  float frac = static_cast<float>(phase & ((1u << kFracBits) - 1)) * (1.0f / (1u << kFracBits));
  return table[index] + (table[index + 1] - table[index]) * frac;
}

uint32_t PhaseIncrement(double hz) {
  return static_cast<uint32_t>(hz / kSampleRate * 4294967296.0);
}

double MidiHz(int note) {
  return 440.0 * std::pow(2.0, (note - 69) / 12.0);
}

// Sectors `from`.. of a track that is a 1 kHz sine of peak `dbfs` (NaN: silence), the same
// in both channels: the loudness meters' textbook signal.
void RenderSine(double dbfs, uint32_t from, uint32_t sectors, uint8_t* out) {
  const double amplitude = std::isnan(dbfs) ? 0 : std::pow(10.0, dbfs / 20) * 32768;
  for (uint64_t n = uint64_t{from} * kFramesPerSector; sectors > 0; --sectors) {
    for (uint32_t f = 0; f < kFramesPerSector; ++f, ++n, out += 4) {
      const double x = amplitude * std::sin(2 * M_PI * 1000 * static_cast<double>(n) / kSampleRate);
      const auto sample = static_cast<int16_t>(std::lround(std::clamp(x, -32768.0, 32767.0)));
      for (int c = 0; c < 2; ++c) {
        out[2 * c] = static_cast<uint8_t>(static_cast<uint16_t>(sample) & 0xFF);
        out[2 * c + 1] = static_cast<uint8_t>(static_cast<uint16_t>(sample) >> 8);
      }
    }
  }
}

// Generates one track's audio as a continuous stream, sector after sector.
class Song {
 public:
  Song(const Tables& tables, uint64_t seed) : tables_(tables), random_(seed) {
    static const int kProgressions[][4] = {
        {0, 7, 9, 5}, {9, 5, 0, 7}, {0, 9, 5, 7}, {2, 7, 0, 9}, {0, 5, 7, 5}};
    const int choice = random_.Below(5);
    for (int i = 0; i < 4; ++i) progression_[i] = kProgressions[choice][i];
    root_ = 45 + random_.Below(12);
    double bpm = random_.Range(84, 132);
    samplesPerBeat_ = static_cast<uint32_t>(kSampleRate * 60.0 / bpm);
    static const float kPans[4] = {-0.1f, -0.55f, 0.5f, 0.15f};
    static const float kLevels[4] = {0.16f, 0.085f, 0.08f, 0.07f};
    for (int v = 0; v < 4; ++v) {
      Voice& voice = voices_[v];
      float pan = kPans[v] + static_cast<float>(random_.Range(-0.1, 0.1));
      voice.left = kLevels[v] * std::cos((pan + 1.0f) * static_cast<float>(M_PI) / 4);
      voice.right = kLevels[v] * std::sin((pan + 1.0f) * static_cast<float>(M_PI) / 4);
      voice.lfoIncrement = PhaseIncrement(random_.Range(4.5, 6.0) * kControlBlock);
      voice.lfoPhase = static_cast<uint32_t>(random_.Next());
      voice.depth = static_cast<float>(random_.Range(0.002, 0.005));
      voice.sustain = v == 0 ? 0.5f : 0.35f;
      voice.decay = static_cast<float>(std::exp(-1.0 / (kSampleRate * random_.Range(0.2, 0.5))));
      voice.phase = static_cast<uint32_t>(random_.Next());
    }
    noise_.state = static_cast<uint32_t>(random_.Next()) | 1u;
    swing_ = static_cast<uint32_t>(random_.Range(0.0, 0.08) * samplesPerBeat_);
  }

  // Appends `sectors` sectors of 16-bit little-endian stereo to `out`.
  void Render(uint32_t sectors, uint8_t* out) {
    for (uint32_t frame = 0; frame < sectors * kFramesPerSector; ++frame) {
      if (sampleInBeat_ == 0) StartBeat();
      if (sampleInBeat_ == samplesPerBeat_ / 2 + swing_) Hat(0.05f);
      if ((position_ & (kControlBlock - 1)) == 0) UpdateVibrato();

      float left = 0, right = 0;
      for (Voice& voice : voices_) {
        voice.phase += voice.increment;
        voice.envelope *= voice.decay;
        float s =
            Lookup(tables_.organ, voice.phase) * (voice.sustain + voice.envelope) * voice.attack;
        if (voice.attack < 1.0f) voice.attack = std::fmin(1.0f, voice.attack + kAttackStep);
        left += s * voice.left;
        right += s * voice.right;
      }

      float drums = 0;
      if (kickLevel_ > 1e-4f) {
        kickPhase_ += static_cast<uint32_t>(kickIncrement_);
        kickIncrement_ = kickIncrement_ * kKickGlide + kKickFloor * (1 - kKickGlide);
        kickLevel_ *= kKickDecay;
        drums += Lookup(tables_.sine, kickPhase_) * kickLevel_;
      }
      float n = noise_.Next();
      if (noiseLevel_ > 1e-4f) {
        noiseLevel_ *= noiseDecay_;
        drums += n * noiseLevel_;
      }
      const float hiss = n * 0.002f;
      left += drums * 0.95f + hiss;
      right += drums * 0.9f - hiss;

      Store(out, left);
      Store(out + 2, right);
      out += 4;
      ++position_;
      if (++sampleInBeat_ == samplesPerBeat_) sampleInBeat_ = 0;
    }
  }

 private:
  static constexpr uint32_t kControlBlock = 32;
  static constexpr float kAttackStep = 1.0f / 300;
  static constexpr float kKickGlide = 0.9993f;
  static constexpr float kKickDecay = 0.99985f;
  static constexpr float kKickFloor = 45.0f / 44100.0f * 4294967296.0f;

  struct Voice {
    uint32_t phase = 0, increment = 0, baseIncrement = 0;
    uint32_t lfoPhase = 0, lfoIncrement = 0;
    float depth = 0, left = 0, right = 0;
    float envelope = 0, decay = 0, sustain = 0, attack = 0;
  };

  static void Store(uint8_t* out, float value) {
    float scaled = value * 0.6f * 32767.0f;
    scaled = std::fmax(-32768.0f, std::fmin(32767.0f, scaled));
    auto sample = static_cast<int16_t>(std::lrint(scaled));
    out[0] = static_cast<uint8_t>(sample);
    out[1] = static_cast<uint8_t>(static_cast<uint16_t>(sample) >> 8);
  }

  void StartBeat() {
    const uint32_t beatInBar = beat_ % 4;
    if (beatInBar == 0) StartChord(progression_[(beat_ / 4) % 4]);
    // Kick on one and three, a snare-like burst on two and four, now and then an extra kick.
    if (beatInBar == 0 || beatInBar == 2 || random_.Below(8) == 0) {
      kickLevel_ = 0.45f;
      kickIncrement_ = static_cast<float>(PhaseIncrement(random_.Range(110, 130)));
    }
    if (beatInBar == 1 || beatInBar == 3) {
      noiseLevel_ = 0.16f;
      noiseDecay_ = static_cast<float>(std::exp(-1.0 / (kSampleRate * 0.07)));
    } else {
      Hat(0.06f);
    }
    // Upper voices re-strike on some beats, the bass on every bar.
    for (int v = 1; v < 4; ++v) {
      if (random_.Below(3) == 0) voices_[v].envelope = 0.5f;
    }
    ++beat_;
  }

  void Hat(float level) {
    noiseLevel_ = level;
    noiseDecay_ = static_cast<float>(std::exp(-1.0 / (kSampleRate * 0.025)));
  }

  void StartChord(int degree) {
    // Major-scale triad on the degree, voiced bass + three upper notes.
    static const int kScale[] = {0, 2, 4, 5, 7, 9, 11};
    int step = 0;
    while (step < 6 && kScale[step] != degree) ++step;
    auto scaleNote = [&](int index) { return root_ + kScale[index % 7] + 12 * (index / 7); };
    const int notes[4] = {scaleNote(step) - 12, scaleNote(step) + 12, scaleNote(step + 2) + 12,
                          scaleNote(step + 4) + 12};
    for (int v = 0; v < 4; ++v) {
      voices_[v].baseIncrement = PhaseIncrement(MidiHz(notes[v]));
      voices_[v].envelope = 1.0f - voices_[v].sustain;
      voices_[v].attack = 0.0f;
    }
    UpdateVibrato();
  }

  void UpdateVibrato() {
    for (Voice& voice : voices_) {
      voice.lfoPhase += voice.lfoIncrement;
      float wobble = 1.0f + voice.depth * Lookup(tables_.sine, voice.lfoPhase);
      voice.increment = static_cast<uint32_t>(static_cast<float>(voice.baseIncrement) * wobble);
    }
  }

  const Tables& tables_;
  Random random_;
  Voice voices_[4];
  int progression_[4] = {};
  int root_ = 57;
  uint32_t samplesPerBeat_ = 22050;
  uint32_t swing_ = 0;
  uint32_t sampleInBeat_ = 0;
  uint32_t beat_ = 0;
  uint64_t position_ = 0;
  uint32_t kickPhase_ = 0;
  float kickIncrement_ = 0, kickLevel_ = 0;
  float noiseLevel_ = 0, noiseDecay_ = 0;
  NoiseSource noise_{1};
};

uint8_t Bcd(uint32_t value) {
  return static_cast<uint8_t>((value / 10) << 4 | (value % 10));
}

// Raw MODE1 sectors: sync pattern, header with the sector's address, then a payload that
// looks like file-system data (runs of zeros, text-like bytes, noise) rather than audio.
void RenderDataSectors(Random& random, uint32_t firstLsn, uint32_t sectors, uint8_t* out) {
  for (uint32_t s = 0; s < sectors; ++s, out += kSectorBytes) {
    std::memset(out, 0, kSectorBytes);
    std::memset(out + 1, 0xFF, 10);
    uint32_t address = firstLsn + s + 150;
    out[12] = Bcd(address / (60 * 75));
    out[13] = Bcd(address / 75 % 60);
    out[14] = Bcd(address % 75);
    out[15] = 1;
    uint8_t* payload = out + 16;
    const int kind = random.Below(4);
    for (uint32_t i = 0; i < 2048; i += 8) {
      uint64_t word = random.Next();
      for (int b = 0; b < 8; ++b) {
        uint8_t byte = static_cast<uint8_t>(word >> (8 * b));
        if (kind == 0)
          byte = 0;
        else if (kind == 1)
          byte = static_cast<uint8_t>(' ' + byte % 95);
        payload[i + b] = byte;
      }
    }
    for (uint32_t i = 2064; i < kSectorBytes; ++i) out[i] = static_cast<uint8_t>(random.Next());
  }
}

struct Options {
  std::string output;
  std::vector<uint32_t> lengths = {4500, 3000, 6000};
  int dataTrack = 0;  // 1-based; 0 = none
  uint64_t seed = 1;
  uint64_t shortBy = 0;
  bool toc = false;
  bool nrg = false;
  // CD-Text: the disc's (index 0) and each track's, empty where not given.
  std::vector<std::string> titles, performers;
  bool cdrdaoLayout = false;
  std::vector<uint32_t> pregaps;  // per track; empty: none
  std::string source = "bin";
  std::string layout = "single";
  std::vector<double> sines;  // per track from the first, dBFS; NaN: silence

  uint32_t Pregap(size_t track) const { return track < pregaps.size() ? pregaps[track] : 0; }
  // Where track t's index 1 lies.
  uint64_t Start(size_t track) const {
    uint64_t start = 0;
    for (size_t t = 0; t < track; ++t) start += lengths[t];
    return start;
  }
  uint64_t Total() const { return Start(lengths.size()); }
};

// A list of numbers "A,B,C"; false on a bad item.
bool ParseList(const std::string& value, std::vector<uint32_t>& out, std::string& bad) {
  out.clear();
  for (size_t start = 0;;) {
    const size_t comma = value.find(',', start);
    const std::string item = value.substr(start, comma - start);
    uint64_t number = 0;
    if (!ParseUnsigned(item, number) || number > kMaxTotalSectors) {
      bad = item;
      return false;
    }
    out.push_back(static_cast<uint32_t>(number));
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

// Parses the command line; returns -1 to go on, else the exit status.
int ParseArguments(int argc, char** argv, Options& options) {
  bool haveShort = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (arg.rfind("--", 0) == 0) {
      std::string value;
      size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        value = arg.substr(eq + 1);
        arg.resize(eq);
      } else if (arg == "--lengths" || arg == "--data-track" || arg == "--seed" ||
                 arg == "--short" || arg == "--title" || arg == "--performer" ||
                 arg == "--track-title" || arg == "--track-performer" || arg == "--pregaps" ||
                 arg == "--source" || arg == "--layout" || arg == "--sines") {
        if (i + 1 >= argc) return UsageError(arg + " needs a value");
        value = argv[++i];
      }
      uint64_t number = 0;
      std::string bad;
      if (arg == "--lengths") {
        if (!ParseList(value, options.lengths, bad))
          return UsageError("bad track length '" + bad + "'");
      } else if (arg == "--pregaps") {
        if (!ParseList(value, options.pregaps, bad)) return UsageError("bad pregap '" + bad + "'");
      } else if (arg == "--source") {
        if (value != "bin" && value != "wav" && value != "flac")
          return UsageError("bad --source '" + value + "' (bin, wav or flac)");
        options.source = value;
      } else if (arg == "--layout") {
        if (value != "single" && value != "appended" && value != "prepended" && value != "leftout")
          return UsageError("bad --layout '" + value + "' (single, appended, prepended, leftout)");
        options.layout = value;
      } else if (arg == "--data-track") {
        if (!ParseUnsigned(value, number) || number < 1 || number > kMaxTracks)
          return UsageError("bad data track '" + value + "'");
        options.dataTrack = static_cast<int>(number);
      } else if (arg == "--seed") {
        if (!ParseUnsigned(value, number)) return UsageError("bad seed '" + value + "'");
        options.seed = number;
      } else if (arg == "--short") {
        if (!ParseUnsigned(value, number)) return UsageError("bad --short '" + value + "'");
        options.shortBy = number;
        haveShort = true;
      } else if (arg == "--title" || arg == "--performer") {
        auto& texts = arg == "--title" ? options.titles : options.performers;
        if (texts.empty()) texts.resize(1);
        texts[0] = value;
      } else if (arg == "--track-title" || arg == "--track-performer") {
        const size_t eq2 = value.find('=');
        if (eq2 == std::string::npos || !ParseUnsigned(value.substr(0, eq2), number) ||
            number < 1 || number > kMaxTracks)
          return UsageError("bad " + arg + " '" + value + "' (N=TEXT)");
        auto& texts = arg == "--track-title" ? options.titles : options.performers;
        if (texts.size() <= number) texts.resize(number + 1);
        texts[number] = value.substr(eq2 + 1);
      } else if (arg == "--sines") {
        options.sines.clear();
        for (size_t from = 0; from <= value.size();) {
          size_t to = value.find(',', from);
          if (to == std::string::npos) to = value.size();
          const std::string item = value.substr(from, to - from);
          char* end = nullptr;
          const double level = item == "silence" ? NAN : std::strtod(item.c_str(), &end);
          if (item != "silence" && (item.empty() || *end != '\0' || !(level <= 0)))
            return UsageError("bad sine level '" + item + "' (dBFS up to 0, or silence)");
          options.sines.push_back(level);
          from = to + 1;
        }
      } else if (arg == "--cdrdao-layout") {
        options.cdrdaoLayout = true;
      } else {
        return UsageError("unknown option " + arg);
      }
      continue;
    }
    if (!options.output.empty()) return UsageError("more than one output file given");
    options.output = arg;
  }

  if (options.output.empty()) return UsageError("no output file given");
  if (EndsWith(options.output, ".toc")) {
    options.toc = true;
  } else if (EndsWith(options.output, ".nrg")) {
    options.nrg = true;
  } else if (!EndsWith(options.output, ".cue")) {
    return UsageError("output must end in .cue, .toc or .nrg");
  }
  // libcdio reads every track of a disc-at-once NRG as the kind of its first.
  if (options.nrg && options.dataTrack) return UsageError("--data-track does not work with .nrg");
  if (options.lengths.empty() || options.lengths.size() > kMaxTracks)
    return UsageError("a disc holds 1 to 99 tracks");
  uint64_t total = 0;
  for (uint32_t length : options.lengths) total += length;
  if (total == 0) return UsageError("the disc must hold at least one sector");
  if (total > kMaxTotalSectors) return UsageError("the disc is too long");
  if (options.dataTrack > static_cast<int>(options.lengths.size()))
    return UsageError("--data-track is beyond the last track");
  if (haveShort && !options.toc) return UsageError("--short works only with a .toc output");
  if (options.nrg && !(options.titles.empty() && options.performers.empty()))
    return UsageError("CD-Text works only with .cue and .toc outputs");
  if (options.cdrdaoLayout && !options.toc) return UsageError("--cdrdao-layout needs a .toc");
  if (options.titles.size() > options.lengths.size() + 1 ||
      options.performers.size() > options.lengths.size() + 1)
    return UsageError("a track text is beyond the last track");
  if (options.shortBy > total) return UsageError("--short is longer than the disc");
  if (!options.pregaps.empty()) {
    if (options.nrg) return UsageError("--pregaps works only with .cue and .toc outputs");
    if (options.pregaps.size() > options.lengths.size())
      return UsageError("a pregap is beyond the last track");
    if (options.pregaps[0] != 0) return UsageError("track 1's pregap must be 0");
    for (size_t t = 1; t < options.pregaps.size(); ++t) {
      if (options.pregaps[t] > options.lengths[t - 1])
        return UsageError("track " + std::to_string(t + 1) +
                          "'s pregap is longer than the track before it");
    }
  }
  if ((options.source != "bin" || options.layout != "single") && (options.toc || options.nrg))
    return UsageError("--source and --layout work only with a .cue output");
  if (options.source != "bin" && options.dataTrack)
    return UsageError("--data-track needs --source bin");
  if (options.layout != "single" && options.dataTrack)
    return UsageError("--data-track needs --layout single");
  if (options.toc && options.lengths.back() == 0)
    return UsageError("a .toc image cannot end with a 0-length track (see --help)");
  for (uint32_t length : options.lengths) {
    if (length > total - options.shortBy)
      return UsageError("with --short, no track may be longer than the whole bin (see --help)");
  }
  return -1;
}

std::string TextOf(const std::vector<std::string>& texts, size_t index) {
  return index < texts.size() ? texts[index] : std::string();
}

// A TOC string: cdrdao's own files hold Latin-1, bytes outside ASCII as octal escapes.
std::string TocString(const std::string& utf8, bool latin1Escapes) {
  std::string out = "\"";
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (latin1Escapes && (c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
      const unsigned latin1 = ((c & 0x03u) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3Fu);
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\%03o", latin1);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// A CD_TEXT block of the disc (index 0) or a track, empty when it has no text.
std::string TocCdText(const Options& options, size_t index) {
  const std::string title = TextOf(options.titles, index);
  const std::string performer = TextOf(options.performers, index);
  const bool disc = index == 0;
  const bool anyText = !options.titles.empty() || !options.performers.empty();
  if (title.empty() && performer.empty() && !(disc && anyText)) return {};
  const bool cdrdao = options.cdrdaoLayout;
  std::string text = cdrdao ? "CD_TEXT\n{\n" : "CD_TEXT {\n";
  if (disc) {
    text += cdrdao ? "  LANGUAGE_MAP {\n    0 : EN\n  }\n" : "  LANGUAGE_MAP { 0 : EN }\n";
  }
  text += "  LANGUAGE 0 {\n";
  if (!title.empty()) text += "    TITLE " + TocString(title, cdrdao) + "\n";
  if (!performer.empty()) text += "    PERFORMER " + TocString(performer, cdrdao) + "\n";
  if (disc && cdrdao) {
    text +=
        "    SIZE_INFO { 0,  1,  3,  0, 13, 14,  0,  0,  0,  0,  0,  0,\n"
        "                0,  3, 10,  0,  0,  0,  0,  0,  0,  0,  0,  0,\n"
        "                9,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0}\n";
  }
  return text + "  }\n}\n";
}

std::string CueLine(const char* indent, const char* key, const std::string& value) {
  return value.empty() ? std::string() : indent + std::string(key) + " \"" + value + "\"\n";
}

// A file of the image and the disc sectors [first, end) it holds.
struct OutFile {
  std::string name;  // beside the sheet
  uint64_t first = 0, end = 0;
};

std::vector<OutFile> FilesOf(const Options& options, const std::string& base) {
  const std::string extension = options.nrg ? ".nrg" : "." + options.source;
  const std::string stem = BaseName(base);
  const uint64_t total = options.Total();
  if (options.layout == "single") return {{stem + extension, 0, total}};
  std::vector<OutFile> files;
  const size_t count = options.lengths.size();
  for (size_t t = 0; t < count; ++t) {
    char name[16];
    std::snprintf(name, sizeof name, "-%02u", static_cast<unsigned>(t + 1));
    const uint64_t start = options.Start(t);
    const uint64_t next = t + 1 < count ? options.Start(t + 1) : total;
    const uint32_t nextGap = t + 1 < count ? options.Pregap(t + 1) : 0;
    OutFile file{stem + name + extension, start, next};
    if (options.layout == "prepended")
      file = {file.name, start - options.Pregap(t), next - nextGap};
    if (options.layout == "leftout") file.end = next - nextGap;
    files.push_back(file);
  }
  return files;
}

std::string DescribeImage(const Options& options, const std::vector<OutFile>& files) {
  std::string text;
  const size_t count = options.lengths.size();
  if (options.toc) {
    // cdrdao gives a track's pregap to the track itself: its FILE range starts there, and
    // START says where index 1 lies within it.
    text = options.dataTrack ? "CD_ROM\n" : "CD_DA\n";
    text += TocCdText(options, 0);
    for (size_t t = 0; t < count; ++t) {
      bool data = static_cast<int>(t + 1) == options.dataTrack;
      const uint64_t from = options.Start(t) - options.Pregap(t);
      const uint64_t to = options.Start(t + 1) - (t + 1 < count ? options.Pregap(t + 1) : 0);
      text += "\n// Track " + std::to_string(t + 1) + "\n";
      text += data ? "TRACK MODE1_RAW\n" : "TRACK AUDIO\n";
      text += TocCdText(options, t + 1);
      text += "FILE \"" + files[0].name + "\" " + (from == 0 ? std::string("0") : Msf(from)) + " " +
              Msf(to - from) + "\n";
      if (options.Pregap(t) > 0) text += "START " + Msf(options.Pregap(t)) + "\n";
    }
    return text;
  }
  text = CueLine("", "PERFORMER", TextOf(options.performers, 0)) +
         CueLine("", "TITLE", TextOf(options.titles, 0));
  const std::string type = options.source == "bin" ? "BINARY" : "WAVE";
  const auto fileLine = [&](size_t f) { return "FILE \"" + files[f].name + "\" " + type + "\n"; };
  const auto trackLine = [&](size_t t) {
    char number[16];
    std::snprintf(number, sizeof number, "%02u", static_cast<unsigned>(t + 1));
    const bool data = static_cast<int>(t + 1) == options.dataTrack;
    return std::string("  TRACK ") + number + (data ? " MODE1/2352\n" : " AUDIO\n") +
           CueLine("    ", "TITLE", TextOf(options.titles, t + 1)) +
           CueLine("    ", "PERFORMER", TextOf(options.performers, t + 1));
  };
  for (size_t t = 0; t < count; ++t) {
    const uint64_t start = options.Start(t);
    const uint32_t gap = options.Pregap(t);
    if (options.layout == "single") {
      if (t == 0) text += fileLine(0);
      text += trackLine(t);
      if (gap > 0) text += "    INDEX 00 " + Msf(start - gap) + "\n";
      text += "    INDEX 01 " + Msf(start) + "\n";
    } else if (options.layout == "appended") {
      // The pregap closes the file before; index 1 opens the track's own.
      if (gap > 0)
        text += trackLine(t) + "    INDEX 00 " + Msf(start - gap - files[t - 1].first) + "\n";
      text += fileLine(t);
      if (gap == 0) text += trackLine(t);
      text += "    INDEX 01 00:00:00\n";
    } else if (options.layout == "prepended") {
      text += fileLine(t) + trackLine(t);
      if (gap > 0) text += "    INDEX 00 00:00:00\n";
      text += "    INDEX 01 " + Msf(gap) + "\n";
    } else {  // leftout: the gap is silence the sheet asks for
      text += fileLine(t) + trackLine(t);
      if (gap > 0) text += "    PREGAP " + Msf(gap) + "\n";
      text += "    INDEX 01 00:00:00\n";
    }
  }
  return text;
}

void PutBigEndian(std::string& out, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>(value >> (8 * i));
}

void PutChunk(std::string& out, const char* id, const std::string& data) {
  out += id;
  PutBigEndian(out, data.size(), 4);
  out += data;
}

// The chunk table and footer of a Nero disc-at-once image whose data (150 sectors of pregap,
// then the tracks) starts at byte 0 and ends at `tableOffset`.
std::string NrgTable(const Options& options, uint64_t tableOffset) {
  constexpr uint32_t kPregap = 150;
  const size_t count = options.lengths.size();
  auto bcd = [](uint32_t n) { return static_cast<char>((n / 10) << 4 | (n % 10)); };
  // CUEX: mode (0x01 audio), track, index (BCD), 0, start sector; the lead-in first, then
  // index 0 and 1 of each track, then the lead-out.
  std::string cuex;
  auto cue = [&](char track, char index, int64_t sector) {
    cuex += '\x01';
    cuex += track;
    cuex += index;
    cuex += '\0';
    PutBigEndian(cuex, static_cast<uint32_t>(static_cast<int32_t>(sector)), 4);
  };
  // DAOX: size, 13-digit catalogue number and its NUL, TOC type 0 (audio), first and last
  // track; per track ISRC, sector size, mode 7 (audio), then byte offsets of index 0, index 1
  // and the end.
  std::string daox(4, '\0');
  daox += std::string(14, '\0');
  daox += std::string(2, '\0');
  daox += '\x01';
  daox += static_cast<char>(count);
  cue(0, 0, -static_cast<int64_t>(kPregap));
  uint64_t start = 0;
  for (size_t t = 0; t < count; ++t) {
    const auto number = static_cast<uint32_t>(t + 1);
    const int64_t index0 = t == 0 ? -static_cast<int64_t>(kPregap) : static_cast<int64_t>(start);
    cue(bcd(number), 0, index0);
    cue(bcd(number), 1, static_cast<int64_t>(start));
    daox += std::string(12, '\0');
    PutBigEndian(daox, kSectorBytes, 2);
    daox += std::string("\x07\0\0\x01", 4);
    PutBigEndian(daox, static_cast<uint64_t>(index0 + kPregap) * kSectorBytes, 8);
    PutBigEndian(daox, (start + kPregap) * kSectorBytes, 8);
    start += options.lengths[t];
    PutBigEndian(daox, (start + kPregap) * kSectorBytes, 8);
  }
  cue('\xAA', 1, static_cast<int64_t>(start));
  const uint32_t daoxSize = static_cast<uint32_t>(daox.size());
  for (int i = 0; i < 4; ++i) daox[static_cast<size_t>(i)] = static_cast<char>(daoxSize >> (8 * i));

  std::string table;
  PutChunk(table, "CUEX", cuex);
  PutChunk(table, "DAOX", daox);
  std::string sessions;
  PutBigEndian(sessions, count, 4);
  PutChunk(table, "SINF", sessions);
  PutChunk(table, "END!", "");
  table += "NER5";
  PutBigEndian(table, tableOffset, 8);
  return table;
}

// Where audio goes: a file of raw sectors, a RIFF WAVE file or a FLAC file.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual bool Write(const uint8_t* sectors, uint32_t count) = 0;
  virtual bool Close() = 0;
};

class RawSink : public Sink {
 public:
  explicit RawSink(FILE* file) : file_(file) {}
  ~RawSink() override {
    if (file_) std::fclose(file_);
  }
  bool Write(const uint8_t* sectors, uint32_t count) override {
    return std::fwrite(sectors, kSectorBytes, count, file_) == count;
  }
  bool Close() override {
    const bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok;
  }

 protected:
  FILE* file_;
};

void PutLittleEndian(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
}

// A WAVE file as rippers write them: a LIST chunk (odd-sized, so padded) before the data, and
// the lengths filled in at the end.
class WaveSink : public RawSink {
 public:
  explicit WaveSink(FILE* file) : RawSink(file) {
    std::string header = "RIFF";
    PutLittleEndian(header, 0, 4);
    header += "WAVEfmt ";
    PutLittleEndian(header, 16, 4);
    PutLittleEndian(header, 1, 2);      // PCM
    PutLittleEndian(header, 2, 2);      // stereo
    PutLittleEndian(header, 44100, 4);  // samples a second
    PutLittleEndian(header, 44100 * 4, 4);
    PutLittleEndian(header, 4, 2);
    PutLittleEndian(header, 16, 2);
    const std::string info = std::string("INFOISFT") + '\x07' + std::string(3, '\0') + "mkdisc";
    header += "LIST";
    PutLittleEndian(header, info.size() + 1, 4);  // odd: "mkdisc" and its NUL
    header += info + '\0' + '\0';                 // the NUL, then the pad byte
    header += "data";
    dataAt_ = header.size();
    PutLittleEndian(header, 0, 4);
    ok_ = std::fwrite(header.data(), 1, header.size(), file_) == header.size();
  }
  bool Write(const uint8_t* sectors, uint32_t count) override {
    bytes_ += uint64_t{count} * kSectorBytes;
    return ok_ && RawSink::Write(sectors, count);
  }
  bool Close() override {
    std::string size;
    PutLittleEndian(size, bytes_, 4);
    bool ok = ok_ && std::fseek(file_, static_cast<long>(dataAt_), SEEK_SET) == 0 &&
              std::fwrite(size.data(), 1, 4, file_) == 4;
    size.clear();
    PutLittleEndian(size, bytes_ + dataAt_ + 4 - 8, 4);
    ok = ok && std::fseek(file_, 4, SEEK_SET) == 0 && std::fwrite(size.data(), 1, 4, file_) == 4;
    return RawSink::Close() && ok;
  }

 private:
  bool ok_ = false;
  size_t dataAt_ = 0;
  uint64_t bytes_ = 0;
};

class FlacSink : public Sink {
 public:
  explicit FlacSink(const std::string& path) : encoder_(FLAC__stream_encoder_new()) {
    ok_ = encoder_ && FLAC__stream_encoder_set_channels(encoder_, 2) &&
          FLAC__stream_encoder_set_bits_per_sample(encoder_, 16) &&
          FLAC__stream_encoder_set_sample_rate(encoder_, 44100) &&
          FLAC__stream_encoder_set_compression_level(encoder_, 5) &&
          FLAC__stream_encoder_init_file(encoder_, path.c_str(), nullptr, nullptr) ==
              FLAC__STREAM_ENCODER_INIT_STATUS_OK;
  }
  ~FlacSink() override {
    if (encoder_) FLAC__stream_encoder_delete(encoder_);
  }
  bool Write(const uint8_t* sectors, uint32_t count) override {
    const size_t samples = size_t{count} * kFramesPerSector * 2;
    pcm_.resize(samples);
    for (size_t i = 0; i < samples; ++i) {
      pcm_[i] = static_cast<int16_t>(sectors[2 * i] | sectors[2 * i + 1] << 8);
    }
    return ok_ && FLAC__stream_encoder_process_interleaved(encoder_, pcm_.data(),
                                                           count * kFramesPerSector);
  }
  bool Close() override { return FLAC__stream_encoder_finish(encoder_) && ok_; }

 private:
  FLAC__StreamEncoder* encoder_;
  bool ok_ = false;
  std::vector<FLAC__int32> pcm_;
};

bool WriteAudio(const Options& options, const std::string& folder,
                const std::vector<OutFile>& files, uint32_t silentSectors) {
  uint64_t total = options.Total();
  const uint64_t toWrite = total - options.shortBy;
  std::vector<std::unique_ptr<Sink>> sinks;
  for (const OutFile& out : files) {
    const std::string path = folder + out.name;
    if (options.source == "flac") {
      sinks.push_back(std::make_unique<FlacSink>(path));
      continue;
    }
    FILE* file = std::fopen(path.c_str(), options.nrg ? "wb" : "wb");
    if (!file) return false;
    if (options.source == "wav") {
      sinks.push_back(std::make_unique<WaveSink>(file));
    } else {
      sinks.push_back(std::make_unique<RawSink>(file));
    }
  }

  static const Tables tables;
  constexpr uint32_t kChunkSectors = 256;
  std::vector<uint8_t> chunk(kChunkSectors * kSectorBytes);
  bool ok = true;
  for (uint32_t s = 0; s < silentSectors && ok; ++s) ok = sinks[0]->Write(chunk.data(), 1);
  uint64_t lsn = 0;
  for (size_t t = 0; t < options.lengths.size() && ok && lsn < toWrite; ++t) {
    uint64_t mix = options.seed * 0x100000001B3ull + t + 1;
    uint64_t trackSeed = SplitMix(mix);
    bool data = static_cast<int>(t + 1) == options.dataTrack;
    Song song(tables, trackSeed);
    Random dataRandom(trackSeed);
    // The next track's pregap, at the end of this one, is digital silence.
    const uint64_t gapFrom =
        options.Start(t + 1) - (t + 1 < options.lengths.size() ? options.Pregap(t + 1) : 0);
    uint32_t left = options.lengths[t];
    while (left > 0 && ok && lsn < toWrite) {
      uint32_t n = left < kChunkSectors ? left : kChunkSectors;
      if (data) {
        RenderDataSectors(dataRandom, static_cast<uint32_t>(lsn), n, chunk.data());
      } else if (t < options.sines.size()) {
        RenderSine(options.sines[t], options.lengths[t] - left, n, chunk.data());
      } else {
        song.Render(n, chunk.data());
      }
      for (uint32_t i = 0; i < n; ++i) {
        if (lsn + i >= gapFrom)
          std::memset(chunk.data() + size_t{i} * kSectorBytes, 0, kSectorBytes);
      }
      const uint64_t end = std::min(lsn + n, toWrite);
      for (size_t f = 0; f < files.size() && ok; ++f) {
        const uint64_t from = std::max(lsn, files[f].first), to = std::min(end, files[f].end);
        if (from < to) {
          ok = sinks[f]->Write(chunk.data() + (from - lsn) * kSectorBytes,
                               static_cast<uint32_t>(to - from));
        }
      }
      left -= n;
      lsn += n;
    }
  }
  for (auto& sink : sinks) ok = sink->Close() && ok;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  int status = ParseArguments(argc, argv, options);
  if (status >= 0) return status;

  const std::string base = options.output.substr(0, options.output.size() - 4);
  const std::string folder = base.substr(0, base.size() - BaseName(base).size());
  const std::vector<OutFile> files = FilesOf(options, base);
  if (!WriteAudio(options, folder, files, options.nrg ? 150 : 0)) {
    std::fprintf(stderr, "mkdisc: cannot write %s: %s\n", (folder + files[0].name).c_str(),
                 std::strerror(errno));
    return 1;
  }
  const uint64_t total = 150 + options.Total();
  const std::string description =
      options.nrg ? NrgTable(options, total * kSectorBytes) : DescribeImage(options, files);
  FILE* file = std::fopen(options.output.c_str(), options.nrg ? "ab" : "wb");
  bool ok =
      file && std::fwrite(description.data(), 1, description.size(), file) == description.size();
  if (file && std::fclose(file) != 0) ok = false;
  if (!ok) {
    std::fprintf(stderr, "mkdisc: cannot write %s: %s\n", options.output.c_str(),
                 std::strerror(errno));
    return 1;
  }
  return 0;
}
