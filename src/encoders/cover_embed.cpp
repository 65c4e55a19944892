// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "encoders/cover_embed.h"

#include <FLAC/metadata.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>

namespace {

void PutBig32(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(value >> shift & 0xFF);
}

}  // namespace

std::string FlacPictureStructure(const CoverPicture& picture) {
  std::string out;
  out.reserve(32 + picture.mimeType.size() + picture.bytes.size());
  PutBig32(out, kFrontCoverType);
  PutBig32(out, static_cast<uint32_t>(picture.mimeType.size()));
  out += picture.mimeType;
  PutBig32(out, 0);  // the description's length
  PutBig32(out, picture.width);
  PutBig32(out, picture.height);
  PutBig32(out, picture.depth);
  PutBig32(out, picture.colors);
  PutBig32(out, static_cast<uint32_t>(picture.bytes.size()));
  out += picture.bytes;
  return out;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t at = 0;
  for (; at + 3 <= bytes.size(); at += 3) {
    const uint32_t group = uint32_t{static_cast<unsigned char>(bytes[at])} << 16 |
                           uint32_t{static_cast<unsigned char>(bytes[at + 1])} << 8 |
                           static_cast<unsigned char>(bytes[at + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) out += kDigits[group >> shift & 63];
  }
  if (const size_t rest = bytes.size() - at; rest > 0) {
    uint32_t group = uint32_t{static_cast<unsigned char>(bytes[at])} << 16;
    if (rest == 2) group |= uint32_t{static_cast<unsigned char>(bytes[at + 1])} << 8;
    out += kDigits[group >> 18 & 63];
    out += kDigits[group >> 12 & 63];
    out += rest == 2 ? kDigits[group >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

FLAC__StreamMetadata* NewFlacPictureBlock(const CoverPicture& picture) {
  FLAC__StreamMetadata* block = FLAC__metadata_object_new(FLAC__METADATA_TYPE_PICTURE);
  if (!block) return nullptr;
  std::string mime = picture.mimeType;
  FLAC__byte empty[] = "";
  std::string bytes = picture.bytes;
  block->data.picture.type = FLAC__STREAM_METADATA_PICTURE_TYPE_FRONT_COVER;
  block->data.picture.width = picture.width;
  block->data.picture.height = picture.height;
  block->data.picture.depth = picture.depth;
  block->data.picture.colors = picture.colors;
  if (!FLAC__metadata_object_picture_set_mime_type(block, mime.data(), /*copy=*/true) ||
      !FLAC__metadata_object_picture_set_description(block, empty, /*copy=*/true) ||
      !FLAC__metadata_object_picture_set_data(block, reinterpret_cast<FLAC__byte*>(bytes.data()),
                                              static_cast<FLAC__uint32>(bytes.size()),
                                              /*copy=*/true)) {
    FLAC__metadata_object_delete(block);
    return nullptr;
  }
  return block;
}

void PutCoverFrame(TagLib::ID3v2::Tag& tag, const CoverPicture& picture) {
  tag.removeFrames("APIC");
  auto* frame = new TagLib::ID3v2::AttachedPictureFrame;
  frame->setTextEncoding(TagLib::String::UTF8);
  frame->setMimeType(picture.mimeType);
  frame->setDescription("");
  frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
  frame->setPicture(
      TagLib::ByteVector(picture.bytes.data(), static_cast<unsigned>(picture.bytes.size())));
  tag.addFrame(frame);
}
