// Fuzzes LandblockInfo::unpack: any bytes end in a value or a decode error
// without reserving for hostile counts, and a decoded record survives
// encoding and decoding again.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_support.h"
#include "lib/dat/landblock_info.h"
#include "tools/writer/land_records.h"

using namespace strewmill;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto value = dat::LandblockInfo::unpack(fuzz::as_span(data, size));
  if (!value) {
    FUZZ_CHECK(value.error().kind() == dat::DatErrorKind::Decode);
    (void)value.error().message();
    (void)value.error().cause_message();
    return 0;
  }
  dat::LandblockInfo info = std::move(value).value();
  FUZZ_CHECK(info.objects.size() == info.num_objects);
  FUZZ_CHECK(info.buildings.size() == info.num_buildings);
  // The stored pair count may name repeated keys, which the map folds; the
  // encoder writes the folded count.
  if (info.restriction_tables)
    info.restriction_tables->count = static_cast<std::uint16_t>(info.restriction_tables->tables.size());
  fuzz::check_round_trip(
      info, [](const dat::LandblockInfo& v) { return tools::encode_landblock_info(v); },
      [](std::span<const std::uint8_t> b) { return dat::LandblockInfo::unpack(b); });
  return 0;
}
