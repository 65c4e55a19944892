// Fuzz target: arbitrary bytes as the settings file Obrin.ini.
//
// Each input is written, byte for byte, as the Obrin.ini of a private XDG_CONFIG_HOME, then:
//  1. every settings key, and section/key names taken from the input's own lines, is read
//     with GetProfileString: a found value is a piece of the file, holds no line break or
//     NUL, has no leading blank, and the buffer size cuts it exactly;
//  2. names and values from the input are written back with WriteProfileString and
//     WriteProfileStrings: a write is refused exactly for the texts the contract names (the
//     file is then unchanged), an accepted value reads back trimmed, no other key changes,
//     and writing the same thing twice leaves the file as the first write did;
//  3. LoadSettings turns the file into a record with every index inside its table, writes
//     every missing key back, and SaveSettings + LoadSettings gives the same record again,
//     also for a record changed in ways the settings pages can change it.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings.h"
#include "fuzz_support.h"
#include "platform/profile.h"

namespace {

struct NamedKey {
  const char* section;
  const char* key;
};

// Every key the settings store reads, in its own spelling.
constexpr NamedKey kSettingsKeys[] = {
    {"Output", "Path"},          {"WAV Setting", "samplerate"},  {"WAV Setting", "samplebits"},
    {"WAV Setting", "channels"}, {"MP3 Setting", "samplerate"},  {"MP3 Setting", "channels"},
    {"MP3 Setting", "bitrate"},  {"MP3 Setting", "mpegquality"}, {"MP3 Setting", "vbr"},
    {"MP3 Setting", "vbrmax"},   {"MP3 Setting", "vbrquality"},  {"OGG Setting", "samplerate"},
    {"OGG Setting", "channels"}, {"OGG Setting", "cbr"},         {"OGG Setting", "usecbr"},
    {"OGG Setting", "bbrnom"},   {"OGG Setting", "bbrmin"},      {"OGG Setting", "bbrmax"},
    {"OGG Setting", "usebbr"},   {"OGG Setting", "vbr"},         {"OGG Setting", "usevbr"},
};

// A fallback no settings file holds by accident, so "found" and "missing" stay apart.
const std::string kFallback = "\x01missing\x02";
constexpr std::size_t kWholeValue = std::size_t{1} << 24;

std::string gIni;

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  a = fuzz::TrimBlanks(a);
  b = fuzz::TrimBlanks(b);
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

bool HasBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// The texts WriteProfileString promises to refuse, written out from its contract.
bool Writable(std::string_view section, std::string_view key, std::string_view value) {
  const std::string_view k = fuzz::TrimBlanks(key);
  return !k.empty() && !HasBreakOrNul(section) && !HasBreakOrNul(key) && !HasBreakOrNul(value) &&
         k.find('=') == std::string_view::npos && k.front() != ';' && k.front() != '#' &&
         k.front() != '[' && section.find(']') == std::string_view::npos;
}

struct Pair {
  std::string section;
  std::string key;
};

// Names and values as they appear in the input: a section is whatever sits between the
// first "[" and the last "]" of a line, a key what comes before the first "=", a value what
// comes after it. Untrimmed, so the writes see blanks, brackets and CRs too.
struct Harvest {
  std::vector<std::string> sections;
  std::vector<std::string> keys;
  std::vector<std::string> values;
};

Harvest HarvestNames(std::string_view input) {
  Harvest h;
  constexpr std::size_t kMaxEach = 4;
  std::size_t pos = 0;
  while (pos < input.size()) {
    std::size_t end = input.find('\n', pos);
    if (end == std::string_view::npos) end = input.size();
    const std::string_view line = input.substr(pos, end - pos);
    const std::size_t open = line.find('['), close = line.rfind(']');
    if (open != std::string_view::npos && close != std::string_view::npos && close > open &&
        h.sections.size() < kMaxEach) {
      h.sections.emplace_back(line.substr(open + 1, close - open - 1));
    }
    const std::size_t eq = line.find('=');
    if (eq != std::string_view::npos) {
      if (h.keys.size() < kMaxEach) h.keys.emplace_back(line.substr(0, eq));
      if (h.values.size() < kMaxEach) h.values.emplace_back(line.substr(eq + 1));
    }
    pos = end + 1;
  }
  return h;
}

std::string Get(const Pair& p, std::size_t bufferSize = kWholeValue) {
  return GetProfileString(p.section, p.key, kFallback, gIni, bufferSize);
}

void CheckRead(const Pair& p, std::string_view input, std::size_t cut) {
  const std::string value = Get(p);
  if (value != kFallback) {
    FUZZ_CHECK(input.find(value) != std::string_view::npos);
    // A lone CR inside a line is part of the value; only the one before "\n" is not.
    FUZZ_CHECK(value.find_first_of(std::string_view("\n\0", 2)) == std::string::npos);
    FUZZ_CHECK(value.empty() || (value.front() != ' ' && value.front() != '\t'));
  }
  FUZZ_CHECK(Get(p, cut) == (cut == 0 ? std::string() : value.substr(0, cut - 1)));
}

// What every watched pair should read as, kept up to date as the writes go in: a write
// changes its own key and nothing else.
struct Model {
  std::vector<Pair> pairs;
  std::vector<std::string> values;

  void Snapshot() {
    values.clear();
    for (const Pair& p : pairs) values.push_back(Get(p));
  }
  void Written(const Pair& written, std::string_view value) {
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      if (SameName(pairs[i].section, written.section) && SameName(pairs[i].key, written.key)) {
        values[i] = value;
      }
    }
  }
  void Check() const {
    for (std::size_t i = 0; i < pairs.size(); ++i) FUZZ_CHECK(Get(pairs[i]) == values[i]);
  }
};

// Writes one entry and checks everything a single write promises.
void CheckWrite(const Pair& p, const std::string& value, Model& model) {
  const std::string before = fuzz::ReadBytes(gIni);
  const bool written = WriteProfileString(p.section, p.key, value, gIni);
  FUZZ_CHECK(written == Writable(p.section, p.key, value));
  if (!written) {
    FUZZ_CHECK(fuzz::ReadBytes(gIni) == before);
    return;
  }
  FUZZ_CHECK(Get(p) == fuzz::TrimBlanks(value));
  model.Written(p, fuzz::TrimBlanks(value));
  const std::string once = fuzz::ReadBytes(gIni);
  FUZZ_CHECK(WriteProfileString(p.section, p.key, value, gIni));
  FUZZ_CHECK(fuzz::ReadBytes(gIni) == once);
}

void CheckBatch(const std::vector<ProfileEntry>& entries) {
  const std::string before = fuzz::ReadBytes(gIni);
  bool allWritable = true;
  for (const ProfileEntry& e : entries) allWritable &= Writable(e.section, e.key, e.value);
  const bool written = WriteProfileStrings(entries, gIni);
  FUZZ_CHECK(written == allWritable);
  if (!written) {
    FUZZ_CHECK(fuzz::ReadBytes(gIni) == before);
    return;
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    // The last entry for a key is the one that stays.
    std::size_t last = i;
    for (std::size_t j = i + 1; j < entries.size(); ++j) {
      if (SameName(entries[j].section, entries[i].section) &&
          SameName(entries[j].key, entries[i].key)) {
        last = j;
      }
    }
    FUZZ_CHECK(Get({entries[i].section, entries[i].key}) == fuzz::TrimBlanks(entries[last].value));
  }
}

bool SameRecord(const RipSettings& a, const RipSettings& b) {
  return a.outputPath == b.outputPath &&
         std::memcmp(&a.formats, &b.formats, sizeof(FormatSettings)) == 0;
}

// The record a second load gives after saving `s`.
// - Without a usevbr key the flag keeps its default, so usecbr "TRUE" and no usevbr load as
//   CBR and VBR both on (the page shows both ticked until the user picks); the save writes
//   the key and the next load resolves it.
// - A value is trimmed before it is cut (at a NUL byte, or at 1023 characters), so a path
//   read from a damaged file can end with a blank; written back, it loads without it.
RipSettings Resolved(const RipSettings& s) {
  RipSettings r;
  r.outputPath = fuzz::TrimBlanks(s.outputPath);
  r.formats = s.formats;
  r.formats.ogg.useVbr = s.formats.ogg.useCbr != 1 && s.formats.ogg.useBbr != 1;
  return r;
}

// The record LoadSettings may hand out: every index inside its table, flags 0 or 1, BBR
// never beside CBR, and at least one Ogg mode.
void CheckRecordShape(const RipSettings& s) {
  auto in = [](int32_t v, std::size_t n) { return v >= 0 && static_cast<std::size_t>(v) < n; };
  const FormatSettings& f = s.formats;
  FUZZ_CHECK(in(f.wav.sampleRate, SampleRateChoice.size()) && in(f.wav.channels, 2) &&
             in(f.wav.bitsPerSample, 2));
  FUZZ_CHECK(in(f.mp3.sampleRate, SampleRateChoice.size()) && in(f.mp3.channels, 3) &&
             in(f.mp3.bitrate, Mp3BitrateTable.size()) && in(f.mp3.vbrEnabled, 2) &&
             in(f.mp3.vbrQuality, 10) && in(f.mp3.vbrMaxBitrate, Mp3BitrateTable.size()) &&
             in(f.mp3.preset, Mp3PresetNames.size()));
  FUZZ_CHECK(in(f.ogg.sampleRate, SampleRateChoice.size()) && in(f.ogg.channels, 3) &&
             in(f.ogg.cbrBitrate, OggBitrateTable.size()) &&
             in(f.ogg.bbrMin, OggBitrateTable.size()) &&
             in(f.ogg.bbrNominal, OggBitrateTable.size()) &&
             in(f.ogg.bbrMax, OggBitrateTable.size()) && in(f.ogg.vbrQuality, 21));
  FUZZ_CHECK(in(f.ogg.useCbr, 2) && in(f.ogg.useBbr, 2) && in(f.ogg.useVbr, 2));
  FUZZ_CHECK(!(f.ogg.useCbr && f.ogg.useBbr));
  FUZZ_CHECK(f.ogg.useCbr + f.ogg.useBbr + f.ogg.useVbr >= 1);
  FUZZ_CHECK(!s.outputPath.empty() && s.outputPath.size() <= 1023);
}

// A small deterministic stream of numbers from the input, for changing a record.
struct Mixer {
  uint64_t state;
  uint32_t Below(uint32_t n) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<uint32_t>((z ^ (z >> 31)) % n);
  }
};

// Changes `s` the way the settings pages can: any index of each table, any one Ogg mode,
// and sometimes an output folder typed in (no line break: the folder field is one line).
void ChangeRecord(RipSettings& s, std::string_view input, const Harvest& h) {
  uint64_t hash = 1469598103934665603ull;
  for (unsigned char c : input) hash = (hash ^ c) * 1099511628211ull;
  Mixer m{hash};
  FormatSettings& f = s.formats;
  f.wav = {static_cast<int32_t>(m.Below(4)), static_cast<int32_t>(m.Below(2)),
           static_cast<int32_t>(m.Below(2))};
  f.mp3.sampleRate = static_cast<int32_t>(m.Below(4));
  f.mp3.channels = static_cast<int32_t>(m.Below(3));
  f.mp3.bitrate = static_cast<int32_t>(m.Below(Mp3BitrateTable.size()));
  f.mp3.vbrEnabled = static_cast<int32_t>(m.Below(2));
  f.mp3.vbrQuality = static_cast<int32_t>(m.Below(10));
  f.mp3.vbrMaxBitrate = static_cast<int32_t>(m.Below(Mp3BitrateTable.size()));
  f.mp3.preset = static_cast<int32_t>(m.Below(Mp3PresetNames.size()));
  f.ogg.sampleRate = static_cast<int32_t>(m.Below(4));
  f.ogg.channels = static_cast<int32_t>(m.Below(3));
  f.ogg.cbrBitrate = static_cast<int32_t>(m.Below(OggBitrateTable.size()));
  f.ogg.bbrMin = static_cast<int32_t>(m.Below(OggBitrateTable.size()));
  f.ogg.bbrNominal = static_cast<int32_t>(m.Below(OggBitrateTable.size()));
  f.ogg.bbrMax = static_cast<int32_t>(m.Below(OggBitrateTable.size()));
  f.ogg.vbrQuality = static_cast<int32_t>(m.Below(21));
  const uint32_t mode = m.Below(3);
  f.ogg.useCbr = mode == 0;
  f.ogg.useBbr = mode == 1;
  f.ogg.useVbr = mode == 2;
  // Half the time the folder stays as the file had it: a save must not lose the other
  // changes over whatever that text holds.
  if (m.Below(2) == 0) return;
  for (const std::string& v : h.values) {
    std::string_view path = v;
    path = path.substr(0, path.find_first_of(std::string_view("\r\n\0", 3)));
    // What a 1024-byte read of the stored text gives back.
    path = fuzz::TrimBlanks(fuzz::TrimBlanks(path).substr(0, 1023));
    if (!path.empty()) {
      s.outputPath = path;
      break;
    }
  }
}

void CheckSettings(std::string_view input, const Harvest& h) {
  RipSettings first;
  LoadDefaultSettings(first);
  LoadSettings(first);
  CheckRecordShape(first);
  for (const NamedKey& k : kSettingsKeys) FUZZ_CHECK(!Get({k.section, k.key}).empty());

  SaveSettings(first);
  RipSettings second;
  LoadDefaultSettings(second);
  LoadSettings(second);
  FUZZ_CHECK(SameRecord(Resolved(first), second));
  // From here on the file holds every key: a save and a load change nothing.
  SaveSettings(second);
  RipSettings third;
  LoadDefaultSettings(third);
  LoadSettings(third);
  FUZZ_CHECK(SameRecord(second, third));

  RipSettings changed;
  LoadDefaultSettings(changed);
  LoadSettings(changed);
  ChangeRecord(changed, input, h);
  SaveSettings(changed);
  RipSettings reloaded;
  LoadDefaultSettings(reloaded);
  LoadSettings(reloaded);
  FUZZ_CHECK(SameRecord(Resolved(changed), reloaded));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  const std::string home = fuzz::ScratchFolder() + "/config";
  fuzz::MakeFolder(home + "/obrin");
  setenv("XDG_CONFIG_HOME", home.c_str(), 1);
  gIni = SettingsFilePath();
  FUZZ_CHECK(gIni == home + "/obrin/Obrin.ini");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  fuzz::WriteBytes(gIni, input);
  const Harvest h = HarvestNames(input);

  std::vector<Pair> pairs;
  for (const NamedKey& k : kSettingsKeys) pairs.push_back({k.section, k.key});
  for (const std::string& s : h.sections) {
    for (const std::string& k : h.keys) pairs.push_back({s, k});
  }
  for (const std::string& k : h.keys) pairs.push_back({"Output", k});

  // Small cuts, and now and then the 1024 the settings store reads with.
  const std::size_t cut = size % 5 == 0 ? 1024 : size % 37;
  for (const Pair& p : pairs) CheckRead(p, input, cut);

  // Writes go to the names the file already has, to new ones, and back over the settings.
  const std::vector<std::string> values =
      h.values.empty() ? std::vector<std::string>{" plain value "} : h.values;
  Model model{pairs, {}};
  model.Snapshot();
  const std::size_t writes = std::min<std::size_t>(pairs.size(), 8);
  for (std::size_t i = 0; i < writes; ++i) {
    const Pair& p = pairs[(i * 7 + size) % pairs.size()];
    CheckWrite(p, values[i % values.size()], model);
  }
  model.Check();
  std::vector<ProfileEntry> batch;
  for (std::size_t i = 0; i < std::min<std::size_t>(pairs.size(), 5); ++i) {
    const Pair& p = pairs[pairs.size() - 1 - i];
    batch.push_back({p.section, p.key, values[(i + 1) % values.size()]});
  }
  batch.push_back({"Output", "Path", values[0]});
  CheckBatch(batch);

  // The settings store starts again from the input itself.
  fuzz::WriteBytes(gIni, input);
  CheckSettings(input, h);
  return 0;
}
