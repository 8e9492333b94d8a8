#include "manager/manager_error.h"

#include "pelk/manager_interfaces.h"
#include "runtime/error_info.h"

namespace pelk {

std::u16string_view ManagerErrorText(HRESULT hr) {
  if (!FAILED(hr) || HRESULT_FACILITY(hr) != ERR_DomainSonquix) return {};
  switch (hr) {
    case PELKSonquix_UnsupportedFileFormat: return u"Unsupported file format";
    case PELKSonquix_UnsupportedAudioFormat: return u"Unsupported audio format";
    case PELKSonquix_UnknownAlgorithm: return u"Unknown algorithm";
    case PELKSonquix_UnknownSetting: return u"Unknown setting";
    case PELKSonquix_PELKControlVersion: return u"Bad PELKControl version";
    case PELKSonquix_TextHintsFailed: return u"Text hints failed";
    case PELKSonquix_NoTextAvailable: return u"No text available";
    default: return u"Unknown error";
  }
}

HRESULT SetManagerError(HRESULT hr) {
  const std::u16string_view text = ManagerErrorText(hr);
  if (text.empty()) return hr;
  return ReportError(hr, IPELKSonquixManager::kIid, u"PelkSonquixVXT.PELKVXTSonquixManager.1",
                     text);
}

}  // namespace pelk
