// Fuzzes decompress_lrs against a plain transcription of the token format
// (one push_back per byte, no reservation), and checks that compressing
// the input and expanding it again gives the input back.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "lib/dat/dat_database.h"
#include "tools/writer/archive_writer.h"

using namespace strewmill;

namespace {

std::vector<std::uint8_t> reference_expand(std::span<const std::uint8_t> in) {
  if (in.size() < 4) return {in.begin(), in.end()};
  std::uint32_t declared;
  std::memcpy(&declared, in.data(), 4);
  std::vector<std::uint8_t> out;
  std::size_t i = 4;
  unsigned flags = 0;
  int bits = 0;
  while (i < in.size() && out.size() < declared) {
    if (bits == 0) {
      flags = in[i++];
      bits = 8;
    }
    const bool reference = (flags & 0x80) != 0;
    flags <<= 1;
    --bits;
    if (!reference) {
      if (i >= in.size()) break;
      out.push_back(in[i++]);
    } else {
      if (in.size() - i < 2) break;
      const std::size_t b0 = in[i];
      const std::size_t b1 = in[i + 1];
      i += 2;
      const std::size_t distance = b0 + 256 * (b1 >> 4);
      const std::size_t length = (b1 & 0x0F) + 2;
      // Nothing to copy from while the output is empty: that ends it too.
      if (distance == 0 || out.empty()) break;
      for (std::size_t k = 0; k < length && out.size() < declared; ++k) {
        const std::size_t n = out.size();
        out.push_back(out[n >= distance ? n - distance : 0]);
      }
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto input = fuzz::as_span(data, size);
  const std::vector<std::uint8_t> out = dat::decompress_lrs(input);
  FUZZ_CHECK(out == reference_expand(input));

  const std::vector<std::uint8_t> packed = tools::compress_lrs(input);
  FUZZ_CHECK(dat::decompress_lrs(packed) == std::vector<std::uint8_t>(input.begin(), input.end()));
  return 0;
}
