#include "capture/capture.h"

#include <algorithm>
#include <cstdio>

#include "capture/checksums.h"
#include "config/settings.h"

namespace {

void SetProgress(RipHost& host, TrackRecord& track, uint64_t scale, uint64_t total,
                 uint64_t remaining) {
  // 64-bit so that a damaged TOC's huge length cannot wrap the percentage.
  track.status = static_cast<int32_t>((scale * total - scale * remaining) / total);
  host.PostProgress(track);
}

class FileSink : public PcmSink {
 public:
  explicit FileSink(FILE* file) : file_(file) {}
  bool Write(const uint8_t* data, size_t size) override {
    return std::fwrite(data, 1, size, file_) == size;
  }

 private:
  FILE* file_;
};

}  // namespace

int ReadBlockWithRetries(CdHandle handle, TrackBuffer* buffer) {
  int result = 0;
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    result = ReadCDAudioLBA(handle, buffer);
    if (result == 1) break;
  }
  return result;
}

CdHandle OpenDriveForCapture() {
  const RipSettings& settings = ripSettings;
  OpenRequest request{};
  if (settings.driveIndex >= 0 &&
      static_cast<size_t>(settings.driveIndex) < settings.drives.size()) {
    request = settings.drives[static_cast<size_t>(settings.driveIndex)].openRequest;
  }
  // Not tested: a handle that did not open fails the first read, which reports it.
  CdHandle handle = GetCDHandle(&request);
  ModifyCDParms(handle, kCdParmReadRetries, 3);
  ModifyCDParms(handle, kCdParmParanoia, 1);
  return handle;
}

ReadLoopResult RunReadLoop(RipHost& mainWindow, CaptureJob& job, CdHandle handle, PcmSink& sink,
                           uint32_t progressScale) {
  ReadLoopResult result;
  TrackRecord& track = *job.track;
  TrackBuffer* buffer = job.readBuffer;
  uint32_t sector = track.startSector;
  uint32_t remaining = track.lengthSectors;
  const uint32_t total = track.lengthSectors;
  const uint32_t bufferSectors = buffer->capacity / kSectorBytes;
  uint32_t blockNumber = 0;
  // The sums see the bytes as they go to the sink: no second pass over the file.
  const TrackList& tracks = ripSettings.tracks;
  TrackChecksums checksums(uint64_t{total} * (kSectorBytes / 4),
                           !tracks.empty() && &tracks.front() == &track,
                           !tracks.empty() && &tracks.back() == &track);

  while (remaining > 0) {
    if (ripSettings.ripping == 0) {
      track.status = kStatusStopped;
      result.stopped = true;
      break;
    }
    if (blockNumber % kProgressEveryBlocks == 0) {
      SetProgress(mainWindow, track, progressScale, total, remaining);
    }
    ++blockNumber;

    const uint32_t count = std::min({kSectorsPerRead, remaining, bufferSectors});
    buffer->startSector = sector;
    buffer->sectorCount = count;
    buffer->deliveredLength = 0;
    buffer->offset = 0;
    int readResult = ReadBlockWithRetries(handle, buffer);
    // A delivery that claims bytes outside the buffer is as good as a failed read.
    if (readResult == 1 && (buffer->offset < 0 || uint64_t{static_cast<uint32_t>(buffer->offset)} +
                                                          buffer->deliveredLength >
                                                      buffer->capacity)) {
      readResult = 0;
    }
    if (readResult != 1) {
      const uint32_t aspiError = GetAspiLibAspiError();
      const uint32_t libError = GetAspiLibError();
      char text[96];
      std::snprintf(text, sizeof text, "Error at frame %d (%d:%d)", static_cast<int>(sector),
                    static_cast<int>(libError), static_cast<int>(aspiError & 0xFF));
      mainWindow.ShowErrorBox(text);
      result.readFailed = true;
      job.captureFailed = true;
      break;
    }
    const uint8_t* delivered = TrackBufferData(buffer) + buffer->offset;
    checksums.Add(delivered, buffer->deliveredLength);
    if (!sink.Write(delivered, buffer->deliveredLength)) {
      mainWindow.ShowErrorBox("Cannot write output file");
      track.status = kStatusError;
      result.writeFailed = true;
      break;
    }
    sector += count;
    remaining -= count;
  }
  track.checksums = checksums.Values();
  track.checksums.complete = remaining == 0 && !result.writeFailed;
  return result;
}

FILE* CreateCaptureTarget(RipHost& mainWindow, CaptureJob& job, OutputFileLock* lock) {
  job.captureFailed = false;
  job.fileCreated = false;
  FILE* file = OpenRegularFile(job.targetPath, "wb", lock);
  if (!file) {
    mainWindow.ShowErrorBox("Cannot create output file");
    job.track->status = kStatusError;
    mainWindow.PostProgress(*job.track);
    return nullptr;
  }
  job.fileCreated = true;
  return file;
}

void CaptureTrackToPcm(RipHost& mainWindow, CaptureJob& job) {
  TrackRecord& track = *job.track;
  FILE* file = CreateCaptureTarget(mainWindow, job);
  if (!file) return;

  const CdHandle handle = OpenDriveForCapture();
  FileSink sink(file);
  const ReadLoopResult result = RunReadLoop(mainWindow, job, handle, sink, 30);
  CloseCDHandle(handle);
  // Buffered data reaches the disk only here: a full disk may show up at this point.
  if (std::fclose(file) != 0 && !result.writeFailed) {
    mainWindow.ShowErrorBox("Cannot write output file");
    track.status = kStatusError;
  }
  mainWindow.PostProgress(track);
}
