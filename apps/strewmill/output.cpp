#include "apps/strewmill/output.h"

#include <fmt/format.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>
#include <string_view>

#include "apps/strewmill/file_io.h"
#include "apps/strewmill/float_text.h"
#include "lib/dat/setup_model.h"

namespace strewmill::app {

namespace {

constexpr std::uint32_t kSetupModelKind = 0x02;

std::uint32_t fetch_default_script(const dat::DatDatabase& portal, std::uint32_t id) {
  auto bytes = portal.get_file(id);
  if (!bytes) return 0;
  dat::Cursor cur(*bytes);
  auto setup = dat::SetupModel::unpack(cur);
  if (!setup) return 0;
  return setup->default_script_id.value_or(0);
}

char* append(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// The two upper-case hexadecimal digits of every byte value.
constexpr auto kHexPairs = [] {
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::array<char, 512> t{};
  for (std::size_t b = 0; b < 256; ++b) {
    t[2 * b] = kDigits[b >> 4];
    t[2 * b + 1] = kDigits[b & 0xF];
  }
  return t;
}();

// "0x" and eight upper-case hexadecimal digits.
char* append_data_id(char* out, std::uint32_t id) {
  *out++ = '0';
  *out++ = 'x';
  for (int shift = 24; shift >= 0; shift -= 8) {
    std::memcpy(out, &kHexPairs[2 * ((id >> shift) & 0xFF)], 2);
    out += 2;
  }
  return out;
}

char* append_u32(char* out, std::uint32_t v) { return std::to_chars(out, out + 10, v).ptr; }

// Keys with their punctuation, in line order.
constexpr std::string_view kObjId = "{\"obj_id\":\"";
constexpr std::string_view kX = "\",\"x\":";
constexpr std::string_view kY = ",\"y\":";
constexpr std::string_view kZ = ",\"z\":";
constexpr std::string_view kQw = ",\"qw\":";
constexpr std::string_view kQx = ",\"qx\":";
constexpr std::string_view kQy = ",\"qy\":";
constexpr std::string_view kQz = ",\"qz\":";
constexpr std::string_view kScale = ",\"scale\":";
constexpr std::string_view kCellX = ",\"source_cell_x\":";
constexpr std::string_view kCellY = ",\"source_cell_y\":";
constexpr std::string_view kObjIdx = ",\"source_obj_idx\":";
constexpr std::string_view kScript = ",\"default_script_id\":\"";
constexpr std::string_view kEnd = "\"}\n";

static_assert(kObjId.size() + kX.size() + kY.size() + kZ.size() + kQw.size() + kQx.size() +
                      kQy.size() + kQz.size() + kScale.size() + kCellX.size() + kCellY.size() +
                      kObjIdx.size() + kScript.size() + kEnd.size() + 2 * 10 + 8 * kF32TextMax +
                      3 * 10 <=
                  kPlacementLineMax,
              "kPlacementLineMax too small for the longest line");

// Buffered writer over a descriptor: fills a fixed buffer in place and
// writes it out when the next line might not fit.
class LineWriter {
 public:
  static constexpr std::size_t kCapacity = 8192;
  static_assert(kPlacementLineMax <= kCapacity);

  explicit LineWriter(int fd) : fd_(fd) {}

  // Room for one whole line at the returned position; 0 errno on success.
  int reserve_line(char*& at) {
    if (kCapacity - used_ < kPlacementLineMax) {
      if (int err = flush(); err != 0) return err;
    }
    at = buf_ + used_;
    return 0;
  }
  void commit(char* end) { used_ = static_cast<std::size_t>(end - buf_); }

  int flush() {
    const int err = write_all(fd_, buf_, used_);
    used_ = 0;
    return err;
  }

 private:
  int fd_;
  std::size_t used_ = 0;
  char buf_[kCapacity];
};

}  // namespace

std::uint32_t DefaultScriptCache::lookup(const dat::DatDatabase& portal, std::uint32_t obj_id) {
  if (const std::uint32_t* cached = map_.find(obj_id)) return *cached;
  const std::uint32_t script =
      (obj_id >> 24) == kSetupModelKind ? fetch_default_script(portal, obj_id) : 0;
  map_.insert(obj_id, script);
  return script;
}

char* append_placement_line(char* out, const engine::Placement& p,
                            std::uint32_t default_script_id) {
  out = append(out, kObjId);
  out = append_data_id(out, p.obj_id);
  out = append(out, kX);
  out = append_f32_six_sig(out, p.x);
  out = append(out, kY);
  out = append_f32_six_sig(out, p.y);
  out = append(out, kZ);
  out = append_f32_six_sig(out, p.z);
  out = append(out, kQw);
  out = append_f32_six_sig(out, p.qw);
  out = append(out, kQx);
  out = append_f32_six_sig(out, p.qx);
  out = append(out, kQy);
  out = append_f32_six_sig(out, p.qy);
  out = append(out, kQz);
  out = append_f32_six_sig(out, p.qz);
  out = append(out, kScale);
  out = append_f32_six_sig(out, p.scale);
  out = append(out, kCellX);
  out = append_u32(out, p.source_cell_x);
  out = append(out, kCellY);
  out = append_u32(out, p.source_cell_y);
  out = append(out, kObjIdx);
  out = append_u32(out, p.source_obj_idx);
  out = append(out, kScript);
  out = append_data_id(out, default_script_id);
  return append(out, kEnd);
}

std::filesystem::path placement_file_name(std::uint16_t lb) {
  return fmt::format("0x{:04X}.scenery.jsonl", lb);
}

AppResult<std::filesystem::path> write_placement_output(
    std::uint16_t lb, const std::filesystem::path& out_dir,
    std::span<const engine::Placement> placements, const dat::DatDatabase& portal,
    DefaultScriptCache& cache, Sha256Hasher& hasher) {
  std::filesystem::path path = out_dir / placement_file_name(lb);
  // Held open until the digest file is written.
  UniqueFd file = create_truncate(path);
  if (!file) {
    const int err = errno;
    return common::fail(Error::os(err).context("create " + display_path(path)));
  }

  {
    LineWriter writer(file.get());
    for (const engine::Placement& p : placements) {
      char* at = nullptr;
      if (int err = writer.reserve_line(at); err != 0) return common::fail(Error::os(err));
      writer.commit(append_placement_line(at, p, cache.lookup(portal, p.obj_id)));
    }
    if (int err = writer.flush(); err != 0) return common::fail(Error::os(err));
  }

  // Read back from disk, so the digest covers what was actually stored.
  auto digest = hasher.digest_file(path);
  if (!digest) {
    return common::fail(std::move(digest).error().context("sha256 " + display_path(path)));
  }

  std::filesystem::path digest_path = path;
  digest_path += ".sha256";
  UniqueFd digest_file = create_truncate(digest_path);
  if (!digest_file) {
    const int err = errno;
    return common::fail(Error::os(err).context("create " + display_path(digest_path)));
  }
  std::string line = std::move(*digest);
  line += '\n';
  if (int err = write_all(digest_file.get(), line.data(), line.size()); err != 0) {
    return common::fail(Error::os(err));
  }
  return path;
}

}  // namespace strewmill::app
