// fuzz_seeds: writes the starting corpora of the fuzz targets.
//
//   fuzz_seeds CORPUS_ROOT [IMAGE.cue|IMAGE.toc|IMAGE.nrg ...]
//
// Writes CORPUS_ROOT/<target>/<name> for each target. The inputs come from Obrin itself
// wherever it can make them: the fresh Obrin.ini is what LoadSettings writes into an empty
// config folder, the raw TOCs are what ReadTOC returns for the given images (made by mkdisc),
// and the image seeds are those images' own texts. Hand-written variants add the shapes an
// edited file or a broken drive can have. Nothing here is committed: scripts/fuzz.sh makes
// the corpora afresh before each run (and libFuzzer keeps what it adds beside them).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "config/settings.h"
#include "disc/cd_device.h"
#include "fuzz_support.h"

namespace {

namespace fs = std::filesystem;

std::string gRoot;

void Seed(const std::string& target, const std::string& name, const std::string& bytes) {
  fuzz::MakeFolder(gRoot + "/" + target);
  fuzz::WriteBytes(gRoot + "/" + target + "/" + name, bytes);
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t pos = 0; (pos = text.find(from, pos)) != std::string::npos; pos += to.size()) {
    text.replace(pos, from.size(), to);
  }
  return text;
}

void ProfileSeeds() {
  const std::string home = fuzz::ScratchFolder() + "/config";
  setenv("XDG_CONFIG_HOME", home.c_str(), 1);
  RipSettings settings;
  LoadDefaultSettings(settings);
  LoadSettings(settings);  // an empty folder: every key is written with its default
  const std::string fresh = fuzz::ReadBytes(SettingsFilePath());
  FUZZ_CHECK(!fresh.empty());
  Seed("fuzz_profile", "fresh.ini", fresh);
  Seed("fuzz_profile", "fresh-crlf.ini", Replace(fresh, "\n", "\r\n"));
  Seed("fuzz_profile", "unterminated.ini", fresh.substr(0, fresh.size() - 1));
  Seed("fuzz_profile", "edited.ini",
       "; hand edited\n"
       "[output]\n  path = /music/  \n"
       "[MP3 Setting]\nBitRate=320 kbps\nvbr=false\nmpegquality=Voice new\n"
       "[MP3 Setting]\nbitrate=32 kbps\n"
       "# comment = not a key\n"
       "[OGG Setting]\nusecbr=TRUE\nusebbr=TRUE\nusevbr=TRUE\ncbr=350 kbps\nvbr=20\n"
       "[WAV Setting]\nsamplerate=\nchannels=Mono\nsamplebits=8 bits\n");
  Seed("fuzz_profile", "odd-lines.ini",
       std::string("junk before any section\n=no name\n[ ]\nk=v\n[a]b]\nx = y = z\n[Output\n"
                   "Path=not in a section\n[Output]\r\nPath=\tC:\\Music\\\r\n[WAV Setting]") +
           std::string("\nchannels=St\0ereo\n", 19) + "\r\r\n[[x]]\n;k=v\n");
  Seed("fuzz_profile", "long-path.ini", "[Output]\nPath=" + std::string(1030, 'p') + " q\n");
  Seed("fuzz_profile", "bom.ini", "\xEF\xBB\xBF[Output]\nPath=/x/\n");
}

// Template, artist, album, title, year, genre, index; NUL-separated.
std::string TemplateSeed(const std::vector<std::string>& parts) {
  std::string bytes;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) bytes += '\0';
    bytes += parts[i];
  }
  return bytes;
}

void TemplateSeeds() {
  Seed("fuzz_template", "default",
       TemplateSeed({"$a-$t", "Artist", "Album", "Track 01", "2001", "12", "0"}));
  Seed("fuzz_template", "dollars", TemplateSeed({"$n $$ $x$", "A$t", "$$", "T", "", "79", "98"}));
  Seed("fuzz_template", "every",
       TemplateSeed({"$A/$L/$T/$N/$Y/$G/$a$l$t$n$y$g", "a", "l", "t", "1999", "80", "2147483647"}));
  Seed("fuzz_template", "edges", TemplateSeed({"$$$$$", "", "", "", "", "-1", "-2147483648"}));
  Seed("fuzz_template", "bytes",
       TemplateSeed({"\xC3\xA9$\xC3\xA9$\x80/..$", "\xFF", "/", "..", "\n", "0", "-1"}));
}

void SeedToc(const std::string& name, const TocBuffer& toc) {
  Seed("fuzz_toc", name, std::string(reinterpret_cast<const char*>(&toc), sizeof toc));
}

void TocSeeds(const std::vector<std::string>& images) {
  SetCdImages(images);
  DeviceList list{};
  const int found = GetCDList(&list);
  for (int i = 0; i < found; ++i) {
    if (list.entries[i].hostAdapter != 1) continue;  // a real drive: not ours to read
    OpenRequest request{sizeof(OpenRequest), 1, 1, list.entries[i].target, 0, {}};
    const CdHandle handle = GetCDHandle(&request);
    TocBuffer toc{};
    if (handle != kNoCdHandle && ReadTOC(handle, &toc) == 1) {
      SeedToc("image-" + std::to_string(i), toc);
    } else {
      std::fprintf(stderr, "fuzz_seeds: no TOC from %s\n", list.entries[i].identification);
    }
    CloseCDHandle(handle);
  }

  TocBuffer toc{};
  std::vector<CdTocTrack> tracks;
  for (uint32_t t = 0; t < 99; ++t) tracks.push_back({t * 100, 0});
  FillTocBuffer(1, tracks, 99 * 100, toc);
  SeedToc("ninety-nine", toc);

  FillTocBuffer(1, {{0, 0}, {4500, 0x04}, {9000, 0x02}}, 12000, toc);
  SeedToc("data-track", toc);

  FillTocBuffer(3, {{150, 0}, {100, 0}}, 50, toc);  // starts out of order
  SeedToc("backwards", toc);

  FillTocBuffer(1, {{0xFFFFFF00u, 0}}, 0xFFFFFFFFu, toc);
  toc.lastTrack = 0xFF;  // claims more tracks than the entries hold
  SeedToc("past-the-entries", toc);

  toc = TocBuffer{};
  toc.firstTrack = 9;
  toc.lastTrack = 2;
  SeedToc("last-below-first", toc);
}

void ImageSeeds(const std::vector<std::string>& images) {
  for (std::size_t i = 0; i < images.size(); ++i) {
    const std::string text = fuzz::ReadBytes(images[i]);
    if (images[i].size() > 4 && images[i].compare(images[i].size() - 4, 4, ".nrg") == 0) {
      // fuzz_image supplies the audio (16 sectors after the pregap); the seed is the rest.
      constexpr std::size_t kData = (150 + 16) * std::size_t{kSectorBytes};
      if (text.size() > kData) {
        Seed("fuzz_image", "image-" + std::to_string(i),
             std::string(1, '\x08') + text.substr(kData));
      }
      continue;
    }
    const bool toc =
        images[i].size() > 4 && images[i].compare(images[i].size() - 4, 4, ".toc") == 0;
    const char kind = toc ? 1 : 0;
    // As "disc.*" beside the bin it names, and as "sheet.*" that reaches the bin through the
    // cue path's copy and link.
    Seed("fuzz_image", "image-" + std::to_string(i), std::string(1, kind) + text);
    Seed("fuzz_image", "image-" + std::to_string(i) + "-sheet",
         std::string(1, static_cast<char>(kind | 2)) + text);
  }
  Seed("fuzz_image", "other-bin",
       std::string(1, '\0') +
           "FILE \"other.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
           "  TRACK 02 AUDIO\n    PREGAP 00:00:02\n    INDEX 01 00:00:05\n");
  Seed("fuzz_image", "toc-silence",
       std::string(1, '\x05') +
           "CD_DA\nTRACK AUDIO\nSILENCE 00:00:02\nFILE \"disc.bin\" 0 00:00:10\n"
           "TRACK AUDIO\nPREGAP 00:00:01\nFILE \"disc.bin\" 00:00:10 00:00:06\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: fuzz_seeds CORPUS_ROOT [IMAGE.cue|IMAGE.toc|IMAGE.nrg ...]\n");
    return 2;
  }
  gRoot = argv[1];
  std::vector<std::string> images;
  for (int i = 2; i < argc; ++i) images.push_back(fs::absolute(argv[i]).string());
  ProfileSeeds();
  TemplateSeeds();
  TocSeeds(images);
  ImageSeeds(images);
  return 0;
}
