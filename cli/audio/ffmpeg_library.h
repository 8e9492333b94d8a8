// FFmpeg's libraries, loaded when the first file needs decoding rather than at process start:
// Debian's builds bring in about 130 shared libraries (every encoder, network and hardware
// library they were built with), whose loading costs tens of milliseconds of CPU. A command that
// decodes nothing (`--version`, WAV files the module reads itself) never loads them.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <string>

namespace pelk::cli {

// The functions the host's decoder calls, under their FFmpeg names.
#define PELK_FFMPEG_FUNCTIONS(X)            \
  X(avutil, av_log_set_level)               \
  X(avutil, av_dict_set)                    \
  X(avutil, av_dict_free)                   \
  X(avutil, av_frame_alloc)                 \
  X(avutil, av_frame_free)                  \
  X(avutil, av_frame_unref)                 \
  X(avutil, av_strerror)                    \
  X(avutil, av_malloc)                      \
  X(avutil, av_freep)                       \
  X(avutil, av_max_alloc)                   \
  X(avcodec, avcodec_find_decoder)          \
  X(avcodec, avcodec_get_name)              \
  X(avcodec, avcodec_alloc_context3)        \
  X(avcodec, avcodec_free_context)          \
  X(avcodec, avcodec_parameters_to_context) \
  X(avcodec, avcodec_open2)                 \
  X(avcodec, avcodec_send_packet)           \
  X(avcodec, avcodec_receive_frame)         \
  X(avcodec, av_packet_alloc)               \
  X(avcodec, av_packet_free)                \
  X(avcodec, av_packet_unref)               \
  X(avformat, avformat_alloc_context)       \
  X(avformat, avformat_open_input)          \
  X(avformat, avformat_close_input)         \
  X(avformat, avformat_find_stream_info)    \
  X(avformat, av_find_best_stream)          \
  X(avformat, av_read_frame)                \
  X(avformat, avio_alloc_context)           \
  X(avformat, avio_context_free)

struct FfmpegLibrary {
#define PELK_FFMPEG_MEMBER(library, name) decltype(&::name) name = nullptr;
  PELK_FFMPEG_FUNCTIONS(PELK_FFMPEG_MEMBER)
#undef PELK_FFMPEG_MEMBER
};

// The loaded libraries (the major versions this host was compiled against), loaded once per
// process with FFmpeg's own logging silenced; null with *error saying why they cannot be loaded.
// Thread-safe.
const FfmpegLibrary* LoadFfmpeg(std::string* error);

}  // namespace pelk::cli
