// The manager's side of the album engine's progress callback: forwards each status to the
// manager's AlbumIDStatusUpdate event and answers Abort also when the manager is no longer
// initialized, so grouping and acceptance stop at a shut-down as the identifying loop does.
//
// Lifetime: the manager owns the one sink in a std::shared_ptr and detaches it on destruction;
// a collection that still holds it weakly (and locked it on another thread) then gets Abort and
// reaches nothing. Detach waits for a status being delivered to finish.
#pragma once

#include <mutex>

#include "model/album_status_sink.h"

namespace pelk {

class CPELKSonquixManager;

class ManagerAlbumSink final : public AlbumStatusSink {
 public:
  explicit ManagerAlbumSink(CPELKSonquixManager* manager) : manager_(manager) {}

  int32_t AlbumIDStatusUpdate(int32_t status, std::u16string_view file_name, int32_t current_file,
                              int32_t total_files) override;
  void Detach();

 private:
  // Recursive: a host answering a status may start another status on the same thread.
  std::recursive_mutex mutex_;
  CPELKSonquixManager* manager_;
};

}  // namespace pelk
