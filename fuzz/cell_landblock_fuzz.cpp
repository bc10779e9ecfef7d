// Fuzzes CellLandblock::unpack: 251 bytes or more decode, fewer fail with a
// decode error, and a decoded record encodes back to its first 251 bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "lib/dat/cell_landblock.h"
#include "tools/writer/land_records.h"

using namespace strewmill;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto value = dat::CellLandblock::unpack(fuzz::as_span(data, size));
  FUZZ_CHECK(value.ok() == (size >= dat::CellLandblock::kSize));
  if (!value) {
    FUZZ_CHECK(value.error().kind() == dat::DatErrorKind::Decode);
    (void)value.error().message();
    return 0;
  }
  const auto bytes = tools::encode_cell_landblock(*value);
  FUZZ_CHECK(bytes.size() == dat::CellLandblock::kSize);
  FUZZ_CHECK(std::equal(bytes.begin(), bytes.end(), data));
  return 0;
}
