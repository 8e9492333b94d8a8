// The catalogue interface of our lookup control (libpelkcontrol.so): which catalogue file the
// control answers from, and the tracer's record of its last lookups.
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
  static constexpr IID kIid = MakeGuid("5E4A6C1B-7D20-4F3A-9B8E-2C61D0A4F7E3");
  /// The interface this one extends.
  using Base = IDispatch;
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
