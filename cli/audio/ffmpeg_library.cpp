#include "cli/audio/ffmpeg_library.h"

#include <dlfcn.h>

#include <mutex>

namespace pelk::cli {
namespace {

#define PELK_SONAME(library, major) "lib" #library ".so." AV_STRINGIFY(major)

struct Loaded {
  FfmpegLibrary functions;
  std::string error;  // empty when every function was found
};

Loaded Load() {
  Loaded loaded;
  // Loaded for the life of the process: decoders may run on any thread until it exits.
  void* const avutil = dlopen(PELK_SONAME(avutil, LIBAVUTIL_VERSION_MAJOR), RTLD_LAZY);
  void* const avcodec = dlopen(PELK_SONAME(avcodec, LIBAVCODEC_VERSION_MAJOR), RTLD_LAZY);
  void* const avformat = dlopen(PELK_SONAME(avformat, LIBAVFORMAT_VERSION_MAJOR), RTLD_LAZY);
  if (!avutil || !avcodec || !avformat) {
    const char* why = dlerror();
    loaded.error =
        std::string("FFmpeg's libraries cannot be loaded (") + (why ? why : "unknown reason") + ")";
    return loaded;
  }
#define PELK_FFMPEG_LOAD(library, name)                                               \
  loaded.functions.name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name)); \
  if (!loaded.functions.name && loaded.error.empty()) {                               \
    loaded.error = "FFmpeg's libraries lack " #name;                                  \
  }
  PELK_FFMPEG_FUNCTIONS(PELK_FFMPEG_LOAD)
#undef PELK_FFMPEG_LOAD
  // FFmpeg's own messages would interleave with the command's one error line per file.
  if (loaded.error.empty()) loaded.functions.av_log_set_level(AV_LOG_QUIET);
  return loaded;
}

}  // namespace

const FfmpegLibrary* LoadFfmpeg(std::string* error) {
  static std::once_flag once;
  static Loaded loaded;
  std::call_once(once, [] { loaded = Load(); });
  if (!loaded.error.empty()) {
    *error = loaded.error;
    return nullptr;
  }
  return &loaded.functions;
}

}  // namespace pelk::cli
