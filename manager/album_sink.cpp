#include "manager/album_sink.h"

#include "manager/sonquix_manager.h"

namespace pelk {

int32_t ManagerAlbumSink::AlbumIDStatusUpdate(int32_t status, std::u16string_view file_name,
                                              int32_t current_file, int32_t total_files) {
  std::lock_guard lock(mutex_);
  if (!manager_) return 1;
  const int32_t abort =
      manager_->Events().AlbumIDStatusUpdate(status, file_name, current_file, total_files);
  if (abort == 0 && !manager_->IsInitialized()) return 1;
  return abort;
}

void ManagerAlbumSink::Detach() {
  std::lock_guard lock(mutex_);
  manager_ = nullptr;
}

}  // namespace pelk
