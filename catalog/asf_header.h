// What TagLib would build from the header of an ASF (WMA) file, found before it reads the file.
// TagLib's ASF reader trusts the header: it parses objects one after another for as many as the
// header counts, and as many attributes as each descriptor list counts, whatever the sizes say.
// Attributes counted past the end of the file are read as empty ones, up to 65,535 a list, each
// a few dozen allocations (a 600-byte file made 40,512 of them: 64 MB allocated in 2.5 million
// blocks); and a header of many tiny objects or attributes makes as many, at about 600 bytes of
// memory for every 6 bytes of file. The header is walked here exactly the way TagLib walks it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalog/spliced_stream.h"

namespace pelk::catalog {

// More header objects and attributes than this are refused: real files hold a few dozen.
inline constexpr uint64_t kMaxAsfItems = 4096;

struct AsfHeaderPlan {
  // The file starts with an ASF header object.
  bool asf = false;
  // TagLib would build more than kMaxAsfItems objects and attributes (after the repairs).
  bool refused = false;
  // Attribute counts lowered to the attributes that end inside the file: TagLib then reads the
  // same attributes (none of them past the end) and goes on where the last one ends. Each
  // replaces bytes with as many bytes, so the repaired file can be written as well as read.
  std::vector<Splice> repairs;
  // Large unused items left out (binary attribute values such as pictures, objects of a kind
  // TagLib keeps without reading), with the sizes of the objects around them; for reading only.
  // Kept only where TagLib, walking the view with them, builds the same objects and attributes.
  std::vector<Splice> cuts;
  // What TagLib builds from the file with the repairs (with or without the cuts).
  uint64_t objects = 0;
  uint64_t attributes = 0;
};

// The plan for the file open as `fd`, of `file_size` bytes. Values and objects of `large` bytes
// or more are cut (smaller in the fuzz target, so that small inputs reach every path).
AsfHeaderPlan PlanAsfHeader(int fd, uint64_t file_size, uint64_t large);

// Whether TagLib may read the file at `path` as ASF: it is named as ASF, or by an extension
// TagLib does not know (TagLib then goes by the content).
bool TagLibReadsAsAsf(const std::string& path);

}  // namespace pelk::catalog
