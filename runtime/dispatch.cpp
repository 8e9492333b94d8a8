#include "runtime/dispatch.h"

namespace pelk {
namespace {

char16_t AsciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c; }

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

bool KindMatches(uint16_t kind, uint16_t flags) {
  switch (kind) {
    case DISPATCH_METHOD: return (flags & DISPATCH_METHOD) != 0;
    case DISPATCH_PROPERTYGET: return (flags & DISPATCH_PROPERTYGET) != 0;
    case DISPATCH_PROPERTYPUT: return (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    default: return false;
  }
}

}  // namespace

const DispatchEntry* DispatchTable::Find(DISPID id, uint16_t flags, bool* id_known) const {
  for (const DispatchTable* t = this; t; t = t->base) {
    for (const DispatchEntry& e : t->entries) {
      if (e.id != id) continue;
      if (id_known) *id_known = true;
      if (KindMatches(e.kind, flags)) return &e;
    }
  }
  return nullptr;
}

const DispatchEntry* DispatchTable::FindName(std::u16string_view name) const {
  for (const DispatchTable* t = this; t; t = t->base) {
    for (const DispatchEntry& e : t->entries) {
      if (EqualsIgnoringCase(e.name, name)) return &e;
    }
  }
  return nullptr;
}

HRESULT DispatchGetIDsOfNames(const DispatchTable& table, OLECHAR** names, uint32_t count,
                              DISPID* ids) {
  if (!names || !ids) return E_POINTER;
  if (count == 0) return S_OK;
  HRESULT hr = S_OK;
  const DispatchEntry* entry =
      names[0] ? table.FindName(std::u16string_view(names[0])) : nullptr;
  ids[0] = entry ? entry->id : DISPID_UNKNOWN;
  if (!entry) hr = DISP_E_UNKNOWNNAME;
  for (uint32_t i = 1; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT DispatchInvoke(const DispatchTable& table, void* self, DISPID id, uint16_t flags,
                       DISPPARAMS* params, VARIANT* result, uint32_t* arg_error) {
  if (!params) return E_INVALIDARG;
  bool id_known = false;
  const DispatchEntry* entry = table.Find(id, flags, &id_known);
  if (!entry || !entry->thunk) return DISP_E_MEMBERNOTFOUND;
  if (params->cArgs > 0 && !params->rgvarg) return E_INVALIDARG;
  // The only named argument there is: the value of a property put, which comes first.
  if (entry->kind == DISPATCH_PROPERTYPUT) {
    if (params->cNamedArgs != 1 || !params->rgdispidNamedArgs ||
        params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
      return DISP_E_PARAMNOTFOUND;
    }
  } else if (params->cNamedArgs != 0) {
    return DISP_E_NONAMEDARGS;
  }
  return entry->thunk(self, InvokeFrame{params, result, arg_error});
}

}  // namespace pelk
