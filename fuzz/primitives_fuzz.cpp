// Fuzzes the primitive and geometry readers. The input is a program over
// one cursor: an opcode byte picks the next reader, which reads from the
// same bytes, so every reader runs at every alignment and after every other.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "lib/dat/geometry_read.h"
#include "lib/dat/primitives.h"
#include "tools/writer/byte_writer.h"

using namespace strewmill;

namespace {

// A geometry reader that fails leaves the cursor where the record began.
template <class Read>
bool run_geometry(dat::Cursor& cur, Read read) {
  const std::uint64_t start = cur.position();
  auto r = read(cur);
  if (!r) {
    FUZZ_CHECK(cur.position() == start);
    FUZZ_CHECK(!r.error().contexts().empty());
    (void)r.error().render();
    return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  dat::Cursor cur(fuzz::as_span(data, size));
  while (cur.remaining() > 0) {
    auto op = cur.u8();
    FUZZ_CHECK(op.ok());
    const std::uint64_t start = cur.position();
    bool ok = true;
    switch (*op % 9) {
      case 0: {
        auto v = dat::read_compressed_u32(cur);
        ok = v.ok();
        if (ok) {
          FUZZ_CHECK(*v <= 0x3FFFFFFFu);
          // The shortest form of the value reads back as the same value.
          tools::ByteWriter w;
          w.compressed_u32(*v);
          dat::Cursor again(w.bytes());
          auto back = dat::read_compressed_u32(again);
          FUZZ_CHECK(back.ok() && *back == *v && again.remaining() == 0);
        }
        break;
      }
      case 1: {
        auto v = dat::read_smart_vec(cur);
        ok = v.ok();
        if (ok) FUZZ_CHECK(v->size() * 4 <= cur.position() - start);
        break;
      }
      case 2: {
        auto v = dat::read_pstring_char(cur);
        ok = v.ok();
        if (ok) {
          FUZZ_CHECK(cur.position() % 4 == 0);
          FUZZ_CHECK(fuzz::is_valid_utf8(*v));
        }
        break;
      }
      case 3: ok = run_geometry(cur, dat::read_vector3); break;
      case 4: ok = run_geometry(cur, dat::read_quaternion); break;
      case 5: ok = run_geometry(cur, dat::read_plane); break;
      case 6: ok = run_geometry(cur, dat::read_sphere); break;
      case 7: ok = run_geometry(cur, dat::read_frame); break;
      default: {
        // The text decoder alone, over the next up to 64 bytes.
        const std::uint64_t n = std::min<std::uint64_t>(cur.remaining(), 64);
        auto bytes = cur.bytes(n);
        FUZZ_CHECK(bytes.ok());
        FUZZ_CHECK(fuzz::is_valid_utf8(dat::decode_archive_text(*bytes)));
        break;
      }
    }
    if (!ok) break;  // decoders never read on after a failure
  }
  return 0;
}
