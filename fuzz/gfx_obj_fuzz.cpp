// Fuzzes GfxObj::unpack: any bytes end in a value or a decode error, and a
// decoded value survives encoding and decoding again unchanged.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_support.h"
#include "lib/dat/gfx_obj.h"
#include "tools/writer/object_records.h"

using namespace strewmill;

namespace {

dat::DecodeResult<dat::GfxObj> decode(std::span<const std::uint8_t> bytes) {
  dat::Cursor cur(bytes);
  return dat::GfxObj::unpack(cur);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto value = decode(fuzz::as_span(data, size));
  if (!value) {
    (void)value.error().render();
    return 0;
  }
  fuzz::check_round_trip(
      *value, [](const dat::GfxObj& v) { return tools::encode_gfx_obj(v); }, decode);
  return 0;
}
