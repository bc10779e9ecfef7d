// Fuzzes the landblock selection: the input is used as a --landblocks text
// (unless it names a file) and, written to a temporary file, as a list
// file given with "@path". parse_hex_u32 is checked against a plain
// transcription of its rules for ASCII input.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "apps/strewmill/selection.h"
#include "fuzz/fuzz_support.h"

using namespace strewmill;

namespace {

struct Expected {
  std::optional<std::uint32_t> value;
  std::string_view cause;  // when there is no value
};

Expected reference_parse(std::string_view s) {
  constexpr std::string_view kSpace = " \t\n\v\f\r";
  const auto first = s.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {std::nullopt, "cannot parse integer from empty string"};
  s = s.substr(first, s.find_last_not_of(kSpace) - first + 1);
  while (s.starts_with("0x")) s.remove_prefix(2);
  while (s.starts_with("0X")) s.remove_prefix(2);
  if (s.empty()) return {std::nullopt, "cannot parse integer from empty string"};
  if (s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return {std::nullopt, "invalid digit found in string"};
  std::uint64_t v = 0;
  for (const char c : s) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return {std::nullopt, "invalid digit found in string"};
    v = v * 16 + static_cast<std::uint64_t>(d);
    if (v > 0xFFFFFFFFu) return {std::nullopt, "number too large to fit in target type"};
  }
  return {static_cast<std::uint32_t>(v), {}};
}

const std::string& list_path() {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string p = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/selection_fuzz.XXXXXX";
    const int fd = ::mkstemp(p.data());
    FUZZ_CHECK(fd >= 0);
    ::close(fd);
    std::atexit([] { ::unlink(list_path().c_str()); });
    return p;
  }();
  return path;
}

void write_list(const std::uint8_t* data, std::size_t size) {
  const int fd = ::open(list_path().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  FUZZ_CHECK(fd >= 0);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t w = ::write(fd, data + done, size - done);
    FUZZ_CHECK(w > 0);
    done += static_cast<std::size_t>(w);
  }
  ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  auto parsed = app::parse_hex_u32(text);
  bool ascii = true;
  for (const char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) {
    const Expected want = reference_parse(text);
    FUZZ_CHECK(parsed.ok() == want.value.has_value());
    if (parsed) {
      FUZZ_CHECK(*parsed == *want.value);
    } else {
      FUZZ_CHECK(parsed.error().chain().size() == 2);
      FUZZ_CHECK(parsed.error().chain()[1] == want.cause);
    }
  }
  if (!parsed) (void)app::render_report(parsed.error());

  // A text naming a file would read whatever path the fuzzer invents.
  if (text.find('@') == std::string_view::npos) {
    auto ids = app::select_landblocks(text);
    if (ascii && text.find("..") == std::string_view::npos)
      FUZZ_CHECK(ids.ok() == (parsed.ok() && *parsed < 0x10000));
    if (ids && text.find("..") == std::string_view::npos) FUZZ_CHECK(ids->size() == 1);
    if (!ids) (void)app::render_report(ids.error());
  }

  write_list(data, size);
  auto listed = app::select_landblocks("@" + list_path());
  if (listed) {
    std::size_t lines = 1;
    for (const char c : text) lines += c == '\n';
    FUZZ_CHECK(listed->size() <= lines);
  } else {
    (void)app::render_report(listed.error());
  }
  return 0;
}
