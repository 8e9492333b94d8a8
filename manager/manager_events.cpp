#include "manager/manager_events.h"

namespace pelk {

int32_t ManagerEvents::TrackIDStatusUpdate(int32_t status, std::u16string_view file_name) {
  int32_t abort = 0;
  EventArgs args;
  args.I4(status).Text(file_name).OutI4(&abort);
  point_.Fire(kEventTrackIDStatusUpdate, args);
  return abort;
}

int32_t ManagerEvents::AlbumIDStatusUpdate(int32_t status, std::u16string_view file_name,
                                           int32_t current_file, int32_t total_files) {
  int32_t abort = 0;
  EventArgs args;
  args.I4(status).Text(file_name).I4(current_file).I4(total_files).OutI4(&abort);
  point_.Fire(kEventAlbumIDStatusUpdate, args);
  return abort;
}

void ManagerEvents::TrackIDComplete(int32_t match_code, IPelkFileInfo* info_in,
                                    IPelkFileInfoList* list_out) {
  EventArgs args;
  args.I4(match_code).Object(info_in).Object(list_out);
  point_.Fire(kEventTrackIDComplete, args);
}

void ManagerEvents::AlbumIDComplete(int32_t match_code, IPelkFileInfoList* list_in,
                                    IPelkFileInfoLists* lists_out) {
  EventArgs args;
  args.I4(match_code).Object(list_in).Object(lists_out);
  point_.Fire(kEventAlbumIDComplete, args);
}

template <class I>
int32_t ManagerEvents::FireObjectRequest(DISPID id, std::u16string_view file_name,
                                         ComPtr<I>* result) {
  int32_t abort = 0;
  IDispatch* object = nullptr;  // filled by a sink with a referenced object
  EventArgs args;
  args.Text(file_name).OutObject(&object).OutI4(&abort);
  point_.Fire(id, args);
  ComPtr<IDispatch> returned = ComPtr<IDispatch>::Adopt(object);
  if (result) *result = returned.As<I>();
  return abort;
}

int32_t ManagerEvents::GetFingerprint(std::u16string_view file_name,
                                      ComPtr<IPelkSonquixFingerprint>* fingerprint) {
  return FireObjectRequest(kEventGetFingerprint, file_name, fingerprint);
}

int32_t ManagerEvents::GetTag(std::u16string_view file_name, ComPtr<IFileTag>* tag) {
  return FireObjectRequest(kEventGetTag, file_name, tag);
}

int32_t ManagerEvents::FireListProgress(DISPID id, IPelkFileInfoList* list,
                                        const LibraryCounters& c) {
  int32_t abort = 0;
  EventArgs args;
  args.Object(list).I4(c.complete).I4(c.total).I4(c.exact).I4(c.fuzzy).I4(c.no_match);
  args.I4(c.error).OutI4(&abort);
  point_.Fire(id, args);
  return abort;
}

int32_t ManagerEvents::LibraryIDListStarted(IPelkFileInfoList* list,
                                            const LibraryCounters& counters) {
  return FireListProgress(kEventLibraryIDListStarted, list, counters);
}

int32_t ManagerEvents::LibraryIDListComplete(IPelkFileInfoList* list,
                                             const LibraryCounters& counters) {
  return FireListProgress(kEventLibraryIDListComplete, list, counters);
}

void ManagerEvents::LibraryIDComplete(const LibraryCounters& c) {
  EventArgs args;
  args.I4(c.complete).I4(c.total).I4(c.exact).I4(c.fuzzy).I4(c.no_match).I4(c.error);
  point_.Fire(kEventLibraryIDComplete, args);
}

int32_t ManagerEvents::GetFingerprintInfo(std::u16string_view file_name, IPelkFileInfo* info) {
  int32_t abort = 0;
  EventArgs args;
  args.Text(file_name).Object(info).OutI4(&abort);
  point_.Fire(kEventGetFingerprintInfo, args);
  return abort;
}

int32_t ManagerEvents::GetTagInfo(std::u16string_view file_name, IPelkFileInfo* info) {
  int32_t abort = 0;
  EventArgs args;
  args.Text(file_name).Object(info).OutI4(&abort);
  point_.Fire(kEventGetTagInfo, args);
  return abort;
}

}  // namespace pelk
