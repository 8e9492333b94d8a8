#include "catalog/control_classes.h"

#include "catalog/catalog_control.h"
#include "catalog/disc_tag_builder.h"
#include "catalog/file_tag.h"

namespace pelk::catalog {
namespace {

constexpr RegistrationScript kControlScript{1, "PelkControl.LookupControl.1",
                                            "PelkControl.LookupControl",
                                            "PELKControl Lookup Control", "both", true};
constexpr RegistrationScript kExtDataScript{2, "PelkControl.ExtData.1", "PelkControl.ExtData",
                                            "PELKControl Extended Data", "both", true};

constexpr RegistrationScript kFileTagScript{3, "PelkControl.FileTag.1", "PelkControl.FileTag",
                                            "PELKControl File Tag", "both", true};
constexpr RegistrationScript kMediaTagScript{4, "PelkControl.MediaFileTag.1",
                                             "PelkControl.MediaFileTag",
                                             "PELKControl Media File Tag", "both", true};
constexpr RegistrationScript kBuilderScript{5, "PelkControl.DiscTagBuilder.1",
                                            "PelkControl.DiscTagBuilder",
                                            "PELKControl Disc Tag Builder", "both", true};

// The control's objects are never aggregated.
template <HRESULT (*Make)(REFIID, void**)>
HRESULT NoAggregation(IUnknown* outer, REFIID iid, void** object) {
  if (outer) {
    if (object) *object = nullptr;
    return CLASS_E_NOAGGREGATION;
  }
  return Make(iid, object);
}

HRESULT MakeFileTag(REFIID iid, void** object) { return CreateCatalogFileTag(false, iid, object); }
HRESULT MakeMediaTag(REFIID iid, void** object) { return CreateCatalogFileTag(true, iid, object); }

HRESULT CreateControl(IUnknown* outer, REFIID iid, void** object) {
  return CatalogControl::CreateInstance(outer, iid, object);
}

const ClassEntry kClasses[] = {
    {CLSID_PelkLookupControl, "PelkLookupControl", &CreateControl, &kControlScript},
    {CLSID_PelkExtData, "PelkExtData", &NoAggregation<&CreateCatalogExtData>, &kExtDataScript},
    {CLSID_PelkFileTag, "PelkFileTag", &NoAggregation<&MakeFileTag>, &kFileTagScript},
    {CLSID_PelkMediaFileTag, "PelkMediaFileTag", &NoAggregation<&MakeMediaTag>,
     &kMediaTagScript},
    {CLSID_PelkDiscTagBuilder, "PelkDiscTagBuilder", &NoAggregation<&CreateCatalogDiscTagBuilder>,
     &kBuilderScript},
};

}  // namespace

std::span<const ClassEntry> ControlClassTable() { return kClasses; }

}  // namespace pelk::catalog
