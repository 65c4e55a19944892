// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "disc/cdrdao_toc.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <vector>

#include "disc/audio_file.h"
#include "disc/cd_text.h"

namespace {

constexpr uint32_t kAudioSectorBytes = 2352;
constexpr uint32_t kSamplesPerSector = 588;
constexpr uint32_t kSubchannelBytes = 96;
// Far beyond any disc (80 minutes are 360,000 sectors): a bound that keeps sums in range.
constexpr uint64_t kMaxSectors = 1'000'000;

struct Token {
  enum Kind { kWord, kString, kOpen, kClose, kComma, kEnd } kind = kEnd;
  std::string text;  // a word, or a string's bytes with its escapes undone
  int line = 0;
};

// Words, quoted strings, braces and commas; "//" comments and blanks between them dropped.
class Tokens {
 public:
  explicit Tokens(const std::string& text) : text_(text) {}

  const Token& Peek() {
    if (!peeked_) {
      next_ = Scan();
      peeked_ = true;
    }
    return next_;
  }
  Token Take() {
    Token token = Peek();
    peeked_ = false;
    return token;
  }

 private:
  Token Scan() {
    for (;;) {
      while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) {
        if (text_[at_++] == '\n') ++line_;
      }
      if (text_.compare(at_, 2, "//") != 0) break;
      at_ = std::min(text_.find('\n', at_), text_.size());
    }
    Token token;
    token.line = line_;
    if (at_ >= text_.size()) return token;
    const char c = text_[at_];
    if (c == '{' || c == '}' || c == ',') {
      token.kind = c == '{' ? Token::kOpen : c == '}' ? Token::kClose : Token::kComma;
      ++at_;
      return token;
    }
    if (c == '"') {
      token.kind = Token::kString;
      ++at_;
      while (at_ < text_.size() && text_[at_] != '"') {
        char b = text_[at_++];
        if (b == '\n') ++line_;
        if (b == '\\' && at_ < text_.size()) {
          // cdrdao writes bytes outside ASCII as octal escapes: "Jos\351".
          int value = 0, digits = 0;
          while (digits < 3 && at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '7') {
            value = value * 8 + (text_[at_++] - '0');
            ++digits;
          }
          b = digits > 0 ? static_cast<char>(value & 0xFF) : text_[at_++];
        }
        token.text += b;
      }
      if (at_ < text_.size()) ++at_;  // the closing quote (an unterminated string ends the text)
      return token;
    }
    token.kind = Token::kWord;
    while (at_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[at_])) &&
           std::string_view("{},\"").find(text_[at_]) == std::string_view::npos &&
           text_.compare(at_, 2, "//") != 0) {
      token.text += text_[at_++];
    }
    return token;
  }

  const std::string& text_;
  size_t at_ = 0;
  int line_ = 1;
  Token next_;
  bool peeked_ = false;
};

// Bytes a sector of each track mode takes in the file.
const std::map<std::string, uint32_t> kModeBytes = {
    {"AUDIO", 2352},       {"MODE0", 2336},          {"MODE1", 2048},
    {"MODE1_RAW", 2352},   {"MODE2", 2336},          {"MODE2_FORM1", 2048},
    {"MODE2_FORM2", 2324}, {"MODE2_FORM_MIX", 2336}, {"MODE2_RAW", 2352}};

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() <= 12 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "mm:ss:ff" in sectors; nullopt when it is not one.
std::optional<uint64_t> Msf(const std::string& text) {
  const size_t first = text.find(':');
  const size_t second = first == std::string::npos ? first : text.find(':', first + 1);
  if (second == std::string::npos) return std::nullopt;
  const std::string m = text.substr(0, first), s = text.substr(first + 1, second - first - 1),
                    f = text.substr(second + 1);
  if (!AllDigits(m) || !AllDigits(s) || !AllDigits(f)) return std::nullopt;
  const uint64_t seconds = std::stoull(s), frames = std::stoull(f);
  if (seconds > 59 || frames > 74) return std::nullopt;
  return (std::stoull(m) * 60 + seconds) * 75 + frames;
}

bool IsWaveName(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".wav";
}

bool IsLength(const Token& token) {
  return token.kind == Token::kWord && (Msf(token.text) || AllDigits(token.text));
}

class Parser {
 public:
  Parser(const std::string& text, const std::string& folder) : tokens_(text), folder_(folder) {}

  std::optional<ImageLayout> Run(std::string& why) {
    while (Fine() && tokens_.Peek().kind != Token::kEnd) Statement();
    if (Fine()) EndTrack();
    if (!Fine()) {
      why = why_;
      return std::nullopt;
    }
    if (layout_.tracks.empty()) {
      why = "it holds no track";
      return std::nullopt;
    }
    layout_.leadOut = static_cast<uint32_t>(position_);
    if (layout_.discText.code.empty()) layout_.discText.code = catalog_;
    return std::move(layout_);
  }

 private:
  bool Fine() const { return why_.empty(); }
  void Fail(const Token& at, const std::string& what) {
    if (Fine()) why_ = "line " + std::to_string(at.line) + ": " + what;
  }

  void Statement() {
    const Token token = tokens_.Take();
    if (token.kind != Token::kWord) return Fail(token, "a keyword was expected");
    const std::string& word = token.text;
    if (word == "CD_DA" || word == "CD_ROM" || word == "CD_ROM_XA" || word == "CD_I") return;
    if (word == "CATALOG") return Text(token, catalog_);
    if (word == "CD_TEXT") return CdText(token);
    if (word == "TRACK") return StartTrack(token);
    if (!inTrack_) return Fail(token, word + " before the first TRACK");
    if (word == "NO") {
      const Token what = tokens_.Take();
      if (what.text == "COPY") track_.control &= ~0x02;
      if (what.text == "PRE_EMPHASIS") track_.control &= ~0x01;
      return;
    }
    if (word == "COPY") track_.control |= 0x02;
    if (word == "PRE_EMPHASIS") track_.control |= 0x01;
    if (word == "COPY" || word == "PRE_EMPHASIS" || word == "TWO_CHANNEL_AUDIO" ||
        word == "FOUR_CHANNEL_AUDIO") {
      return;
    }
    if (word == "ISRC") return Text(token, isrc_);
    if (word == "INDEX") return Index(token);
    if (word == "SILENCE" || word == "ZERO" || word == "PREGAP") return Silence(token);
    if (word == "FILE" || word == "AUDIOFILE" || word == "DATAFILE") return File(token);
    if (word == "START") {
      const uint64_t at = IsLength(tokens_.Peek()) ? Length(tokens_.Take(), true) : TrackSoFar();
      if (Fine() && at > TrackSoFar()) return Fail(token, "START lies beyond the track's data");
      index1_ = at;
      return;
    }
    Fail(token, "unknown keyword " + word);
  }

  void Text(const Token& after, std::string& into) {
    const Token value = tokens_.Take();
    if (value.kind != Token::kString) return Fail(after, after.text + " lacks its value");
    into = CleanCdText(value.text);
  }

  // INDEX: the next index, counted from the track's index 1 (its START), not from its data.
  void Index(const Token& token) {
    const Token at = tokens_.Take();
    const auto msf = Msf(at.text);
    if (at.kind != Token::kWord || !msf) return Fail(token, "INDEX gives no time as mm:ss:ff");
    if (indexes_.size() >= 98) return Fail(token, "more than 99 indexes");
    if (*msf == 0 || (!indexes_.empty() && *msf <= indexes_.back())) {
      return Fail(token, "an INDEX lies at or before the index before it");
    }
    indexes_.push_back(*msf);
  }

  void Skip(Token::Kind kind, const Token& after) {
    if (tokens_.Take().kind != kind) Fail(after, after.text + " lacks its value");
  }

  uint64_t TrackSoFar() const { return position_ - track_.start; }

  // A length: "mm:ss:ff" in sectors, or a number of samples (bytes in a data file); whole
  // sectors, rounded up.
  uint64_t Length(const Token& token, bool samples, uint32_t sectorBytes = kAudioSectorBytes) {
    if (const auto msf = Msf(token.text)) return *msf;
    if (!AllDigits(token.text)) {
      Fail(token, "\"" + token.text + "\" is not a length");
      return 0;
    }
    const uint64_t n = std::stoull(token.text);
    return samples ? (n + kSamplesPerSector - 1) / kSamplesPerSector
                   : (n + sectorBytes - 1) / sectorBytes;
  }

  void StartTrack(const Token& token) {
    EndTrack();
    const Token mode = tokens_.Take();
    const auto bytes = kModeBytes.find(mode.text);
    if (mode.kind != Token::kWord || bytes == kModeBytes.end()) {
      return Fail(token, "a TRACK names no mode it can have");
    }
    if (layout_.tracks.size() >= 99) return Fail(token, "more than 99 tracks");
    sectorBytes_ = bytes->second;
    strideBytes_ = sectorBytes_;
    if (tokens_.Peek().text == "RW" || tokens_.Peek().text == "RW_RAW") {
      tokens_.Take();
      strideBytes_ += kSubchannelBytes;
    }
    inTrack_ = true;
    track_ = ImageTrack{};
    track_.start = static_cast<uint32_t>(position_);
    track_.control = mode.text == "AUDIO" ? 0 : 0x04;
    index1_ = 0;
    pendingText_.clear();
    isrc_.clear();
    indexes_.clear();
  }

  void EndTrack() {
    if (!inTrack_) return;
    track_.pregap = static_cast<uint32_t>(index1_);
    track_.start += static_cast<uint32_t>(index1_);
    track_.text = Pick(pendingText_);
    if (track_.text.code.empty()) track_.text.code = isrc_;
    // Indexes past the track's data are a damaged file's: the disc cannot hold them.
    for (size_t i = 0; i < indexes_.size(); ++i) {
      const uint64_t at = track_.start + indexes_[i];
      if (at >= position_) break;
      track_.indexes.push_back({static_cast<uint8_t>(2 + i), static_cast<uint32_t>(at)});
    }
    layout_.tracks.push_back(track_);
    inTrack_ = false;
  }

  void Add(ImageSpan span, const Token& at) {
    if (position_ + span.sectors > kMaxSectors) return Fail(at, "the disc is far too long");
    position_ += span.sectors;
    if (span.sectors > 0) layout_.spans.push_back(std::move(span));
  }

  void Silence(const Token& token) {
    // ZERO may name a mode and a subchannel mode before its length.
    while (token.text == "ZERO" && tokens_.Peek().kind == Token::kWord &&
           !IsLength(tokens_.Peek())) {
      tokens_.Take();
    }
    const Token length = tokens_.Take();
    ImageSpan span;
    span.sectors = static_cast<uint32_t>(std::min(Length(length, true), kMaxSectors + 1));
    if (token.text == "PREGAP") {
      if (TrackSoFar() > 0) return Fail(token, "PREGAP after the track's data");
      index1_ = span.sectors;
    }
    Add(std::move(span), token);
  }

  void File(const Token& token) {
    const Token name = tokens_.Take();
    if (name.kind != Token::kString) return Fail(token, token.text + " names no file");
    const bool data = token.text == "DATAFILE";
    uint64_t offset = 0;
    if (tokens_.Peek().kind == Token::kWord && tokens_.Peek().text.starts_with("#")) {
      const std::string digits = tokens_.Take().text.substr(1);
      if (!AllDigits(digits)) return Fail(token, "a byte offset is not a number");
      offset = std::stoull(digits);
    }
    ImageSpan span;
    span.silent = false;
    span.sectorBytes = sectorBytes_;
    span.strideBytes = strideBytes_;
    std::string path = name.text;
    std::replace(path.begin(), path.end(), '\\', '/');
    span.path = std::filesystem::path(path.starts_with("/") ? path : folder_ + "/" + path)
                    .lexically_normal()
                    .string();
    struct stat st;
    const bool exists = stat(span.path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    // A data track is never read: its file may be missing when the TOC gives its length.
    const bool unread = !exists && (track_.control & 0x04) != 0;
    if (!exists && !unread) return Fail(token, "its data file " + span.path + " does not exist");
    // cdrdao reads an audio file whose name ends in ".wav" as WAVE: its samples start after
    // the header, and its lengths count them.
    AudioFileFacts facts{AudioFileKind::kRaw, 0, exists ? static_cast<uint64_t>(st.st_size) : 0};
    if (exists && !data && IsWaveName(span.path)) {
      std::string problem;
      if (!ProbeAudioFile(span.path, false, facts, problem)) {
        return Fail(token, "its data file " + span.path + " " + problem);
      }
      if (facts.kind == AudioFileKind::kFlac) span.coding = SpanCoding::kFlac;
      span.audioEnd = facts.dataOffset + facts.audioBytes;
    }
    uint64_t start = 0;
    if (!data) {
      const Token from = tokens_.Take();
      if (!IsLength(from)) return Fail(token, token.text + " gives no start");
      const auto msf = Msf(from.text);
      start = msf ? *msf * strideBytes_ : std::stoull(from.text) * 4;
    }
    span.byteOffset = facts.dataOffset + offset + start;
    uint64_t sectors = 0;
    if (IsLength(tokens_.Peek())) {
      sectors = Length(tokens_.Take(), !data, strideBytes_);
    } else if (unread) {
      return Fail(token, "its data file " + span.path + " does not exist");
    } else if (facts.kind != AudioFileKind::kRaw) {
      // To the end of its samples, a last partial sector padded with zeros.
      const uint64_t end = facts.dataOffset + facts.audioBytes;
      sectors =
          end > span.byteOffset ? (end - span.byteOffset + strideBytes_ - 1) / strideBytes_ : 0;
    } else {
      const uint64_t size = static_cast<uint64_t>(st.st_size);
      sectors = size > span.byteOffset ? (size - span.byteOffset) / strideBytes_ : 0;
    }
    span.sectors = static_cast<uint32_t>(std::min(sectors, kMaxSectors + 1));
    span.silent = unread;
    Add(std::move(span), token);
  }

  // CD_TEXT { LANGUAGE_MAP { ... } LANGUAGE n { FIELD "text" | FIELD { bytes } ... } ... }
  void CdText(const Token& token) {
    if (tokens_.Take().kind != Token::kOpen) return Fail(token, "CD_TEXT without its \"{\"");
    std::map<int, CdTextFields> blocks;
    for (;;) {
      const Token next = tokens_.Take();
      if (next.kind == Token::kClose) break;
      if (next.kind == Token::kWord && next.text == "LANGUAGE_MAP") {
        if (!SkipBlock(next)) return;
      } else if (next.kind == Token::kWord && next.text == "LANGUAGE") {
        const Token number = tokens_.Take();
        // Blocks are numbered 0 to 7.
        if (number.text.size() != 1 || number.text[0] < '0' || number.text[0] > '7' ||
            tokens_.Take().kind != Token::kOpen) {
          return Fail(next, "a LANGUAGE block without its number (0 to 7) and \"{\"");
        }
        CdTextFields& fields = blocks[number.text[0] - '0'];
        for (;;) {
          const Token key = tokens_.Take();
          if (key.kind == Token::kClose) break;
          if (key.kind != Token::kWord) return Fail(key, "a CD-Text field was expected");
          if (tokens_.Peek().kind == Token::kOpen) {
            tokens_.Take();
            if (!SkipBlock(key)) return;  // SIZE_INFO, GENRE, ...: bytes, not text
            continue;
          }
          const Token value = tokens_.Take();
          if (value.kind != Token::kString) return Fail(key, key.text + " lacks its text");
          if (key.text == "TITLE") fields.title = CleanCdText(value.text);
          if (key.text == "PERFORMER") fields.performer = CleanCdText(value.text);
          if (key.text == "SONGWRITER") fields.songwriter = CleanCdText(value.text);
        }
      } else {
        return Fail(next, "CD_TEXT holds something it cannot");
      }
    }
    if (inTrack_) {
      pendingText_ = std::move(blocks);
    } else {
      layout_.discText = Pick(blocks);
      if (!blocks.empty()) discBlock_ = blocks.begin()->first;
    }
  }

  // Skips to the "}" closing a block whose "{" was taken (LANGUAGE_MAP's may follow on the
  // next line: the opening brace may still be ahead).
  bool SkipBlock(const Token& owner) {
    if (tokens_.Peek().kind == Token::kOpen) tokens_.Take();
    for (;;) {
      const Token token = tokens_.Take();
      if (token.kind == Token::kClose) return true;
      if (token.kind == Token::kEnd || token.kind == Token::kOpen) {
        Fail(owner, owner.text + " block is not closed");
        return false;
      }
    }
  }

  // The texts of the disc's first block (English, or whatever the first block's language is).
  CdTextFields Pick(const std::map<int, CdTextFields>& blocks) const {
    if (blocks.empty()) return {};
    const auto it = blocks.find(discBlock_);
    return it != blocks.end() ? it->second : blocks.begin()->second;
  }

  Tokens tokens_;
  std::string folder_;
  std::string why_;
  ImageLayout layout_;
  uint64_t position_ = 0;
  bool inTrack_ = false;
  ImageTrack track_;
  uint64_t index1_ = 0;
  std::vector<uint64_t> indexes_;  // the track's INDEX times, from its index 1
  std::string isrc_, catalog_;
  uint32_t sectorBytes_ = kAudioSectorBytes;
  uint32_t strideBytes_ = kAudioSectorBytes;
  std::map<int, CdTextFields> pendingText_;
  int discBlock_ = 0;
};

}  // namespace

std::optional<ImageLayout> ParseCdrdaoToc(const std::string& text, const std::string& folder,
                                          std::string& why) {
  return Parser(text, folder).Run(why);
}
