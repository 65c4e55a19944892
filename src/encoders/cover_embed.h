// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The front cover in a file, as each format carries it: picture type 3 ("Cover (front)"), an
// empty description, the MIME type and size its own bytes gave. FLAC's PICTURE block, the
// same structure in base64 as a Vorbis comment (METADATA_BLOCK_PICTURE), ID3v2's APIC.
#include <FLAC/format.h>

#include <string>
#include <string_view>

#include "config/release_tags.h"

namespace TagLib::ID3v2 {
class Tag;
}

inline constexpr unsigned kFrontCoverType = 3;

// FLAC's picture structure (its PICTURE block without the block header), big-endian.
std::string FlacPictureStructure(const CoverPicture& picture);

// RFC 4648 base64 with padding.
std::string Base64(std::string_view bytes);

// A new PICTURE block for libFLAC's encoder (the caller deletes it); null without memory.
FLAC__StreamMetadata* NewFlacPictureBlock(const CoverPicture& picture);

// Replaces the tag's APIC frames with the picture.
void PutCoverFrame(TagLib::ID3v2::Tag& tag, const CoverPicture& picture);
