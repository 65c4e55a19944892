// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "encoders/release_fields.h"

#include <taglib/id3v2tag.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tstring.h>
#include <taglib/tstringlist.h>
#include <taglib/uniquefileidentifierframe.h>

namespace {

const ReleaseTrackTags* TrackTagsOf(const TrackRecord& track, const ReleaseTags& release) {
  const auto it = release.tracks.find(track.index);
  return it == release.tracks.end() ? nullptr : &it->second;
}

TagLib::String Utf8(const std::string& text) {
  return TagLib::String(text, TagLib::String::UTF8);
}

}  // namespace

std::string ReleaseDateOf(const RipSettings& settings) {
  if (!settings.discYear.empty() || settings.release.releaseId.empty() ||
      settings.release.date.empty()) {
    return settings.Year();
  }
  return settings.release.date;
}

void AppendReleaseComments(TagFields& fields, const TrackRecord& track,
                           const RipSettings& settings) {
  const ReleaseTags& release = settings.release;
  if (release.releaseId.empty()) return;
  const auto add = [&fields](const char* name, const std::string& value) {
    if (!value.empty()) fields.emplace_back(name, value);
  };
  const ReleaseTrackTags* own = TrackTagsOf(track, release);
  add("MUSICBRAINZ_ALBUMID", release.releaseId);
  add("MUSICBRAINZ_RELEASEGROUPID", release.releaseGroupId);
  if (own) {
    add("MUSICBRAINZ_TRACKID", own->recordingId);
    add("MUSICBRAINZ_RELEASETRACKID", own->trackId);
    for (const std::string& id : own->artistIds) add("MUSICBRAINZ_ARTISTID", id);
  }
  for (const std::string& id : release.albumArtistIds) add("MUSICBRAINZ_ALBUMARTISTID", id);
  add("ALBUMARTIST", settings.Artist());
  if (release.discNumber > 0) {
    add("DISCNUMBER", std::to_string(release.discNumber));
    add("DISCTOTAL", std::to_string(release.discTotal));
  }
  add("ORIGINALDATE", release.originalDate);
  add("RELEASECOUNTRY", release.country);
  if (settings.knownCatalog.empty()) add("BARCODE", release.barcode);
  add("LABEL", release.label);
  add("CATALOGNUMBER", release.catalogNumber);
  add("MEDIA", release.media);
}

void PutReleaseFrames(TagLib::ID3v2::Tag& tag, const TrackRecord& track,
                      const RipSettings& settings) {
  const ReleaseTags& release = settings.release;
  const auto putText = [&tag](const char* id, const std::string& value) {
    tag.removeFrames(id);
    if (value.empty()) return;
    auto* frame = new TagLib::ID3v2::TextIdentificationFrame(id, TagLib::String::UTF8);
    frame->setText(Utf8(value));
    tag.addFrame(frame);
  };
  const auto putUser = [&tag](const char* description, const std::vector<std::string>& values) {
    if (auto* old = TagLib::ID3v2::UserTextIdentificationFrame::find(&tag, description)) {
      tag.removeFrame(old);
    }
    TagLib::StringList list;
    for (const std::string& value : values) {
      if (!value.empty()) list.append(Utf8(value));
    }
    if (list.isEmpty()) return;
    auto* frame = new TagLib::ID3v2::UserTextIdentificationFrame(TagLib::String::UTF8);
    frame->setDescription(description);
    frame->setText(list);
    tag.addFrame(frame);
  };
  // The recording's UFID, Obrin's or an earlier one of the same owner.
  for (TagLib::ID3v2::Frame* frame : tag.frameList("UFID")) {
    auto* ufid = dynamic_cast<TagLib::ID3v2::UniqueFileIdentifierFrame*>(frame);
    if (ufid && ufid->owner() == kMusicBrainzUfidOwner) {
      tag.removeFrame(frame);
      break;
    }
  }
  if (release.releaseId.empty()) return;
  const ReleaseTrackTags* own = TrackTagsOf(track, release);
  const ReleaseTrackTags none;
  const ReleaseTrackTags& ids = own ? *own : none;
  putUser("MusicBrainz Album Id", {release.releaseId});
  putUser("MusicBrainz Release Group Id", {release.releaseGroupId});
  putUser("MusicBrainz Release Track Id", {ids.trackId});
  putUser("MusicBrainz Artist Id", ids.artistIds);
  putUser("MusicBrainz Album Artist Id", release.albumArtistIds);
  if (settings.knownCatalog.empty()) putUser("BARCODE", {release.barcode});
  putUser("CATALOGNUMBER", {release.catalogNumber});
  if (!ids.recordingId.empty()) {
    tag.addFrame(new TagLib::ID3v2::UniqueFileIdentifierFrame(
        kMusicBrainzUfidOwner,
        TagLib::ByteVector(ids.recordingId.data(), static_cast<unsigned>(ids.recordingId.size()))));
  }
  putText("TPE2", settings.Artist());
  if (release.discNumber > 0) {
    putText("TPOS", std::to_string(release.discNumber) + "/" + std::to_string(release.discTotal));
  }
  putText("TDOR", release.originalDate);
  putText("TPUB", release.label);
  putText("TMED", release.media);
}
