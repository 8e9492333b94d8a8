// Feeds arbitrary bytes to the engine XML reader. Whatever it accepts must write out, read
// back, and be stable after one round (the first round may drop leading white space of texts).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "xml/engine_xml.h"

namespace xml = pelk::text::engine_xml;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  std::unique_ptr<pelk::text::XmlElement> root;
  if (xml::Parse(text, size, &root) != xml::kOk) {
    if (root != nullptr) __builtin_trap();  // a failed parse hands out no tree
    return 0;
  }
  // Any path, taken from the input itself, must be looked up without harm.
  (void)xml::Value(root.get(), std::string_view(text, size < 48 ? size : 48));

  std::string first, second, third;
  std::unique_ptr<pelk::text::XmlElement> again;
  if (xml::Write(root.get(), false, false, false, &first) != xml::kOk) __builtin_trap();
  if (xml::Parse(first.c_str(), &again) != xml::kOk) __builtin_trap();
  if (xml::Write(again.get(), false, false, false, &second) != xml::kOk) __builtin_trap();
  if (xml::Parse(second.c_str(), &again) != xml::kOk) __builtin_trap();
  if (xml::Write(again.get(), false, false, false, &third) != xml::kOk) __builtin_trap();
  if (second != third) __builtin_trap();

  std::string pretty;
  if (xml::Write(root.get(), true, true, true, &pretty) != xml::kOk) __builtin_trap();
  if (xml::Parse(pretty.c_str(), &again) != xml::kOk) __builtin_trap();
  xml::Free(root);
  return 0;
}
