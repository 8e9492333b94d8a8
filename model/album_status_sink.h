// Where the album engine reports its progress. The model sits below the manager and must not
// know it; the manager implements this and hands it to a list of lists, which fires through it
// the album status events of grouping and of accepting an album.
//
// Lifetime: the owner keeps its sink in a std::shared_ptr for as long as it lives. Grouping
// (CPelkFileInfoLists::BuildAlbumLists) borrows a plain pointer for the one call; acceptance
// (SetOwnerManager) keeps only a std::weak_ptr, because the collection may be handed to the host
// and outlive its manager: from then on it fires nothing.
#pragma once

#include <cstdint>
#include <string_view>

namespace pelk {

struct AlbumStatusSink {
  virtual ~AlbumStatusSink() = default;

  // Delivers one AlbumIDStatusUpdate (a PelkSonquixStatus value, the record's full path, and the
  // 1-based position within total_files) and returns the Abort value the host left; non-zero
  // makes the firing operation end with E_ABORT. An implementation folds its own shut-down state
  // into that answer (a manager that is no longer initialized answers non-zero).
  // Called on the thread of the operation, with the list of lists' lock held: a host that calls
  // back into the same collection from another thread while answering would deadlock.
  virtual int32_t AlbumIDStatusUpdate(int32_t status, std::u16string_view file_name,
                                      int32_t current_file, int32_t total_files) = 0;
};

}  // namespace pelk
