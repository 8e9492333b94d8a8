// Any bytes as a file whose large tag items are left out of what TagLib reads: the replacements
// must lie inside the file without overlapping, the spliced stream must serve exactly the file
// with the replacements applied (read in chunks of sizes the input chooses, after seeks), and
// TagLib must read a view with replacements as any file. An ASF file is planned by the header
// walk, whose repairs must keep their length, and TagLib must build from its view exactly the
// attributes the walk counted (which holds it to TagLib's own reading). The first byte chooses
// the size from which an item counts as large (1 to 32 bytes, so small inputs reach every path)
// and the extension TagLib sees; the rest is the file.
#include "catalog/large_tag_items.h"

#include <sys/mman.h>
#include <taglib/asffile.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "catalog/asf_header.h"
#include "catalog/spliced_stream.h"

namespace {

bool NotCovr(std::string_view name) { return name != "covr"; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pelk::catalog;
  if (size < 1) return 0;
  const uint64_t large = (data[0] & 0x1f) + 1;
  static constexpr const char* kNames[] = {"x.mp3", "x.flac", "x.m4a", "x.aac",
                                           "x.wma", "x.asf",  "x.wav", "x.aiff"};
  const std::string name = kNames[data[0] >> 5];
  const bool asf = name == "x.wma" || name == "x.asf";
  const std::string file(reinterpret_cast<const char*>(data) + 1, size - 1);

  const int fd = ::memfd_create("large_tag_items", MFD_CLOEXEC);
  if (fd < 0) std::abort();
  if (!file.empty() && ::write(fd, file.data(), file.size()) != static_cast<ssize_t>(file.size())) {
    std::abort();
  }
  std::vector<Splice> splices;
  AsfHeaderPlan plan;
  if (asf) {
    plan = PlanAsfHeader(fd, file.size(), large);
    if (plan.refused) {
      ::close(fd);
      return 0;
    }
    for (const Splice& repair : plan.repairs) {
      if (repair.bytes.size() != repair.length) std::abort();
    }
    splices = plan.repairs;
    splices.insert(splices.end(), plan.cuts.begin(), plan.cuts.end());
  } else {
    splices = LargeItemSplices(fd, file.size(), NotCovr, large);
  }
  std::sort(splices.begin(), splices.end(),
            [](const Splice& a, const Splice& b) { return a.offset < b.offset; });
  std::string expected;
  uint64_t at = 0;
  for (const Splice& splice : splices) {
    if (splice.offset < at || splice.length > file.size() - splice.offset) std::abort();
    expected += file.substr(at, splice.offset - at) + splice.bytes;
    at = splice.offset + splice.length;
  }
  expected += file.substr(at);

  SplicedStream stream(name, fd, file.size(), splices);
  if (static_cast<uint64_t>(stream.length()) != expected.size()) std::abort();
  // Chunk sizes from the file's own bytes, and a seek back to the start half way.
  std::string served;
  for (size_t i = 0; served.size() < expected.size(); ++i) {
    const unsigned long chunk =
        1 + (file.empty() ? 0 : static_cast<uint8_t>(file[i % file.size()]));
    const TagLib::ByteVector block = stream.readBlock(chunk);
    if (block.isEmpty()) std::abort();
    served.append(block.data(), block.size());
  }
  if (served != expected || !stream.readBlock(1).isEmpty()) std::abort();
  stream.seek(static_cast<long>(expected.size() / 2));
  const TagLib::ByteVector half = stream.readBlock(static_cast<unsigned long>(expected.size()));
  if (std::string(half.data(), half.size()) != expected.substr(expected.size() / 2)) std::abort();

  if (asf) {
    stream.seek(0);
    const TagLib::ASF::File asf_file(&stream);
    uint64_t attributes = 0;
    if (asf_file.tag()) {
      for (const auto& entry : asf_file.tag()->attributeListMap())
        attributes += entry.second.size();
    }
    if (attributes != plan.attributes) std::abort();
    return 0;
  }
  // A file without replacements is TagLib's own business, fuzzed by fuzz_tag_file.
  if (splices.empty()) return 0;
  stream.seek(0);
  const TagLib::FileRef ref(&stream, true, TagLib::AudioProperties::Average);
  if (!ref.isNull() && ref.tag()) ref.tag()->title().to8Bit(true);
  return 0;
}
