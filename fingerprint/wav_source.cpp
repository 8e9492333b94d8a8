#include "fingerprint/wav_source.h"

#include <algorithm>

namespace pelk::fingerprint {
namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// a x b / c rounded half away from zero; -1 when c is 0 or the result does not fit 32 bits.
int32_t MulDiv(uint32_t a, uint32_t b, uint32_t c) {
  if (c == 0) return -1;
  const uint64_t product = uint64_t{a} * b;
  const uint64_t result = (product + c / 2) / c;
  return result > 0x7FFFFFFFu ? -1 : static_cast<int32_t>(result);
}

}  // namespace

WavSource::WavSource(const std::string& utf8_path)
    : WavSource(std::fopen(utf8_path.c_str(), "rb")) {}

WavSource::WavSource(std::FILE* file) {
  if (file == nullptr) return;
  reader_ = std::make_unique<RiffReader>(file);
  Parse();
}

void WavSource::Parse() {
  auto fail = [this] {
    reader_.reset();
    format_ = WaveFormat();
    data_size_ = 0;
    data_offset_ = 0;
    duration_ms_ = 0;
  };
  if (!reader_->ok()) return fail();
  const std::optional<RiffChunk> riff = reader_->FindRiff(FourCc("WAVE"));
  if (!riff) return fail();

  // The whole "fmt " chunk must be present; only its first 18 bytes are needed.
  const std::optional<RiffChunk> fmt = reader_->FindChunk(*riff, FourCc("fmt "));
  if (!fmt || fmt->declared_size < 16 || fmt->size < fmt->declared_size) return fail();
  uint8_t record[18] = {};
  const size_t wanted = std::min<size_t>(sizeof record, fmt->size);
  if (!reader_->Seek(fmt->data_offset) || reader_->Read(record, wanted) != wanted) return fail();
  format_.format_tag = Le16(record);
  format_.channels = Le16(record + 2);
  format_.samples_per_sec = Le32(record + 4);
  format_.avg_bytes_per_sec = Le32(record + 8);
  format_.block_align = Le16(record + 12);
  format_.bits_per_sample = Le16(record + 14);
  format_.extra_size = wanted >= 18 ? Le16(record + 16) : 0;
  if (format_.channels == 0 || format_.samples_per_sec == 0 || format_.block_align == 0) {
    return fail();
  }

  // A data chunk that claims more than the file holds ends at the file's end.
  const std::optional<RiffChunk> data = reader_->FindChunk(*riff, FourCc("data"));
  if (!data) return fail();
  data_offset_ = data->data_offset;
  data_size_ = static_cast<uint32_t>(data->size);
  duration_ms_ = MulDiv(data_size_, 1000, format_.avg_bytes_per_sec);
  const uint32_t align = format_.block_align;
  block_bytes_ = align <= kAudioBlockBytes ? kAudioBlockBytes / align * align : align;
}

HRESULT WavSource::Rewind() {
  if (!reader_) return E_FAIL;
  if (!reader_->Seek(data_offset_)) return E_FAIL;
  bytes_read_ = 0;
  return S_OK;
}

HRESULT WavSource::Read(const uint8_t** data, int32_t* length) {
  *data = buffer_.data();
  *length = 0;
  if (!reader_) return E_FAIL;
  const uint32_t align = format_.block_align;
  const uint32_t whole = data_size_ - data_size_ % align;
  const uint32_t left = whole > bytes_read_ ? whole - bytes_read_ : 0;
  // A block alignment above 4096 bytes cannot be delivered whole; such data ends here.
  uint32_t wanted = std::min<uint32_t>(left, block_bytes_);
  if (wanted > kAudioBlockBytes) wanted = 0;
  const size_t got = wanted == 0 ? 0 : reader_->Read(buffer_.data(), wanted);
  // A short read keeps only whole frames; the rest of the file is then treated as missing.
  const uint32_t usable = static_cast<uint32_t>(got) - static_cast<uint32_t>(got) % align;
  bytes_read_ += usable;
  if (got < wanted) bytes_read_ = whole;
  *length = static_cast<int32_t>(usable);
  return S_OK;
}

}  // namespace pelk::fingerprint
