// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "config/settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string_view>
#include <vector>

#include "platform/base_dirs.h"
#include "platform/profile.h"

RipSettings ripSettings;

namespace {

// The texts one settings key may hold, by member index.
struct Choices {
  int32_t count = 0;
  std::string (*text)(int32_t index) = nullptr;
};

std::string Digits(int32_t i) {
  return std::to_string(i);
}
std::string Kbps(int value) {
  return std::to_string(value) + " kbps";
}

constexpr Choices kSampleRates{SampleRateChoice.size(),
                               [](int32_t i) { return std::string(SampleRateChoice[i]); }};
constexpr Choices kWavBits{2, [](int32_t i) { return std::string(i == 0 ? "8 bits" : "16 bits"); }};
constexpr Choices kWavChannels{2,
                               [](int32_t i) { return std::string(i == 0 ? "Mono" : "Stereo"); }};
constexpr const char* kMp3ChannelTexts[] = {"Mono", "Stereo", "Joint stereo"};
constexpr Choices kMp3Channels{3, [](int32_t i) { return std::string(kMp3ChannelTexts[i]); }};
constexpr const char* kOggChannelTexts[] = {"Mono", "Stereo", "5.1"};
constexpr Choices kOggChannels{3, [](int32_t i) { return std::string(kOggChannelTexts[i]); }};
constexpr Choices kMp3Bitrates{Mp3BitrateTable.size(),
                               [](int32_t i) { return Kbps(Mp3BitrateTable[i]); }};
constexpr Choices kOggBitrates{OggBitrateTable.size(),
                               [](int32_t i) { return Kbps(OggBitrateTable[i]); }};
constexpr Choices kPresets{Mp3PresetNames.size(),
                           [](int32_t i) { return std::string(Mp3PresetFileText(i)); }};
constexpr Choices kMp3VbrQuality{10, Digits};
constexpr Choices kOggVbrQuality{21, Digits};
constexpr Choices kFlacLevels{9, Digits};
constexpr Choices kOpusBitrates{kOpusMaxKbps - kOpusMinKbps + 1,
                                [](int32_t i) { return Kbps(kOpusMinKbps + i); }};
constexpr Choices kOpusModes{OpusModeNames.size(),
                             [](int32_t i) { return std::string(OpusModeNames[i]); }};
constexpr Choices kOpusComplexities{11, Digits};

enum class KeyKind {
  Path,        // [Output] Path, taken as stored
  Choice,      // one of the texts of `choices`
  Flag,        // "TRUE" / "FALSE"
  OggBbrFlag,  // a flag that yields to CBR
  OggVbrFlag,  // derived from CBR and BBR; its own text is not looked at
};

using Member = int32_t& (*)(FormatSettings&);

struct SettingsKey {
  const char* section;
  const char* key;
  KeyKind kind;
  Member member;            // null for Path
  Choices choices;          // Choice keys only
  const char* defaultText;  // null for Path, whose default is computed
};

#define FIELD(path) [](FormatSettings& f) -> int32_t& { return f.path; }

// Every key of the file, in the order a fresh file lists them. Each default text is the
// text of the member's default value, so a first run leaves file and record in agreement.
constexpr SettingsKey kSettingsKeys[] = {
    {"Output", "Path", KeyKind::Path, nullptr, {}, nullptr},
    {"WAV Setting", "samplerate", KeyKind::Choice, FIELD(wav.sampleRate), kSampleRates,
     "Same as input"},
    {"WAV Setting", "samplebits", KeyKind::Choice, FIELD(wav.bitsPerSample), kWavBits, "16 bits"},
    {"WAV Setting", "channels", KeyKind::Choice, FIELD(wav.channels), kWavChannels, "Stereo"},
    {"MP3 Setting", "samplerate", KeyKind::Choice, FIELD(mp3.sampleRate), kSampleRates,
     "Same as input"},
    {"MP3 Setting", "channels", KeyKind::Choice, FIELD(mp3.channels), kMp3Channels, "Stereo"},
    {"MP3 Setting", "bitrate", KeyKind::Choice, FIELD(mp3.bitrate), kMp3Bitrates, "128 kbps"},
    {"MP3 Setting", "mpegquality", KeyKind::Choice, FIELD(mp3.preset), kPresets, "Very high"},
    {"MP3 Setting", "vbr", KeyKind::Flag, FIELD(mp3.vbrEnabled), {}, "TRUE"},
    {"MP3 Setting", "vbrmax", KeyKind::Choice, FIELD(mp3.vbrMaxBitrate), kMp3Bitrates, "192 kbps"},
    {"MP3 Setting", "vbrquality", KeyKind::Choice, FIELD(mp3.vbrQuality), kMp3VbrQuality, "2"},
    {"OGG Setting", "samplerate", KeyKind::Choice, FIELD(ogg.sampleRate), kSampleRates,
     "Same as input"},
    {"OGG Setting", "channels", KeyKind::Choice, FIELD(ogg.channels), kOggChannels, "Stereo"},
    {"OGG Setting", "cbr", KeyKind::Choice, FIELD(ogg.cbrBitrate), kOggBitrates, "128 kbps"},
    {"OGG Setting", "usecbr", KeyKind::Flag, FIELD(ogg.useCbr), {}, "FALSE"},
    {"OGG Setting", "bbrnom", KeyKind::Choice, FIELD(ogg.bbrNominal), kOggBitrates, "128 kbps"},
    {"OGG Setting", "bbrmin", KeyKind::Choice, FIELD(ogg.bbrMin), kOggBitrates, "128 kbps"},
    {"OGG Setting", "bbrmax", KeyKind::Choice, FIELD(ogg.bbrMax), kOggBitrates, "256 kbps"},
    {"OGG Setting", "usebbr", KeyKind::OggBbrFlag, FIELD(ogg.useBbr), {}, "FALSE"},
    {"OGG Setting", "vbr", KeyKind::Choice, FIELD(ogg.vbrQuality), kOggVbrQuality, "9"},
    {"OGG Setting", "usevbr", KeyKind::OggVbrFlag, FIELD(ogg.useVbr), {}, "TRUE"},
    {"FLAC Setting", "level", KeyKind::Choice, FIELD(flac.level), kFlacLevels, "5"},
    {"OPUS Setting", "bitrate", KeyKind::Choice, FIELD(opus.bitrate), kOpusBitrates, "160 kbps"},
    {"OPUS Setting", "mode", KeyKind::Choice, FIELD(opus.mode), kOpusModes, "VBR"},
    {"OPUS Setting", "complexity", KeyKind::Choice, FIELD(opus.complexity), kOpusComplexities,
     "10"},
};
static_assert(std::size(kSettingsKeys) == 25);

#undef FIELD

// Keys beyond the format blocks: whole numbers of a range, flags and texts of their own
// members. A number key's text that is not one of its range is refused with a message naming
// the key, and the default used until it is saved over.
struct ExtraKey {
  enum Kind { kNumber, kFlag, kText };
  const char* section;
  const char* key;
  Kind kind;
  int32_t RipSettings::*number;    // kNumber, kFlag
  std::string RipSettings::*text;  // kText
  int32_t min, max;
  const char* defaultText;
};

constexpr ExtraKey kExtraKeys[] = {
    {"Drive", "ReadOffset", ExtraKey::kNumber, &RipSettings::readOffset, nullptr, -kReadOffsetLimit,
     kReadOffsetLimit, "0"},
    {"Output", "WriteLog", ExtraKey::kFlag, &RipSettings::writeLog, nullptr, 0, 1, "FALSE"},
    {"Output", "Deemphasis", ExtraKey::kFlag, &RipSettings::deemphasis, nullptr, 0, 1, "FALSE"},
    {"Output", "Template", ExtraKey::kText, nullptr, &RipSettings::fileNameTemplate, 0, 0,
     kDefaultFileNameTemplate},
    {"AccurateRip", "Verify", ExtraKey::kFlag, &RipSettings::verifyAccurateRip, nullptr, 0, 1,
     "FALSE"},
    {"AccurateRip", "Secure", ExtraKey::kFlag, &RipSettings::secureRip, nullptr, 0, 1, "FALSE"},
    {"AccurateRip", "Server", ExtraKey::kText, nullptr, &RipSettings::accurateRipServer, 0, 0,
     kDefaultAccurateRipServer},
    {"CTDB", "Server", ExtraKey::kText, nullptr, &RipSettings::ctdbServer, 0, 0,
     kCtdbDefaultServer},
    {"MusicBrainz", "Server", ExtraKey::kText, nullptr, &RipSettings::musicBrainzServer, 0, 0,
     kDefaultMusicBrainzServer},
    {"MusicBrainz", "LookUpOnLoad", ExtraKey::kFlag, &RipSettings::lookUpOnLoad, nullptr, 0, 1,
     "FALSE"},
    {"CoverArt", "Fetch", ExtraKey::kFlag, &RipSettings::fetchCoverArt, nullptr, 0, 1, "FALSE"},
    {"CoverArt", "Server", ExtraKey::kText, nullptr, &RipSettings::coverArtServer, 0, 0,
     kDefaultCoverArtServer},
    {"CoverArt", "EmbedSize", ExtraKey::kNumber, &RipSettings::coverEmbedSize, nullptr, 0, 16384,
     "500"},
    {"ReplayGain", "Enabled", ExtraKey::kFlag, &RipSettings::replayGain, nullptr, 0, 1, "FALSE"},
    {"ReplayGain", "TruePeak", ExtraKey::kFlag, &RipSettings::replayGainTruePeak, nullptr, 0, 1,
     "FALSE"},
};

// "-667", "+667", "667": an optional sign and decimal digits, nothing else.
bool ParseWholeNumber(const std::string& text, int32_t min, int32_t max, int32_t& value) {
  size_t at = text.size() > 1 && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (at == text.size() || text.size() - at > 9) return false;
  int64_t number = 0;
  for (; at < text.size(); ++at) {
    if (text[at] < '0' || text[at] > '9') return false;
    number = number * 10 + (text[at] - '0');
  }
  if (text[0] == '-') number = -number;
  if (number < min || number > max) return false;
  value = static_cast<int32_t>(number);
  return true;
}

std::string DefaultText(const SettingsKey& k) {
  return k.kind == KeyKind::Path ? DefaultOutputFolder(GetProgramFolder())
                                 : std::string(k.defaultText);
}

const char* FlagText(int32_t flag) {
  return flag ? "TRUE" : "FALSE";
}

std::string ConfigHome() {
  return XdgBaseFolder("XDG_CONFIG_HOME", ".config");
}

// True when `parent` + `name` is a folder this process can write into, or can be made as one.
bool FolderWritable(const std::string& parent, const std::string& name) {
  const std::string path = parent + name;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    return S_ISDIR(st.st_mode) && access(path.c_str(), W_OK | X_OK) == 0;
  }
  // Not there yet. The probe has a name of its own, so that removing it can never pull the
  // folder away from another Obrin that is making it right now for a rip.
  std::string probe = parent + ".obrin-probe-XXXXXX";
  if (!mkdtemp(probe.data())) return false;
  rmdir(probe.c_str());
  return true;
}

// XDG_MUSIC_DIR of user-dirs.dirs, a shell assignment of "$HOME/..." or "/...", without
// the trailing "/"; empty when the file does not name one.
std::string XdgMusicDir(const std::string& home) {
  std::ifstream in(ConfigHome() + "/user-dirs.dirs");
  std::string line, found;
  constexpr std::string_view kKey = "XDG_MUSIC_DIR=\"";
  while (std::getline(in, line)) {
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, kKey.size(), kKey) != 0) continue;
    std::string value;
    bool closed = false;
    for (std::size_t i = start + kKey.size(); i < line.size() && !closed; ++i) {
      if (line[i] == '"') {
        closed = true;
      } else {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        value += line[i];
      }
    }
    if (!closed) continue;
    if (value.rfind("$HOME", 0) == 0 && (value.size() == 5 || value[5] == '/')) {
      value = home + value.substr(5);
    } else if (value.empty() || value[0] != '/') {
      continue;  // relative paths are not allowed there
    }
    found = value;  // the last assignment wins, as when the shell reads the file
  }
  while (!found.empty() && found.back() == '/') found.pop_back();
  return found;
}

}  // namespace

int SampleRateHz(int32_t index) {
  switch (index) {
    case 1:
      return 32000;
    case 2:
      return 44100;
    case 3:
      return 48000;
    default:
      return 0;
  }
}

const char* Mp3PresetFileText(int32_t index) {
  if (index < 0 || index >= static_cast<int32_t>(Mp3PresetNames.size())) return "";
  return index == 17 ? "Voice new" : Mp3PresetNames[index];
}

double OggQualityValue(int32_t position) {
  // Summed rather than multiplied: the labels and the encoder have always seen the small
  // error of the single-precision step (p = 20 gives slightly more than 1.0).
  double quality = 0.0;
  for (int32_t i = 0; i < position; ++i) quality += 0.05f;
  return quality;
}

unsigned OggNominalKbps(int32_t position) {
  if (position < 0 || position >= static_cast<int32_t>(OggNominalKbpsTable.size())) return 0;
  return OggNominalKbpsTable[position];
}

std::string GetProgramFolder() {
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size()) {
      std::string exe(buffer.data(), static_cast<std::size_t>(n));
      std::size_t slash = exe.rfind('/');
      return slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);
    }
    buffer.resize(buffer.size() * 2);  // possibly cut: try again with more room
  }
}

std::string SettingsFilePath() {
  return ConfigHome() + "/obrin/Obrin.ini";
}

std::string UserMusicFolder() {
  std::string home = HomeFolder();
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  if (home == "/") home.clear();
  const std::string music = XdgMusicDir(home);
  return (music.empty() ? home + "/Music" : music) + "/";
}

std::string DefaultOutputFolder(const std::string& programFolder) {
  // An installed copy's folder belongs to root: every rip of a new user would fail there.
  if (programFolder.empty()) return UserMusicFolder();
  return FolderWritable(programFolder, "My Music") ? programFolder + "My Music/"
                                                   : UserMusicFolder();
}

std::string ReadOutputFolderFromFile() {
  return GetProfileString("Output", "Path", "", SettingsFilePath(), 1024);
}

std::string CurrentOutputFolder(const RipSettings& settings) {
  if (!settings.outputFolderOverride.empty()) return settings.outputFolderOverride;
  return ReadOutputFolderFromFile();
}

void LoadDefaultSettings(RipSettings& settings) {
  settings = RipSettings{};
  settings.outputPath = DefaultOutputFolder(GetProgramFolder());
}

void LoadSettings(RipSettings& settings) {
  const std::string file = SettingsFilePath();
  OggSettings& ogg = settings.formats.ogg;
  std::vector<ProfileEntry> missing;
  for (const SettingsKey& k : kSettingsKeys) {
    const std::string value = GetProfileString(k.section, k.key, "", file, 1024);
    if (value.empty()) {
      missing.push_back({k.section, k.key, DefaultText(k)});
      continue;
    }
    switch (k.kind) {
      case KeyKind::Path:
        settings.outputPath = value;
        break;
      case KeyKind::Choice:
        for (int32_t i = 0; i < k.choices.count; ++i) {
          if (k.choices.text(i) == value) {
            k.member(settings.formats) = i;
            break;
          }
        }
        break;  // an unknown text leaves the member as it was
      case KeyKind::Flag:
        k.member(settings.formats) = value == "TRUE" ? 1 : 0;
        break;
      case KeyKind::OggBbrFlag:
        k.member(settings.formats) = (ogg.useCbr != 1 && value == "TRUE") ? 1 : 0;
        break;
      case KeyKind::OggVbrFlag:
        k.member(settings.formats) = (ogg.useCbr != 1 && ogg.useBbr != 1) ? 1 : 0;
        break;
    }
  }
  for (const ExtraKey& k : kExtraKeys) {
    const std::string value = GetProfileString(k.section, k.key, "", file, 1024);
    if (value.empty()) {
      missing.push_back({k.section, k.key, k.defaultText});
    } else if (k.kind == ExtraKey::kFlag) {
      settings.*k.number = value == "TRUE" ? 1 : 0;
    } else if (k.kind == ExtraKey::kText) {
      settings.*k.text = value;
    } else if (!ParseWholeNumber(value, k.min, k.max, settings.*k.number)) {
      settings.settingsProblems.push_back(std::string("Obrin.ini: [") + k.section + "] " + k.key +
                                          " must be a whole number from " + std::to_string(k.min) +
                                          " to " + std::to_string(k.max) + ", not \"" + value +
                                          "\"; " + k.defaultText + " is used");
    }
  }
  // Missing keys go back in one replacement of the file, in the table's order. Failures are
  // ignored: the record keeps its defaults either way.
  if (!missing.empty()) WriteProfileStrings(missing, file);
}

void SaveSettings(const RipSettings& settings) {
  const std::string file = SettingsFilePath();
  FormatSettings formats = settings.formats;  // the accessors need a mutable block
  std::vector<ProfileEntry> entries;
  for (const SettingsKey& k : kSettingsKeys) {
    std::string text;
    if (k.kind == KeyKind::Path) {
      // A path loaded from a hand-edited file can hold a CR in mid-line, which the profile
      // refuses to write (it would not read back), and one refused entry drops the whole
      // batch. Leaving the key out keeps the file's own text and saves the other 20 keys,
      // as one write per key always did.
      if (settings.outputPath.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        continue;
      }
      text = settings.outputPath;
    } else if (k.kind == KeyKind::Choice) {
      int32_t index = k.member(formats);
      // An index outside the table has no text; its default keeps the file loadable.
      text = (index >= 0 && index < k.choices.count) ? k.choices.text(index) : k.defaultText;
    } else {
      text = FlagText(k.member(formats));
    }
    entries.push_back({k.section, k.key, text});
  }
  for (const ExtraKey& k : kExtraKeys) {
    const std::string text = k.kind == ExtraKey::kText   ? settings.*k.text
                             : k.kind == ExtraKey::kFlag ? FlagText(settings.*k.number)
                                                         : std::to_string(settings.*k.number);
    // A text the file cannot hold keeps the file's own, as the output folder does.
    if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) continue;
    entries.push_back({k.section, k.key, text});
  }
  // One replacement of the file: a crash leaves the old settings or the new, never a mix.
  WriteProfileStrings(entries, file);
}
