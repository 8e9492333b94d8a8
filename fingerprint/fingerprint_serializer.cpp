#include "fingerprint/fingerprint_serializer.h"

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string_view>

#include "fingerprint/sonquix_fingerprint.h"
#include "seal/sealed_container.h"
#include "xml/query_xml.h"

namespace pelk {
namespace {

namespace query_xml = text::query_xml;

constexpr const char* kSealTag = "KZFP";

// The query document every serialized fingerprint is filled into.
constexpr const char* kQueryTemplate =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
    "<KZFPX_FP_QUERY VERSION=\"1.0\">\n"
    "  <ALGORITHM>\n"
    "    <NAME>Wavelattice</NAME>\n"
    "    <VERSION>1.1</VERSION>\n"
    "    <QUERY>Wavelattice&quot;1.1</QUERY>\n"
    "  </ALGORITHM>\n"
    "  <FP_BLOCKS>\n"
    "    <FP_BLOCK TYPE=\"SIGNED_INT_16\" COUNT=\"30\" ENCODING=\"ASCII\" SEPARATOR=\" \">0"
    "</FP_BLOCK>\n"
    "  </FP_BLOCKS>\n"
    "</KZFPX_FP_QUERY>\n";

constexpr std::string_view kNamePath = "ALGORITHM/NAME";
constexpr std::string_view kVersionPath = "ALGORITHM/VERSION";
constexpr std::string_view kQueryPath = "ALGORITHM/QUERY";
constexpr std::string_view kBlockPath = "FP_BLOCKS/FP_BLOCK";

// Sets the text of an existing element: E_FAIL when it is missing or the set fails,
// E_OUTOFMEMORY when memory runs out.
HRESULT FillText(text::XmlElement* root, std::string_view path, std::string_view value) {
  const HRESULT hr = query_xml::SetTextByPath(root, path, value, /*create=*/false);
  if (hr == query_xml::kOutOfMemory) return E_OUTOFMEMORY;
  return hr == S_OK ? S_OK : E_FAIL;
}

// The engine reader's escapes: attribute values need " ' & <, element text & <.
void AppendEscaped(std::string_view value, bool attribute, std::string* out) {
  for (char c : value) {
    switch (c) {
      case '&':
        out->append("&amp;");
        break;
      case '<':
        out->append("&lt;");
        break;
      case '"':
        attribute ? out->append("&quot;") : out->append(1, c);
        break;
      case '\'':
        attribute ? out->append("&apos;") : out->append(1, c);
        break;
      default:
        out->push_back(c);
    }
  }
}

}  // namespace

std::string RebuiltFingerprintDocument(std::string_view type, std::string_view version,
                                       std::string_view signature) {
  std::string text = "<FINGERPRINT ALG=\"";
  AppendEscaped(type, /*attribute=*/true, &text);
  text += "\" VERSION=\"";
  AppendEscaped(version, /*attribute=*/true, &text);
  text += "\">\t<DATA TYPE=\"SIGNED_INT_16\" COUNT=\"30\" ENCODING=\"ASCII\" SEPARATOR=\" \">";
  AppendEscaped(signature, /*attribute=*/false, &text);
  text += "</DATA></FINGERPRINT>";
  return text;
}

HRESULT SerializeFingerprint(IPelkSonquixFingerprint* fingerprint, BSTR* serialized) {
  if (!fingerprint) return E_INVALIDARG;
  if (!serialized) return E_POINTER;
  try {
    Bstr type, version, signature;
    HRESULT hr = fingerprint->get_Type(type.Out());
    if (SUCCEEDED(hr)) hr = fingerprint->get_Version(version.Out());
    if (SUCCEEDED(hr)) hr = fingerprint->get_Signature(signature.Out());
    if (FAILED(hr)) return hr;

    std::unique_ptr<text::XmlElement> root;
    hr = query_xml::Parse(kQueryTemplate, &root);
    if (hr == query_xml::kOutOfMemory) return E_OUTOFMEMORY;
    if (hr != S_OK) return E_FAIL;

    const std::string type_text = type.Utf8();
    const std::string version_text = version.Utf8();
    hr = FillText(root.get(), kBlockPath, signature.Utf8());
    if (hr == S_OK) hr = FillText(root.get(), kNamePath, type_text);
    if (hr == S_OK) hr = FillText(root.get(), kVersionPath, version_text);
    if (hr == S_OK) hr = FillText(root.get(), kQueryPath, type_text + '"' + version_text);
    if (hr != S_OK) return hr;

    std::string document;
    if (query_xml::Write(root.get(), /*declaration=*/true, /*indent=*/true,
                         /*line_feeds=*/true, &document) != S_OK) {
      return E_FAIL;
    }
    std::string sealed;
    if (text::Seal(kSealTag, document.c_str(), text::kSealEnciphered, &text::kFingerprintKey,
                   &sealed) != S_OK) {
      return E_FAIL;
    }
    if (sealed.empty()) return S_OK;
    BSTR result = AllocBstrUtf8(sealed);
    if (!result) return E_OUTOFMEMORY;
    *serialized = result;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT DeserializeFingerprint(BSTR serialized, IPelkSonquixFingerprint** fingerprint) {
  if (!serialized) return E_INVALIDARG;
  if (!fingerprint) return E_POINTER;
  *fingerprint = nullptr;
  try {
    std::string document;
    if (text::Open(kSealTag, BstrToUtf8(serialized).c_str(), &text::kFingerprintKey, &document) !=
        S_OK) {
      return E_FAIL;
    }
    std::unique_ptr<text::XmlElement> root;
    if (query_xml::Parse(document.c_str(), &root) != S_OK) return E_FAIL;
    const std::optional<std::string_view> signature = query_xml::TextAt(root.get(), kBlockPath);
    const std::optional<std::string_view> type = query_xml::TextAt(root.get(), kNamePath);
    const std::optional<std::string_view> version = query_xml::TextAt(root.get(), kVersionPath);
    if (!signature || !type || !version) return E_FAIL;

    const std::string rebuilt = RebuiltFingerprintDocument(*type, *version, *signature);
    if (rebuilt.size() > static_cast<size_t>(INT32_MAX)) return E_FAIL;
    ComPtr<CPelkSonquixFingerprint> object = MakeObject<CPelkSonquixFingerprint>();
    if (!object) return E_OUTOFMEMORY;
    const HRESULT hr = object->SetFPData(rebuilt.data(), static_cast<int32_t>(rebuilt.size()));
    if (FAILED(hr)) return hr;
    *fingerprint = ComPtr<IPelkSonquixFingerprint>(object).Detach();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace pelk
