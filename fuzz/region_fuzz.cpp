// Fuzzes Region::unpack: any bytes end in a value or a decode error, and a
// decoded value survives encoding and decoding again unchanged.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_support.h"
#include "lib/dat/region.h"
#include "tools/writer/land_records.h"

using namespace strewmill;

namespace {

dat::DecodeResult<dat::Region> decode(std::span<const std::uint8_t> bytes) {
  dat::Cursor cur(bytes);
  return dat::Region::unpack(cur);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto value = decode(fuzz::as_span(data, size));
  if (!value) {
    (void)value.error().render();
    return 0;
  }
  fuzz::check_round_trip(
      *value, [](const dat::Region& v) { return tools::encode_region(v); }, decode);
  return 0;
}
