// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The settings store: RipSettings, the value tables behind the texts of "Obrin.ini", and
// loading and saving that file through the profile module.
//
// Threads: loading and saving run on the user-interface thread only. The rip worker reads
// the record while it runs; the commands that change it refuse while `ripping` is set.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "config/disc_model.h"
#include "platform/shared_int.h"

enum OutputFormat : int32_t { Wav = 0, Ogg = 1, Mp3 = 2, Flac = 3, Opus = 4 };

struct WavSettings {
  int32_t sampleRate = 0;     // SampleRateChoice index
  int32_t channels = 1;       // 0 "Mono", 1 "Stereo"
  int32_t bitsPerSample = 1;  // 0 "8 bits", 1 "16 bits"
};

struct OggSettings {
  int32_t sampleRate = 0;
  int32_t channels = 1;  // 0 "Mono", 1 "Stereo", 2 "5.1"
  int32_t useCbr = 0;
  int32_t useBbr = 0;
  int32_t useVbr = 1;
  int32_t cbrBitrate = 0;  // OggBitrateTable index
  int32_t bbrMin = 0;
  int32_t bbrNominal = 0;
  int32_t bbrMax = 3;
  int32_t vbrQuality = 9;  // slider position 0..20
};

struct Mp3Settings {
  int32_t sampleRate = 0;
  int32_t channels = 1;  // 0 "Mono", 1 "Stereo", 2 "Joint stereo"
  int32_t bitrate = 8;   // Mp3BitrateTable index
  int32_t vbrEnabled = 1;
  int32_t vbrQuality = 2;      // 0..9, 0 best
  int32_t vbrMaxBitrate = 10;  // Mp3BitrateTable index
  int32_t preset = 5;          // Mp3PresetNames index
};

struct FlacSettings {
  int32_t level = 5;  // libFLAC's compression level, 0..8
};

// libopus's rate control of OpusSettings::mode, in the order of OpusModeNames.
enum OpusMode : int32_t { kOpusVbr = 0, kOpusConstrainedVbr = 1, kOpusCbr = 2 };
inline constexpr std::array<const char*, 3> OpusModeNames = {"VBR", "Constrained VBR", "CBR"};
inline constexpr int32_t kOpusMinKbps = 32, kOpusMaxKbps = 512;

struct OpusSettings {
  int32_t bitrate = 160 - kOpusMinKbps;  // kbps above kOpusMinKbps, up to kOpusMaxKbps
  int32_t mode = kOpusVbr;
  int32_t complexity = 10;  // 0..10
};

struct FormatSettings {
  WavSettings wav;
  OggSettings ogg;
  Mp3Settings mp3;
  FlacSettings flac;
  OpusSettings opus;
};
static_assert(sizeof(WavSettings) == 3 * 4);
static_assert(sizeof(OggSettings) == 10 * 4);
static_assert(sizeof(Mp3Settings) == 7 * 4);
static_assert(sizeof(FlacSettings) == 1 * 4);
static_assert(sizeof(OpusSettings) == 3 * 4);
static_assert(sizeof(FormatSettings) == 24 * 4);

// A track's copy of its format's settings block, read as that format's layout
// (WavSettings, OggSettings, Mp3Settings, FlacSettings or OpusSettings).
template <typename Block>
Block SettingsBlockOf(const TrackRecord& track) {
  std::array<uint32_t, sizeof(Block) / sizeof(uint32_t)> words;
  std::copy_n(track.formatSettings.begin(), words.size(), words.begin());
  return std::bit_cast<Block>(words);
}

// Where the AccurateRip database is asked when [AccurateRip] Server does not say.
inline constexpr char kDefaultAccurateRipServer[] = "http://www.accuraterip.com";

// Where the CUETools database is asked when [CTDB] Server does not say.
inline constexpr char kCtdbDefaultServer[] = "http://db.cuetools.net";

// Where MusicBrainz is asked when [MusicBrainz] Server does not say.
inline constexpr char kDefaultMusicBrainzServer[] = "https://musicbrainz.org";

// Where the Cover Art Archive is asked when [CoverArt] Server does not say.
inline constexpr char kDefaultCoverArtServer[] = "https://coverartarchive.org";

// The file names of a settings file without [Output] Template.
inline constexpr char kDefaultFileNameTemplate[] = "$a-$t";

// The largest read offset correction either way, in samples.
inline constexpr int32_t kReadOffsetLimit = 3000;

struct ReplayGainOutcome {
  std::string albumGain, albumPeak;  // ReplayGain texts ("4.59 dB", "0.100006")
  std::string albumNote;             // why the album has none
};

struct RipSettings : DiscInfo {
  int32_t outputFormat = Mp3;
  int32_t driveIndex = 0;
  std::string outputPath;  // ends with "/" when it came from the defaults
  std::string fileNameTemplate = kDefaultFileNameTemplate;  // [Output] Template
  FormatSettings formats;
  int32_t id3Enabled = 0;
  TrackList tracks;
  DriveList drives;
  SharedInt currentTrack{-1};
  SharedInt ripping{0};  // 1 while a rip job runs; writing 0 asks the worker to stop
  // [Drive] ReadOffset (obrin-rip --offset for one run): the drive's read offset correction
  // in samples, kReadOffsetLimit at most either way.
  int32_t readOffset = 0;
  // [AccurateRip] Verify (obrin-rip --verify): compare each track with the databases, the
  // AccurateRip one at [AccurateRip] Server and the CUETools one at [CTDB] Server.
  int32_t verifyAccurateRip = 0;
  // [AccurateRip] Secure (obrin-rip --secure): a track neither database confirms is read
  // again until two reads agree.
  int32_t secureRip = 0;
  // [Output] WriteLog (obrin-rip --log): a rip log and a cue sheet beside the tracks.
  int32_t writeLog = 0;
  std::string accurateRipServer = kDefaultAccurateRipServer;
  std::string ctdbServer = kCtdbDefaultServer;
  // [MusicBrainz] Server: asked only when the user asks for a lookup.
  std::string musicBrainzServer = kDefaultMusicBrainzServer;
  // [MusicBrainz] LookUpOnLoad: the window asks MusicBrainz for each disc as it is loaded
  // (off unless the user turns it on: no request unasked).
  int32_t lookUpOnLoad = 0;
  // [CoverArt] Fetch (obrin-rip --cover-art): a rip of a disc named by a MusicBrainz release
  // fetches its front cover from [CoverArt] Server, saves it beside the tracks and embeds a
  // copy at most [CoverArt] EmbedSize pixels wide (0: the original) in every file.
  int32_t fetchCoverArt = 0;
  std::string coverArtServer = kDefaultCoverArtServer;
  int32_t coverEmbedSize = 500;
  // obrin-rip --cover FILE: the user's own picture instead, no network; never saved.
  std::string coverFile;
  // The running job's cover and what became of it, for the log (worker only, set as it starts).
  CoverArtPtr coverArt;
  std::string coverNote;
  // What LoadSettings refused in the file, one sentence each, for the host to show.
  std::vector<std::string> settingsProblems;
  // obrin-rip --output: replaces the output folder for one run; never saved. Empty: none.
  std::string outputFolderOverride;
  // obrin-rip --check: tracks are read for their checksums and verdicts only; no file is
  // written but the log, which goes to `checkLogPath` (beside the image) when set.
  bool checkOnly = false;
  std::string checkLogPath;
  // [Output] Deemphasis (obrin-rip --deemphasis): tracks the disc marks as pre-emphasised
  // are de-emphasised (the 50/15 us shelf) before they are written; their cue sheet entry
  // then has no FLAGS PRE.
  int32_t deemphasis = 0;
  // [ReplayGain] Enabled (obrin-rip --replaygain): each file is tagged with its track's
  // ReplayGain 2.0 (and, after a whole disc, the album's); TruePeak: peaks as true peaks.
  int32_t replayGain = 0;
  int32_t replayGainTruePeak = 0;
  // The album's ReplayGain in the last job that measured, for its log: gain and peak, or
  // why there is none (worker only while a job runs, reset as it starts).
  ReplayGainOutcome replayGainOutcome;
  // obrin-rip --no-htoa: the audio before track 1 (a hidden track) is not listed or ripped.
  bool ripHiddenTrack = true;
  // What reading the disc's layout found worth saying (for the log and obrin-rip's
  // messages), one sentence each; rebuilt with the track list.
  std::vector<std::string> discNotes;
  // The running job's dealings with the drive (worker only, reset as a job starts).
  DriveReadFacts driveRead;
  // What the CUETools database said of the disc in the last job that verified (worker only
  // while a job runs, reset as it starts).
  CtdbDiscOutcome ctdbOutcome;
};

// The one record of the process, shared by the hosts.
extern RipSettings ripSettings;

// Value tables: the same texts appear in the file, the configuration pages and the list.
inline constexpr std::array<const char*, 4> SampleRateChoice = {"Same as input", "32000 Hz",
                                                                "44100 Hz", "48000 Hz"};
// Rate in Hz of a SampleRateChoice index; 0 for "Same as input" and any unknown index.
int SampleRateHz(int32_t index);
inline constexpr std::array<int, 14> Mp3BitrateTable = {32,  40,  48,  56,  64,  80,  96,
                                                        112, 128, 160, 192, 224, 256, 320};
inline constexpr std::array<int, 5> OggBitrateTable = {128, 160, 192, 256, 350};
inline constexpr std::array<const char*, 23> Mp3PresetNames = {
    "Normal",  "Low",          "High",   "Voice", "R3mix", "Very high", "Standard", "Fast standard",
    "Extreme", "Fast extreme", "Insane", "ABR",   "CBR",   "Phone",     "SW",       "AM",
    "FM",      "Voice (new)",  "Radio",  "Tape",  "HiFi",  "CD",        "Studio"};
// The file text of a preset row: the combo text except row 17, "Voice new".
const char* Mp3PresetFileText(int32_t index);
inline constexpr std::array<unsigned, 21> OggNominalKbpsTable = {58,  73,  81,  85,  90,  95,  104,
                                                                 114, 127, 141, 155, 169, 183, 196,
                                                                 210, 225, 245, 274, 317, 382, 477};

// Quality of an Ogg VBR slider position: 0.05f added `position` times in double precision.
double OggQualityValue(int32_t position);
// Nominal kbps of a slider position; 0 outside 0..20.
unsigned OggNominalKbps(int32_t position);

// The folder of the running executable, ending with "/".
std::string GetProgramFolder();
// The user's music folder: XDG_MUSIC_DIR of ${XDG_CONFIG_HOME:-~/.config}/user-dirs.dirs,
// else ~/Music/; always ends with "/".
std::string UserMusicFolder();
// The [Output] Path of a first run: "My Music/" in `programFolder` (which ends with "/")
// when it exists there or can be made, and can be written; else UserMusicFolder().
std::string DefaultOutputFolder(const std::string& programFolder);
// Where "Obrin.ini" lives: ${XDG_CONFIG_HOME:-$HOME/.config}/obrin/Obrin.ini.
std::string SettingsFilePath();
// The file's [Output] Path as stored, read afresh; empty when absent.
std::string ReadOutputFolderFromFile();
// The output folder the rip path uses now: the run's override when set, else the file's.
std::string CurrentOutputFolder(const RipSettings& settings);

void LoadDefaultSettings(RipSettings& settings);
// Overlays `settings` with the file, writing every missing or empty key back with its default.
// A number key holding anything but a number of its range keeps its default and is named in
// settings.settingsProblems.
void LoadSettings(RipSettings& settings);
// Writes all 25 keys and those of the later sections ([Drive], [AccurateRip], [CTDB]) from
// `settings`; [Output] Path is left as the file has it when the folder holds a line break or NUL,
// which a settings file cannot store.
void SaveSettings(const RipSettings& settings);
