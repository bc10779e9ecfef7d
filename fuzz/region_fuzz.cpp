// Fuzzes Region::unpack: any bytes end in a value or a decode error, and a
// decoded value survives encoding and decoding again unchanged.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_support.h"
#include "lib/dat/region.h"
#include "tools/writer/land_records.h"

using namespace strewmill;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::fuzz_record<dat::Region>(
      data, size, [](const dat::Region& v) { return tools::encode_region(v); });
}
