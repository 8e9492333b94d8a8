// Firing the manager's eleven events through its connection point, one helper per event.
// Helpers of events with an Abort argument return the Abort value the sinks left (0 when no
// sink is advised); the firing code's variable starts at 0 for every event.
#pragma once

#include <string_view>

#include "pelk/manager_interfaces.h"
#include "runtime/com_ptr.h"
#include "runtime/connection_point.h"

namespace pelk {

// The six counters of a library run, in event argument order.
struct LibraryCounters {
  int32_t complete = 0;
  int32_t total = 0;
  int32_t exact = 0;
  int32_t fuzzy = 0;
  int32_t no_match = 0;
  int32_t error = 0;
};

class ManagerEvents {
 public:
  explicit ManagerEvents(ConnectionPoint& point) : point_(point) {}

  int32_t TrackIDStatusUpdate(int32_t status, std::u16string_view file_name);
  int32_t AlbumIDStatusUpdate(int32_t status, std::u16string_view file_name,
                              int32_t current_file, int32_t total_files);
  void TrackIDComplete(int32_t match_code, IPelkFileInfo* info_in, IPelkFileInfoList* list_out);
  void AlbumIDComplete(int32_t match_code, IPelkFileInfoList* list_in,
                       IPelkFileInfoLists* lists_out);
  // *fingerprint receives what a sink handed back (null when none did).
  int32_t GetFingerprint(std::u16string_view file_name,
                         ComPtr<IPelkSonquixFingerprint>* fingerprint);
  int32_t GetTag(std::u16string_view file_name, ComPtr<IFileTag>* tag);
  int32_t LibraryIDListStarted(IPelkFileInfoList* list, const LibraryCounters& counters);
  int32_t LibraryIDListComplete(IPelkFileInfoList* list, const LibraryCounters& counters);
  void LibraryIDComplete(const LibraryCounters& counters);
  int32_t GetFingerprintInfo(std::u16string_view file_name, IPelkFileInfo* info);
  int32_t GetTagInfo(std::u16string_view file_name, IPelkFileInfo* info);

 private:
  int32_t FireListProgress(DISPID id, IPelkFileInfoList* list, const LibraryCounters& counters);
  template <class I>
  int32_t FireObjectRequest(DISPID id, std::u16string_view file_name, ComPtr<I>* result);

  ConnectionPoint& point_;
};

}  // namespace pelk
