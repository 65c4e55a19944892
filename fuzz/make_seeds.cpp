// fuzz_seeds CORPUS_ROOT [IMAGE.cue|IMAGE.toc ...]: writes CORPUS_ROOT/<target>/<name>, the
// starting corpora, made afresh by scripts/fuzz.sh before each run. Obrin makes what it can:
// the Obrin.ini a first run writes, the TOCs ReadTOC gives for the images (made by mkdisc),
// the image texts themselves; hand-written variants add edited files and broken drives.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "config/settings.h"
#include "disc/cd_device.h"
#include "fuzz_support.h"

namespace {

using namespace std::string_literals;
std::string gRoot;

void Seed(const std::string& target, const std::string& name, const std::string& bytes) {
  fuzz::WriteBytes(fuzz::MakeFolder(gRoot + "/" + target) + "/" + name, bytes);
}

void SeedToc(const std::string& name, const TocBuffer& toc) {
  Seed("fuzz_toc", name, std::string(reinterpret_cast<const char*>(&toc), sizeof toc));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return std::fprintf(stderr, "usage: fuzz_seeds CORPUS_ROOT [IMAGE...]\n"), 2;
  gRoot = argv[1];
  std::vector<std::string> images;
  for (int i = 2; i < argc; ++i) images.push_back(std::filesystem::absolute(argv[i]).string());

  setenv("XDG_CONFIG_HOME", (fuzz::ScratchFolder() + "/config").c_str(), 1);
  RipSettings settings;
  LoadDefaultSettings(settings);
  LoadSettings(settings);  // an empty folder: every key written with its default
  std::string fresh = fuzz::ReadBytes(SettingsFilePath()), crlf;
  FUZZ_CHECK(!fresh.empty());
  for (char c : fresh) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  Seed("fuzz_profile", "fresh.ini", fresh);
  Seed("fuzz_profile", "fresh-crlf.ini", crlf);
  Seed("fuzz_profile", "edited.ini",
       "; hand edited\n[output]\n  path = /music/  \n[MP3 Setting]\nBitRate=320 kbps\nvbr=false\n"
       "mpegquality=Voice new\n[MP3 Setting]\nbitrate=32 kbps\n# c = not a key\n[OGG Setting]\n"
       "usecbr=TRUE\nusebbr=TRUE\ncbr=350 kbps\nvbr=20\n[WAV Setting]\nsamplerate=\n");
  Seed("fuzz_profile", "odd-lines.ini",
       "junk\n=no name\n[ ]\nk=v\n[a]b]\nx = y = z\n[Output\nPath=p\n[Output]\r\nPath=\tC:\\M\\\r\n"
       "[WAV Setting]\nchannels=St\0ereo\n\r\r\n[[x]]\n;k=v"s);

  // Template, artist, album, title, year, genre, index; "|" stands for the NUL between them.
  for (std::string parts :
       {"$a-$t|Artist|Album|Track 01|2001|12|0", "$A/$$$L/$t$N $y$G$|\xFF|/|..|\n|-1|2147483647"}) {
    std::replace(parts.begin(), parts.end(), '|', '\0');
    Seed("fuzz_template", std::to_string(parts.size()), parts);
  }

  SetCdImages(images);
  DeviceList list{};
  for (int i = 0, found = GetCDList(&list); i < found; ++i) {
    if (list.entries[i].hostAdapter != 1) continue;  // a real drive: not ours to read
    OpenRequest request{sizeof(OpenRequest), 1, 1, list.entries[i].target, 0, {}};
    const CdHandle handle = GetCDHandle(&request);
    TocBuffer toc{};
    FUZZ_CHECK(ReadTOC(handle, &toc) == 1);
    SeedToc("image-" + std::to_string(i), toc);
    CloseCDHandle(handle);
  }
  TocBuffer toc{};
  std::vector<CdTocTrack> tracks;
  for (uint32_t t = 0; t < 99; ++t) tracks.push_back({t * 100, 0});
  FillTocBuffer(1, tracks, 99 * 100, toc);
  SeedToc("ninety-nine", toc);
  FillTocBuffer(1, {{0xFFFFFF00u, 0}}, 0xFFFFFFFFu, toc);
  toc.lastTrack = 0xFF;  // more tracks than the entries hold
  SeedToc("past-the-entries", toc);

  for (std::size_t i = 0; i < images.size(); ++i) {
    const char kind = images[i].ends_with(".toc") ? 1 : 0;
    for (char sheet : {0, 2}) {  // beside the bin it names, and through the cue path's link
      Seed("fuzz_image", "image-" + std::to_string(i) + "-" + std::to_string(+sheet),
           std::string(1, static_cast<char>(kind | sheet)) + fuzz::ReadBytes(images[i]));
    }
  }
  Seed("fuzz_image", "other-bin",
       std::string(1, '\2') +
           "FILE \"other.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
           "  TRACK 02 AUDIO\n    PREGAP 00:00:02\n    INDEX 01 00:00:05\n");
  Seed("fuzz_image", "toc-silence",
       std::string(1, '\5') +
           "CD_DA\nTRACK AUDIO\nSILENCE 00:00:02\nFILE \"disc.bin\" 0 00:00:10\n"
           "TRACK AUDIO\nPREGAP 00:00:01\nFILE \"disc.bin\" 00:00:10 00:00:06\n");
  return 0;
}
