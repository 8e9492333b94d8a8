// Feeds arbitrary bytes to the query XML reader. Whatever it accepts must write out and read
// back to an equal tree after one round (the first round may drop leading white space of
// texts); an edit by a path taken from the input must keep the tree writable and readable.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "xml/query_xml.h"

namespace xml = pelk::text::query_xml;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  std::unique_ptr<pelk::text::XmlElement> root;
  if (xml::Parse(text, size, &root) != S_OK) {
    if (root != nullptr) __builtin_trap();  // a failed parse hands out no tree
    return 0;
  }
  std::string first, second;
  std::unique_ptr<pelk::text::XmlElement> once, twice;
  if (xml::Write(root.get(), false, false, false, &first) != S_OK) __builtin_trap();
  if (xml::Parse(first.c_str(), &once) != S_OK) __builtin_trap();
  if (xml::Write(once.get(), false, false, false, &second) != S_OK) __builtin_trap();
  if (xml::Parse(second.c_str(), &twice) != S_OK) __builtin_trap();
  if (!xml::Equal(once.get(), twice.get())) __builtin_trap();

  constexpr std::string_view kSpecial = "<&>\"'";
  const std::string_view path(text, size < 32 ? size : 32);
  (void)xml::TextAt(root.get(), path);
  const HRESULT set = xml::SetTextByPath(root.get(), path, kSpecial, true);
  if (set != S_OK && set != xml::kBadArgument) __builtin_trap();
  (void)xml::SetAttribute(root.get(), path, "v");

  std::string flat, pretty;
  if (xml::Write(root.get(), false, false, false, &flat) != S_OK) __builtin_trap();
  if (xml::Parse(flat.c_str(), &once) != S_OK) __builtin_trap();
  if (set == S_OK && xml::TextAt(once.get(), path) != kSpecial) __builtin_trap();
  if (xml::Write(root.get(), true, true, true, &pretty) != S_OK) __builtin_trap();
  if (xml::Parse(pretty.c_str(), &once) != S_OK) __builtin_trap();
  return 0;
}
