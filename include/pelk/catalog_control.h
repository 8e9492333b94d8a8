/// @file
/// The interfaces of our lookup control (libpelkcontrol.so) beyond those every control has: which
/// catalogue file the control answers from, and writing tags into audio files.
#pragma once

#include "control/lookup_control.h"
#include "runtime/dispatch.h"
#include "runtime/unknown.h"

namespace pelk::catalog {

/// @brief The catalogue side of our lookup control, answered by the object of
/// CLSID_PelkLookupControl besides ILookupControl.
///
/// A host opens a catalogue once, before it hands the control to IPELKSonquixManager::Initialize,
/// and does not switch catalogues while the manager works (a library run, an asynchronous call).
/// Reach it with QueryInterface on the control: `control.As<catalog::IPelkCatalogControl>()`.
struct IPelkCatalogControl : IDispatch {
  /// The interface identifier.
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("5E4A6C1B-7D20-4F3A-9B8E-2C61D0A4F7E3");
  /// The interface this one extends.
  using Base = IDispatch;  ///< The interface this one extends.
  /// Opens (creating when absent) the catalogue at path; an empty path means $PELK_CATALOG, else
  /// $XDG_DATA_HOME/pelk/catalog.db, else ~/.local/share/pelk/catalog.db. E_FAIL with error
  /// information describing why when the file is refused (not a catalogue, a newer schema).
  virtual HRESULT OpenCatalog(BSTR path) = 0;
  /// The full path of the open catalogue (empty before OpenCatalog). The caller frees it.
  virtual HRESULT get_CatalogPath(BSTR* path) = 0;
  /// The tracer's record: one line per step, "name<TAB>microseconds" (or "name<TAB>open").
  virtual HRESULT get_TraceLog(BSTR* log) = 0;
  /// The late-bound description of the operations above.
  static const DispatchTable& Table();
};

inline const DispatchTable& IPelkCatalogControl::Table() {
  using I = IPelkCatalogControl;
  static const DispatchEntry entries[] = {
      DispEntry<&I::OpenCatalog>(u"OpenCatalog", 1),
      DispEntry<&I::get_CatalogPath>(u"CatalogPath", 2, DISPATCH_PROPERTYGET),
      DispEntry<&I::get_TraceLog>(u"TraceLog", 3, DISPATCH_PROPERTYGET),
  };
  static const DispatchTable table{I::kIid, entries, nullptr};
  return table;
}

}  // namespace pelk::catalog

namespace pelk {

/// @brief Writing a tag into an audio file: answered by the tags of our lookup control
/// (CLSID_PelkFileTag, CLSID_PelkMediaFileTag, and the tags the manager reads).
///
/// The write is atomic: a copy in the same folder is written, flushed and renamed over the file,
/// keeping its permission bits. Use a tag from one thread at a time.
struct IFileTagStore : IDispatch {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("362D9770-3461-4796-AD3B-DD658B948854");
  /// The interface this one extends.
  using Base = IDispatch;
  /// Writes the tag's texts and named fields into the file's tags. A null or empty file_name
  /// means the file the tag was loaded from or attached to; E_INVALIDARG when there is none;
  /// E_ACCESSDENIED for a file without write permission. flags is 0. The tag stays bound to the
  /// file it was bound to.
  virtual HRESULT SaveToFile(BSTR file_name, int32_t flags) = 0;
  /// The file the tag was last loaded from or attached to; empty when none.
  virtual HRESULT get_FileName(BSTR* file_name) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

inline const DispatchTable& IFileTagStore::Table() {
  static const DispatchEntry entries[] = {
      DispEntry<&IFileTagStore::SaveToFile>(u"SaveToFile", 1),
      DispEntry<&IFileTagStore::get_FileName>(u"FileName", 2, DISPATCH_PROPERTYGET),
  };
  static const DispatchTable table{IFileTagStore::kIid, entries, nullptr};
  return table;
}

}  // namespace pelk
