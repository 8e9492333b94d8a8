#include "cli/audio/audio_decoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "cli/audio/allocation_ceiling.h"
#include "cli/audio/ffmpeg_input.h"
#include "cli/audio/ffmpeg_library.h"
#include "cli/audio/pcm16_convert.h"
#include "cli/audio/sndfile_reader.h"

namespace pelk::cli {
namespace {

constexpr int kBlockFrames = 4096;
// Damaged packets in a row after which a stream is taken as ended: a few bad packets in a long
// file cost a few milliseconds of audio, a file that is garbage from some point on stops there.
constexpr int kMaxBadPacketsInRow = 64;
// Packets read and frames received on the way to one frame of audio, at most: a file whose
// demuxer or decoder goes on without ever giving audio ends there. An honest file needs a few
// (more when a video stream is interleaved).
constexpr int kMaxStepsPerFrame = 1 << 16;

// Containers of audio this host reads. Anything else FFmpeg recognises (images, playlists that
// name other files, video-only formats) is refused before its reader runs past the probe.
constexpr const char* kAudioFormats =
    "wav,w64,aiff,caf,au,flac,ogg,mp3,aac,ac3,eac3,dts,mov,asf,wv,ape,mpc,mpc8,tta,matroska,dsf,"
    "amr,shn,tak";

// The loaded libraries. REQUIRES: LoadFfmpeg succeeded (every FFmpeg object comes after it).
const FfmpegLibrary& Ff() {
  std::string unused;
  return *LoadFfmpeg(&unused);
}

struct CloseInput {
  void operator()(AVFormatContext* c) const { Ff().avformat_close_input(&c); }
};
struct FreeCodec {
  void operator()(AVCodecContext* c) const { Ff().avcodec_free_context(&c); }
};
struct FreePacket {
  void operator()(AVPacket* p) const { Ff().av_packet_free(&p); }
};
struct FreeFrame {
  void operator()(AVFrame* f) const { Ff().av_frame_free(&f); }
};
struct FreeDictionary {
  void operator()(AVDictionary* d) const { Ff().av_dict_free(&d); }
};

std::string ErrorText(int code) {
  if (code == AVERROR_INVALIDDATA) return "unrecognised or damaged data";
  if (code == AVERROR(EINVAL)) return "not an audio format";
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  Ff().av_strerror(code, text, sizeof text);
  std::string message = text;
  if (!message.empty()) message[0] = static_cast<char>(std::tolower(message[0]));
  return message;
}

}  // namespace

struct AudioDecoder::File {
  // The file opened with FFmpeg and its first frame decoded, or null with *error saying why.
  static std::unique_ptr<File> Open(const std::string& path, std::string* error);

  // Why FFmpeg failed with `code`, or what made it fail.
  std::string Why(int code) const {
    if (input->exhausted()) return Circles();
    if (code == AVERROR(ENOMEM)) {
      return "it declares a part larger than the " + std::to_string(ceiling->bytes() >> 20) +
             " MB a file of its size may take to decode";
    }
    return ErrorText(code);
  }
  std::string Circles() const {
    return "its reader goes round in circles (it read more than " +
           std::to_string(FfmpegInput::kBudgetFactor) + " times the file)";
  }

  // Declared before the FFmpeg objects, which are destroyed first.
  std::unique_ptr<FfmpegInput> input;
  std::unique_ptr<AllocationCeiling> ceiling;
  std::unique_ptr<AVFormatContext, CloseInput> format;
  std::unique_ptr<AVCodecContext, FreeCodec> codec;
  std::unique_ptr<AVPacket, FreePacket> packet{Ff().av_packet_alloc()};
  std::unique_ptr<AVFrame, FreeFrame> frame{Ff().av_frame_alloc()};
  int stream = -1;
  int frame_used = 0;       // sample frames of `frame` already handed out
  bool have_frame = false;  // `frame` holds decoded audio not all handed out
  bool flushing = false;    // the container is exhausted and the decoder was told so
  bool ended = false;
  int bad_in_row = 0;

  // Feeds the decoder the next packet of the stream, or the end-of-stream signal; counts each
  // packet read in *steps and gives up past kMaxStepsPerFrame.
  void Feed(int* steps) {
    while (!flushing) {
      if (++*steps > kMaxStepsPerFrame) {
        ended = true;
        return;
      }
      const int read = Ff().av_read_frame(format.get(), packet.get());
      if (read < 0) {  // end of file, or a read error: drain what the decoder holds
        Ff().avcodec_send_packet(codec.get(), nullptr);
        flushing = true;
        return;
      }
      if (packet->stream_index != stream) {
        Ff().av_packet_unref(packet.get());
        continue;
      }
      const int sent = Ff().avcodec_send_packet(codec.get(), packet.get());
      Ff().av_packet_unref(packet.get());
      if (sent >= 0 || sent == AVERROR(EAGAIN)) return;
      if (++bad_in_row > kMaxBadPacketsInRow) {
        ended = true;
        return;
      }
    }
  }

  // Decodes into `frame` until it holds audio; false at the end of the stream.
  bool NextFrame() {
    int steps = 0;
    while (!ended && ++steps <= kMaxStepsPerFrame) {
      const int received = Ff().avcodec_receive_frame(codec.get(), frame.get());
      if (received >= 0) {
        bad_in_row = 0;
        if (frame->nb_samples > 0) return true;
        Ff().av_frame_unref(frame.get());
        continue;
      }
      if (received == AVERROR_EOF) break;
      if (received != AVERROR(EAGAIN) && ++bad_in_row > kMaxBadPacketsInRow) break;
      if (flushing && received == AVERROR(EAGAIN)) break;
      Feed(&steps);
    }
    ended = true;
    return false;
  }
};

std::unique_ptr<AudioDecoder::File> AudioDecoder::File::Open(const std::string& path,
                                                             std::string* error) {
  if (!LoadFfmpeg(error)) return nullptr;
  auto file = std::make_unique<File>();
  if (!file->packet || !file->frame) {
    *error = "out of memory";
    return nullptr;
  }
  // The file is read through the host's own callbacks (ffmpeg_input.h), and everything FFmpeg
  // allocates for it is capped by what its size can justify (allocation_ceiling.h).
  file->input = FfmpegInput::Open(path, error);
  if (!file->input) return nullptr;
  file->ceiling = std::make_unique<AllocationCeiling>(file->input->size());
  AVFormatContext* raw_format = Ff().avformat_alloc_context();
  if (!raw_format) {
    *error = "out of memory";
    return nullptr;
  }
  raw_format->pb = file->input->io();
  raw_format->interrupt_callback = file->input->interrupt();
  // Only audio containers, and no other file: a playlist or a reference file must not make the
  // decoder open other files or the network.
  AVDictionary* raw_options = nullptr;
  Ff().av_dict_set(&raw_options, "protocol_whitelist", "file", 0);
  Ff().av_dict_set(&raw_options, "format_whitelist", kAudioFormats, 0);
  // The name only serves the probe, which also weighs the extension ("file:" keeps a name like
  // "Artist: Title.flac" from reading as a URL).
  const std::string url = "file:" + path;
  const int opened = Ff().avformat_open_input(&raw_format, url.c_str(), nullptr, &raw_options);
  const std::unique_ptr<AVDictionary, FreeDictionary> options(raw_options);
  if (opened < 0) {  // avformat_open_input frees the context on failure
    *error = file->Why(opened);
    return nullptr;
  }
  file->format.reset(raw_format);
  AVFormatContext* format = file->format.get();

  // The container headers name the codec of nearly every file; a stream whose parameters only
  // show in its packets (raw streams) is probed.
  auto find_stream = [&] {
    return Ff().av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  };
  int stream = find_stream();
  if (stream < 0 || format->streams[stream]->codecpar->codec_id == AV_CODEC_ID_NONE) {
    if (Ff().avformat_find_stream_info(format, nullptr) < 0) {
      *error =
          file->input->exhausted() ? file->Circles() : "the file holds no stream that can be read";
      return nullptr;
    }
    stream = find_stream();
  }
  if (stream < 0) {
    *error = "the file holds no audio";
    return nullptr;
  }
  file->stream = stream;
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    if (static_cast<int>(i) != stream) format->streams[i]->discard = AVDISCARD_ALL;  // cover art
  }
  const AVCodecParameters* parameters = format->streams[stream]->codecpar;
  const AVCodec* codec = Ff().avcodec_find_decoder(parameters->codec_id);
  if (!codec) {
    *error = std::string("no decoder for its audio (") +
             Ff().avcodec_get_name(parameters->codec_id) + ")";
    return nullptr;
  }
  file->codec.reset(Ff().avcodec_alloc_context3(codec));
  if (!file->codec || Ff().avcodec_parameters_to_context(file->codec.get(), parameters) < 0) {
    *error = file->Why(AVERROR(ENOMEM));
    return nullptr;
  }
  file->codec->thread_count = 1;  // files are decoded side by side, one thread each
  const int codec_opened = Ff().avcodec_open2(file->codec.get(), codec, nullptr);
  if (codec_opened < 0) {
    *error = std::string("its ") + codec->name + " audio cannot be decoded (" +
             file->Why(codec_opened) + ")";
    return nullptr;
  }
  // The first decoded frame says what the audio is (the container may not, and implicit
  // spectral band replication in AAC doubles the rate the header gives).
  if (!file->NextFrame()) {
    *error = file->input->exhausted()
                 ? file->Circles()
                 : std::string("its ") + codec->name + " audio does not decode";
    return nullptr;
  }
  file->have_frame = true;
  if (file->frame->sample_rate <= 0 || file->frame->ch_layout.nb_channels <= 0) {
    *error = "the audio declares no channels or no sample rate";
    return nullptr;
  }
  return file;
}

// WAV, AIFF and FLAC files, recognised by their first bytes, go to libsndfile. MP3 does not: its
// reader writes to stderr and gives up on a damaged stream. Nor does Ogg: measured over 50 files
// in one process, its Vorbis decoding cost 39 ms of CPU per file against FFmpeg's 20.
bool ForSndfile(const std::string& path) {
  char magic[4] = {};
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  const size_t got = std::fread(magic, 1, sizeof magic, f);
  std::fclose(f);
  const std::string_view head(magic, got);
  return head == "RIFF" || head == "RF64" || head == "FORM" || head == "fLaC";
}

std::unique_ptr<AudioDecoder> AudioDecoder::Open(const std::string& path, std::string* error) {
  if (ForSndfile(path)) {
    if (std::unique_ptr<SndfileReader> sndfile = SndfileReader::Open(path)) {
      return std::unique_ptr<AudioDecoder>(new AudioDecoder(nullptr, std::move(sndfile), path));
    }
  }
  std::unique_ptr<File> file = File::Open(path, error);
  if (!file) return nullptr;
  return std::unique_ptr<AudioDecoder>(new AudioDecoder(std::move(file), nullptr, path));
}

AudioDecoder::AudioDecoder(std::unique_ptr<File> file, std::unique_ptr<SndfileReader> sndfile,
                           std::string path)
    : file_(std::move(file)), sndfile_(std::move(sndfile)), path_(std::move(path)) {
  sample_rate_ = sndfile_ ? sndfile_->sample_rate() : file_->frame->sample_rate;
  channels_ = sndfile_ ? sndfile_->channels() : file_->frame->ch_layout.nb_channels;
}

AudioDecoder::~AudioDecoder() = default;

double AudioDecoder::seconds() const {
  if (sndfile_) return sndfile_->seconds();
  const AVStream* stream = file_->format->streams[file_->stream];
  if (stream->duration > 0 && stream->time_base.den > 0) {
    return static_cast<double>(stream->duration) * av_q2d(stream->time_base);
  }
  if (file_->format->duration > 0) {
    return static_cast<double>(file_->format->duration) / AV_TIME_BASE;
  }
  return 0.0;
}

bool AudioDecoder::IsPlainWavPcm() const {
  if (sndfile_) return sndfile_->IsPlainWavPcm();
  const AVCodecID codec = file_->format->streams[file_->stream]->codecpar->codec_id;
  return std::strcmp(file_->format->iformat->name, "wav") == 0 &&
         (codec == AV_CODEC_ID_PCM_S16LE || codec == AV_CODEC_ID_PCM_U8);
}

bool AudioDecoder::SwitchToFfmpeg() {
  const double missing = sndfile_->seconds() - static_cast<double>(frames_out_) / sample_rate_;
  sndfile_.reset();
  if (missing < 1.0) return false;  // the end of the audio, give or take a frame
  std::string unused;
  file_ = File::Open(path_, &unused);
  if (!file_ || file_->frame->sample_rate != sample_rate_ ||
      file_->frame->ch_layout.nb_channels != channels_) {
    file_.reset();
    return false;
  }
  // FFmpeg decodes from the start: what was handed out already is decoded again and dropped.
  for (int64_t skipped = 0; skipped < frames_out_;) {
    const int64_t left = frames_out_ - skipped;
    const std::vector<uint8_t>& block = ReadBlock();
    if (block.empty()) return false;
    const auto frames = static_cast<int64_t>(block.size()) / (2 * channels_);
    if (frames > left) {  // keep the part of this block past the skipped frames
      block_.erase(block_.begin(), block_.begin() + static_cast<ptrdiff_t>(2 * channels_ * left));
      frames_out_ += frames - left;
      return true;
    }
    skipped += frames;
  }
  block_.clear();
  return true;
}

const std::vector<uint8_t>& AudioDecoder::ReadBlock() {
  if (sndfile_) {
    sndfile_->ReadBlock(kBlockFrames, &block_);
    if (!block_.empty()) {
      frames_out_ += static_cast<int64_t>(block_.size()) / (2 * channels_);
      return block_;
    }
    // libsndfile stops at the first damaged frame; FFmpeg skips it and goes on.
    if (!SwitchToFfmpeg()) {
      block_.clear();
      return block_;
    }
    if (!block_.empty()) return block_;
  }
  if (!file_) {
    block_.clear();
    return block_;
  }
  block_.clear();
  File& f = *file_;
  if (!f.have_frame) {
    if (!f.NextFrame()) return block_;
    f.have_frame = true;
    f.frame_used = 0;
  }
  const AVFrame& frame = *f.frame;
  // The fingerprinter's stream has one format from start to end: audio that changes its rate or
  // channel count part way ends there.
  if (frame.sample_rate != sample_rate_ || frame.ch_layout.nb_channels != channels_) {
    f.ended = true;
    f.have_frame = false;
    return block_;
  }
  const int count = std::min(kBlockFrames, frame.nb_samples - f.frame_used);
  if (!AppendPcm16(frame.extended_data, frame.format, channels_, f.frame_used, count, &block_)) {
    f.ended = true;  // a sample format no decoder of audio gives: nothing to hand out
    f.have_frame = false;
    return block_;
  }
  f.frame_used += count;
  if (f.frame_used >= frame.nb_samples) {
    Ff().av_frame_unref(f.frame.get());
    f.have_frame = false;
  }
  return block_;
}

}  // namespace pelk::cli
