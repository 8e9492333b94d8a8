#include "cli/audio/ffmpeg_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace pelk::cli {
namespace {

// FFmpeg's own buffer size for files.
constexpr int kBufferBytes = 32768;

const FfmpegLibrary& Ff() {
  std::string unused;
  return *LoadFfmpeg(&unused);
}

}  // namespace

std::unique_ptr<FfmpegInput> FfmpegInput::Open(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = std::strerror(errno);
    if (!error->empty()) (*error)[0] = static_cast<char>(std::tolower((*error)[0]));
    return nullptr;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    *error = "not a regular file";
    return nullptr;
  }
  std::unique_ptr<FfmpegInput> input(new FfmpegInput(fd, static_cast<uint64_t>(status.st_size)));
  auto* buffer = static_cast<unsigned char*>(Ff().av_malloc(kBufferBytes));
  if (buffer) {
    input->io_ =
        Ff().avio_alloc_context(buffer, kBufferBytes, 0, input.get(), &Read, nullptr, &Seek);
  }
  if (!input->io_) {
    Ff().av_freep(&buffer);
    *error = "out of memory";
    return nullptr;
  }
  return input;
}

FfmpegInput::FfmpegInput(int fd, uint64_t size)
    : fd_(fd), size_(size), budget_(kBudgetFactor * size + kBudgetBase) {}

FfmpegInput::~FfmpegInput() {
  if (io_) {
    Ff().av_freep(&io_->buffer);  // FFmpeg may have replaced the buffer it was given
    Ff().avio_context_free(&io_);
  }
  ::close(fd_);
}

bool FfmpegInput::Charge(uint64_t bytes) {
  if (exhausted_) return false;
  cost_ += bytes + kChargePerCall;
  if (cost_ > budget_) exhausted_ = true;
  return !exhausted_;
}

int FfmpegInput::Read(void* opaque, uint8_t* buffer, int size) {
  auto& self = *static_cast<FfmpegInput*>(opaque);
  if (size <= 0) return AVERROR(EINVAL);
  if (!self.Charge(static_cast<uint64_t>(size))) return AVERROR_EXIT;
  ssize_t got;
  do {
    got = ::pread(self.fd_, buffer, static_cast<size_t>(size), static_cast<off_t>(self.position_));
  } while (got < 0 && errno == EINTR);
  if (got < 0) return AVERROR(errno);
  if (got == 0) return AVERROR_EOF;
  self.position_ += static_cast<uint64_t>(got);
  return static_cast<int>(got);
}

int64_t FfmpegInput::Seek(void* opaque, int64_t offset, int whence) {
  auto& self = *static_cast<FfmpegInput*>(opaque);
  const auto size = static_cast<int64_t>(self.size_);
  if (whence & AVSEEK_SIZE) return size;
  if (!self.Charge(0)) return AVERROR_EXIT;
  int64_t base = 0;
  switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
      break;
    case SEEK_CUR:
      base = static_cast<int64_t>(self.position_);
      break;
    case SEEK_END:
      base = size;
      break;
    default:
      return AVERROR(EINVAL);
  }
  // Offsets come from the file: no sum of them may overflow.
  if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0) return AVERROR(EINVAL);
  self.position_ = static_cast<uint64_t>(base + offset);
  return base + offset;
}

int FfmpegInput::Interrupt(void* opaque) {
  return static_cast<FfmpegInput*>(opaque)->exhausted_ ? 1 : 0;
}

}  // namespace pelk::cli
