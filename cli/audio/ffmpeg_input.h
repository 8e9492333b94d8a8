// A local file as FFmpeg's demuxers read it: through this host's own read and seek callbacks
// instead of FFmpeg's file protocol, so that the work a file makes them do is counted. A damaged
// file can send a demuxer back over the same bytes without end; here every read and every seek
// costs its bytes plus kChargePerCall, and once a file has cost kBudgetFactor times its size plus
// kBudgetBase, reads fail and the interrupt callback asks FFmpeg to stop. Reading a file once
// from start to end costs about 1.1 times its size.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cli/audio/ffmpeg_library.h"

namespace pelk::cli {

class FfmpegInput {
 public:
  static constexpr uint64_t kChargePerCall = 4096;
  static constexpr uint64_t kBudgetFactor = 4;
  static constexpr uint64_t kBudgetBase = uint64_t{16} << 20;

  // The file ready to be read, or null with *error saying why.
  // REQUIRES: LoadFfmpeg succeeded.
  static std::unique_ptr<FfmpegInput> Open(const std::string& path, std::string* error);
  ~FfmpegInput();
  FfmpegInput(const FfmpegInput&) = delete;
  FfmpegInput& operator=(const FfmpegInput&) = delete;

  // For AVFormatContext::pb; owned by this object, which must outlive the format context.
  AVIOContext* io() const { return io_; }
  // For AVFormatContext::interrupt_callback.
  AVIOInterruptCB interrupt() { return {&Interrupt, this}; }
  uint64_t size() const { return size_; }
  // True once the file has cost its whole budget: what FFmpeg said after that is beside the point.
  bool exhausted() const { return exhausted_; }

 private:
  FfmpegInput(int fd, uint64_t size);
  // Charges one call of `bytes`; false once the budget is spent.
  bool Charge(uint64_t bytes);
  static int Read(void* opaque, uint8_t* buffer, int size);
  static int64_t Seek(void* opaque, int64_t offset, int whence);
  static int Interrupt(void* opaque);

  int fd_;
  uint64_t size_;
  uint64_t position_ = 0;
  uint64_t cost_ = 0;
  uint64_t budget_;
  bool exhausted_ = false;
  AVIOContext* io_ = nullptr;
};

}  // namespace pelk::cli
