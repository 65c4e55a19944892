// fuzz_seeds CORPUS_ROOT [IMAGE.cue|IMAGE.toc|IMAGE.nrg ...]: writes the starting corpora
// CORPUS_ROOT/<target>/<name>: the Obrin.ini a first run writes, each image's TOC as its drive
// gives it, the image texts, and hand-written edited files and broken drives.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/settings.h"
#include "disc/cd_device.h"
#include "disc/track_list.h"
#include "fuzz_support.h"

using namespace std::string_literals;
static std::string gRoot;

static void Seed(const std::string& target, const std::string& name, const std::string& bytes) {
  fuzz::WriteBytes(fuzz::MakeFolder(gRoot + "/" + target) + "/" + name, bytes);
}

int main(int argc, char** argv) {
  if (argc < 2) return std::fprintf(stderr, "usage: fuzz_seeds CORPUS_ROOT [IMAGE...]\n"), 2;
  gRoot = argv[1];
  setenv("XDG_CONFIG_HOME", (fuzz::ScratchFolder() + "/config").c_str(), 1);
  RipSettings settings;
  LoadDefaultSettings(settings);
  LoadSettings(settings);  // an empty folder: every key written with its default
  Seed("fuzz_profile", "fresh.ini", fuzz::ReadBytes(SettingsFilePath()));
  Seed("fuzz_profile", "edited.ini",
       "; hand edited\r\n[output]\r\n  path = /music/  \n[MP3 Setting]\nBitRate=320 kbps\n[ ]\n"
       "=x\n[MP3 Setting]\nbitrate=32 kbps\n# c = not a key\n[OGG Setting]\nusecbr=TRUE\n"
       "usebbr=TRUE\nvbr=20\n[WAV Setting]\nsamplerate=\n[a]b]\nx = y\0z\n[Output\n;k=v"s);

  Seed("fuzz_tips", "tips.txt",
       "; comment\nFirst tip\n  indented\n\tTabbed\n\nSecond tip\r\n;x\nLast, no line end");
  Seed("fuzz_tips", "long.txt", "; only comments\n \n\r\n"s + std::string(1200, 'y') + "\n\0z"s);

  // Template, artist, album, title, year, genre, index; "|" stands for the NUL between them.
  for (std::string parts :
       {"$a-$t|Artist|Album|Track 01|2001|12|0", "$A/$$$L/$t$N $y$G$|\xFF|/|..|\n|-1|2147483647"}) {
    std::replace(parts.begin(), parts.end(), '|', '\0');
    Seed("fuzz_template", std::to_string(parts.size()), parts);
  }

  for (int i = 2; i < argc; ++i) {
    SetCdImages({argv[i]});
    if (EnumerateCdDrives(settings) > 0 &&
        BuildTrackList(settings, static_cast<int>(settings.drives.size()) - 1) == 0) {
      const TocBuffer& toc = settings.drives.back().toc;
      Seed("fuzz_toc", "image-" + std::to_string(i),
           std::string(reinterpret_cast<const char*>(&toc), sizeof toc));
    }
    const std::string text = fuzz::ReadBytes(argv[i]);
    if (std::string(argv[i]).ends_with(".nrg")) {  // fuzz_image supplies the audio itself
      constexpr std::size_t kData = (150 + 16) * std::size_t{kSectorBytes};
      if (text.size() > kData)
        Seed("fuzz_image", "nrg-" + std::to_string(i), '\x08' + text.substr(kData));
      continue;
    }
    const char kind = std::string(argv[i]).ends_with(".toc") ? 1 : 0;
    // Beside the bin it names, and as "sheet.*" through the cue path's copy and link.
    Seed("fuzz_image", "image-" + std::to_string(i), kind + text);
    Seed("fuzz_image", "sheet-" + std::to_string(i), static_cast<char>(kind | 2) + text);
  }
  TocBuffer toc{};
  FillTocBuffer(1, {{0xFFFFFF00u, 0}}, 0xFFFFFFFFu, toc);
  toc.lastTrack = 0xFF;  // more tracks than the entries hold, at the top of the address range
  Seed("fuzz_toc", "past-the-entries",
       std::string(reinterpret_cast<const char*>(&toc), sizeof toc));
  Seed("fuzz_image", "toc-silence",
       "\5CD_DA\nTRACK AUDIO\nSILENCE 00:00:02\nFILE \"disc.bin\" 0 00:00:10\n"
       "TRACK AUDIO\nPREGAP 00:00:01\nFILE \"disc.bin\" 00:00:10 00:00:06\n");
  return 0;
}
