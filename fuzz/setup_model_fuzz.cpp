// Fuzzes SetupModel::unpack: any bytes end in a value or a decode error, and a
// decoded value survives encoding and decoding again unchanged.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_support.h"
#include "lib/dat/setup_model.h"
#include "tools/writer/object_records.h"

using namespace strewmill;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::fuzz_record<dat::SetupModel>(
      data, size, [](const dat::SetupModel& v) { return tools::encode_setup_model(v); });
}
