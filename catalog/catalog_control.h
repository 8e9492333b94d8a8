// Our lookup control: the control object, its lookup engine (kind 7), its tracer (kind 8) and
// its anchor (kind 9), extended data and data-list elements, all over one catalogue session.
//
// Besides the operations every lookup control answers, the control offers IPelkCatalogControl
// (pelk/catalog_control.h, public) to choose the catalogue file and read the tracer's record.
#pragma once

#include <memory>

#include "catalog/catalog_session.h"
#include "control/lookup_control.h"
#include "pelk/catalog_control.h"
#include "runtime/object.h"

namespace pelk::catalog {

inline constexpr char16_t kControlVersion[] = u"PELKControl 2.6.0.10";

class CatalogControl final
    : public Object<CatalogControl, Dual<ILookupControl>, Dual<IPelkCatalogControl>> {
 public:
  CatalogControl();
  HRESULT get_Version(BSTR* version) override;
  HRESULT GetControlObject(int32_t kind, IUnknown** object) override;
  HRESULT GetSingleMatch(IDiscInfo** disc) override;
  HRESULT GetMatchCollection(IDiscList** discs) override;
  HRESULT GetDataListElement(int32_t list_id, int32_t level, IExtData* ext_data,
                             IDataListElement** element) override;
  HRESULT OpenCatalog(BSTR path) override;
  HRESULT get_CatalogPath(BSTR* path) override;
  HRESULT get_TraceLog(BSTR* log) override;

  const std::shared_ptr<CatalogSession>& Session() const { return session_; }

 private:
  std::shared_ptr<CatalogSession> session_;
  ComPtr<ILookupEngine> engine_;
};

// The creatable objects that do not need a control: extended data, and (in catalog_tags)
// the tags and the disc-tag builder.
HRESULT CreateCatalogExtData(REFIID iid, void** object);

}  // namespace pelk::catalog
