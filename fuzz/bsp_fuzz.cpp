// Fuzzes BspNode::read directly, for every tree type (the first byte; any
// value is accepted), including trees far deeper than the stack would
// allow a recursive decoder. A decoded tree encodes and decodes unchanged.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_support.h"
#include "lib/dat/bsp.h"
#include "tools/writer/object_records.h"

using namespace strewmill;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto type = static_cast<dat::BspTreeType>(data[0]);
  dat::Cursor cur(fuzz::as_span(data + 1, size - 1));
  auto tree = dat::BspNode::read(cur, type);
  if (!tree) {
    (void)tree.error().render();
    return 0;
  }
  if (data[0] <= 2 && *tree == *tree) {
    tools::ByteWriter w;
    tools::encode_bsp_node(w, *tree, type);
    dat::Cursor again(w.bytes());
    auto back = dat::BspNode::read(again, type);
    FUZZ_CHECK(back.ok());
    FUZZ_CHECK(*back == *tree);
    FUZZ_CHECK(again.remaining() == 0);
  }
  return 0;
}
