// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "support/image_access.h"

#include <gtest/gtest.h>

#include "disc/cd_device.h"

CdHandle OpenLast(const std::string& image) {
  if (!image.empty()) SetCdImages({image});
  DeviceList list{};
  const int n = GetCDList(&list);
  const DeviceEntry& e = list.entries[n > 0 ? n - 1 : 0];
  const OpenRequest request{12, 1, e.hostAdapter, e.target, e.lun, {}};
  return n > 0 ? GetCDHandle(&request) : kNoCdHandle;
}

std::optional<std::string> Read(CdHandle handle, uint32_t start, uint32_t count) {
  TrackBufferPtr buffer = AllocTrackBuffer(count);
  buffer->startSector = start;
  buffer->sectorCount = count;
  const int result = ReadCDAudioLBA(handle, buffer.get());
  EXPECT_TRUE(result == 1 || buffer->deliveredLength == 0);
  if (result != 1) return std::nullopt;
  const char* data = reinterpret_cast<const char*>(TrackBufferData(buffer.get()));
  return std::string(data + buffer->offset, buffer->deliveredLength);
}
