// Fuzzes Scene::unpack: any bytes end in a value or a decode error, and a
// decoded value survives encoding and decoding again unchanged.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_support.h"
#include "lib/dat/scene.h"
#include "tools/writer/land_records.h"

using namespace strewmill;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::fuzz_record<dat::Scene>(
      data, size, [](const dat::Scene& v) { return tools::encode_scene(v); });
}
