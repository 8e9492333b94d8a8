#include "catalog/control_classes.h"

#include "catalog/catalog_control.h"

namespace pelk::catalog {
namespace {

constexpr RegistrationScript kControlScript{1, "PelkControl.LookupControl.1",
                                            "PelkControl.LookupControl",
                                            "PELKControl Lookup Control", "both", true};
constexpr RegistrationScript kExtDataScript{2, "PelkControl.ExtData.1", "PelkControl.ExtData",
                                            "PELKControl Extended Data", "both", true};

HRESULT CreateControl(IUnknown* outer, REFIID iid, void** object) {
  return CatalogControl::CreateInstance(outer, iid, object);
}

HRESULT CreateExtData(IUnknown* outer, REFIID iid, void** object) {
  if (outer) {
    if (object) *object = nullptr;
    return CLASS_E_NOAGGREGATION;
  }
  return CreateCatalogExtData(iid, object);
}

const ClassEntry kClasses[] = {
    {CLSID_PelkLookupControl, "PelkLookupControl", &CreateControl, &kControlScript},
    {CLSID_PelkExtData, "PelkExtData", &CreateExtData, &kExtDataScript},
};

}  // namespace

std::span<const ClassEntry> ControlClassTable() { return kClasses; }

}  // namespace pelk::catalog
