#include "tools/diff/diff_lib.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "apps/strewmill/file_io.h"
#include "apps/strewmill/float_text.h"
#include "apps/strewmill/provenance.h"
#include "apps/strewmill/sha256.h"
#include "tools/diff/bake_files.h"
#include "tools/diff/placement_file.h"
#include "tools/diff/provenance_file.h"

namespace strewmill::tools {

namespace fs = std::filesystem;
using app::AppResult;
using app::Error;

namespace {

// What a bake output directory holds, by landblock.
constexpr std::uint8_t kHasPlacement = 1;
constexpr std::uint8_t kHasDigest = 2;

struct Listing {
  std::vector<std::uint8_t> flags = std::vector<std::uint8_t>(65536, 0);
  std::uint64_t placement_files = 0;
  bool provenance = false;
};

std::optional<std::uint16_t> landblock_of(std::string_view name, std::string_view suffix) {
  if (name.size() != 6 + suffix.size() || name.substr(0, 2) != "0x" || name.substr(6) != suffix) {
    return std::nullopt;
  }
  std::uint32_t v = 0;
  for (const char c : name.substr(2, 4)) {
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0) return std::nullopt;
    v = v * 16 + static_cast<std::uint32_t>(d);
  }
  return static_cast<std::uint16_t>(v);
}

constexpr std::string_view kPlacementSuffix = ".scenery.jsonl";
constexpr std::string_view kDigestSuffix = ".scenery.jsonl.sha256";

AppResult<Listing> list_bake_dir(const fs::path& dir) {
  Listing l;
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  const fs::directory_iterator end;
  for (; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name == app::kProvenanceFileName) {
      l.provenance = true;
    } else if (const auto lb = landblock_of(name, kPlacementSuffix)) {
      l.flags[*lb] |= kHasPlacement;
      ++l.placement_files;
    } else if (const auto lb2 = landblock_of(name, kDigestSuffix)) {
      l.flags[*lb2] |= kHasDigest;
    }
  }
  if (ec) return common::fail(Error::os(ec.value()).context("list " + app::display_path(dir)));
  if (l.placement_files == 0 && !l.provenance) {
    return common::fail(Error(fmt::format("{}: not a bake output directory (no placement files and no {})",
                                          app::display_path(dir), app::kProvenanceFileName)));
  }
  return l;
}

// ---------------------------------------------------------------- one side's file

enum class DigestProblem { none, missing, malformed, mismatch, orphan };

std::string_view digest_problem_key(DigestProblem p) {
  switch (p) {
    case DigestProblem::missing: return "missing";
    case DigestProblem::malformed: return "malformed";
    case DigestProblem::mismatch: return "mismatch";
    case DigestProblem::orphan: return "orphan";
    case DigestProblem::none: break;
  }
  return "none";
}

// One side's placement file of the landblock at hand. The buffers are reused
// from landblock to landblock.
struct SideFile {
  fs::path path;
  fs::path digest_path;
  bool present = false;
  bool digest_present = false;
  bool digest_required = false;  // a bake directory has one per placement file
  DigestProblem problem = DigestProblem::none;
  std::string digest_text;    // the digest file's content
  std::string actual_digest;  // of the placement file, when checked
  bool readable = false;
  bool same_as_twin = false;  // byte for byte the other side's parsed file, so not parsed again
  std::string unreadable;     // the located parse error of a damaged file
  std::string text;
  PlacementFile parsed;

  std::string_view expected_digest() const {
    return is_digest_text(digest_text) ? std::string_view(digest_text).substr(0, 64) : std::string_view();
  }
};

// Checks the digest, reads and parses the file. A file identical to `twin`
// (already loaded) needs no parse of its own.
AppResult<void> load_side(SideFile& s, app::Sha256Hasher& hasher, const SideFile* twin = nullptr) {
  s.problem = DigestProblem::none;
  s.same_as_twin = false;
  s.digest_text.clear();
  s.actual_digest.clear();
  s.readable = false;
  s.unreadable.clear();
  s.parsed.rows.clear();
  s.parsed.form = FloatForm::none;

  if (!s.present) {
    if (s.digest_present) s.problem = DigestProblem::orphan;
    return {};
  }
  if (s.digest_present) {
    TRY(read_whole(s.digest_path, s.digest_text, 66));
    TRY_ASSIGN(s.actual_digest, hasher.digest_file(s.path));
    if (!is_digest_text(s.digest_text)) {
      s.problem = DigestProblem::malformed;
    } else if (s.expected_digest() != s.actual_digest) {
      s.problem = DigestProblem::mismatch;
    }
  } else if (s.digest_required) {
    s.problem = DigestProblem::missing;
  }
  TRY(read_whole(s.path, s.text));
  if (twin != nullptr && twin->readable && twin->text == s.text) {
    s.readable = true;
    s.same_as_twin = true;
    return {};
  }
  auto parsed = parse_placement_file(s.text, s.parsed);
  if (!parsed) {
    const std::string where = parsed.error().located(app::display_path(s.path));
    // A file known to be damaged is a finding, not a foreign input.
    if (s.problem == DigestProblem::none) return common::fail(Error(where));
    s.unreadable = where;
    s.parsed.rows.clear();
    return {};
  }
  s.readable = true;
  const auto by_key = [](const PlacementRow& x, const PlacementRow& y) {
    return x.key != y.key ? x.key < y.key : x.line < y.line;
  };
  // The writer's order is usually already the key order.
  if (!std::is_sorted(s.parsed.rows.begin(), s.parsed.rows.end(), by_key)) {
    std::sort(s.parsed.rows.begin(), s.parsed.rows.end(), by_key);
  }
  return {};
}

// ---------------------------------------------------------------- output pieces

template <class... Args>
void put(std::string& out, fmt::format_string<Args...> f, Args&&... args) {
  fmt::format_to(std::back_inserter(out), f, std::forward<Args>(args)...);
}

void put_json_string(std::string& out, std::string_view s) {
  out += '"';
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      put(out, "\\u{:04x}", u);
    } else {
      out += c;
    }
  }
  out += '"';
}

// A JSON record's opening: {"type":"...","landblock":"..."
void open_record(std::string& out, std::string_view type, std::string_view label) {
  out += "{\"type\":";
  put_json_string(out, type);
  if (!label.empty()) {
    out += ",\"landblock\":";
    put_json_string(out, label);
  }
}

std::string_view side_name(bool a) { return a ? "A" : "B"; }
std::string_view side_key(bool a) { return a ? "a" : "b"; }

std::string_view short_digest(std::string_view d) { return d.substr(0, 16); }

// ---------------------------------------------------------------- field comparison

struct FloatText {
  std::array<char, app::kF32TextMax> buf{};
  std::size_t len = 0;
  std::string_view view() const { return {buf.data(), len}; }
};

// The six-decimal text of a bits-form value, exactly as the tool writes it.
// The diff tool never sets EMIT_BITS, so the formatter writes decimals.
FloatText six_of_bits(std::uint32_t bits) {
  FloatText t;
  t.len = static_cast<std::size_t>(app::append_f32_six_sig(t.buf.data(), std::bit_cast<float>(bits)) - t.buf.data());
  return t;
}

FloatText copy_text(std::string_view s) {
  FloatText t;
  t.len = std::min(s.size(), t.buf.size());
  std::copy_n(s.data(), t.len, t.buf.data());
  return t;
}

bool is_nan_bits(std::uint32_t b) { return (b & 0x7F800000u) == 0x7F800000u && (b & 0x007FFFFFu) != 0; }

// The float nearest to a six-decimal text; nothing when it has none.
std::optional<std::uint32_t> nearest_bits(std::string_view text) {
  if (text == "NaN") return 0x7FC00000u;
  if (text == "inf") return 0x7F800000u;
  if (text == "-inf") return 0xFF800000u;
  float v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return std::bit_cast<std::uint32_t>(v);
}

// Signed distance from a to b in units in the last place, on the ordered
// bit patterns (the two zeros are 0 apart). Nothing when either is NaN.
std::optional<std::int64_t> ulps_between(std::uint32_t a, std::uint32_t b) {
  if (is_nan_bits(a) || is_nan_bits(b)) return std::nullopt;
  const auto ordinal = [](std::uint32_t x) -> std::int64_t {
    return (x >> 31) != 0 ? -static_cast<std::int64_t>(x & 0x7FFFFFFFu) : static_cast<std::int64_t>(x);
  };
  return ordinal(b) - ordinal(a);
}

// One side of a float field.
struct FloatSide {
  FloatForm form;
  std::uint32_t bits;     // bits form
  std::string_view text;  // as written in the file
};

struct FloatChange {
  std::size_t field = 0;
  FloatSide a{}, b{};
  FloatText a_six, b_six;
  std::optional<std::int64_t> ulps;
  bool exact = false;  // both sides bit patterns: the ulps are exact
};

// Whether a float field is equal at the comparison's precision: the bit
// patterns when both sides are bits, otherwise the six-decimal texts.
bool float_equal(const FloatSide& a, const FloatSide& b, bool as_bits) {
  if (as_bits) return a.bits == b.bits;
  if (a.form == b.form) return a.text == b.text;
  const bool a_bits = a.form == FloatForm::bits;
  return six_of_bits(a_bits ? a.bits : b.bits).view() == (a_bits ? b.text : a.text);
}

// The report of a field that float_equal found different.
FloatChange describe_change(std::size_t field, const FloatSide& a, const FloatSide& b, bool as_bits) {
  FloatChange c;
  c.field = field;
  c.a = a;
  c.b = b;
  if (as_bits) {
    c.exact = true;
    c.a_six = six_of_bits(a.bits);
    c.b_six = six_of_bits(b.bits);
    c.ulps = ulps_between(a.bits, b.bits);
    return c;
  }
  c.a_six = a.form == FloatForm::bits ? six_of_bits(a.bits) : copy_text(a.text);
  c.b_six = b.form == FloatForm::bits ? six_of_bits(b.bits) : copy_text(b.text);
  const std::optional<std::uint32_t> fa = a.form == FloatForm::bits ? a.bits : nearest_bits(a.text);
  const std::optional<std::uint32_t> fb = b.form == FloatForm::bits ? b.bits : nearest_bits(b.text);
  if (fa && fb) c.ulps = ulps_between(*fa, *fb);
  return c;
}

// ---------------------------------------------------------------- one landblock

class LandblockComparer {
 public:
  LandblockComparer(const DiffOptions& options, DiffTotals& totals) : options_(options), totals_(totals) {}

  // Appends the report of one landblock whose two files both parsed.
  void compare(std::string_view label, const SideFile& a, const SideFile& b, std::string& out) {
    details_.clear();
    shown_ = 0;
    hidden_ = 0;
    label_ = label;
    a_ = &a;
    b_ = &b;
    as_bits_ = a.parsed.form != FloatForm::six_decimal && b.parsed.form != FloatForm::six_decimal;
    const bool forms_differ = a.parsed.form != FloatForm::none && b.parsed.form != FloatForm::none &&
                              a.parsed.form != b.parsed.form;
    if (forms_differ) ++totals_.landblocks_six_decimal;

    only_a_ = only_b_ = changed_ = changed_fields_ = 0;
    const auto& ra = a.parsed.rows;
    const auto& rb = b.parsed.rows;
    std::size_t i = 0, j = 0;
    while (i < ra.size() || j < rb.size()) {
      if (j == rb.size() || (i < ra.size() && ra[i].key < rb[j].key)) {
        only_in(true, ra[i++]);
      } else if (i == ra.size() || rb[j].key < ra[i].key) {
        only_in(false, rb[j++]);
      } else {
        compare_rows(ra[i++], rb[j++]);
      }
    }
    totals_.objects_a += ra.size();
    totals_.objects_b += rb.size();
    totals_.only_a += only_a_;
    totals_.only_b += only_b_;
    totals_.changed += changed_;
    totals_.changed_fields += changed_fields_;
    if (only_a_ + only_b_ + changed_ == 0) return;
    ++totals_.landblocks_different;

    const std::string_view compared = as_bits_ ? "bits" : "six-decimal";
    if (options_.json) {
      open_record(out, "landblock", label);
      put(out, ",\"status\":\"different\",\"a_objects\":{},\"b_objects\":{},\"only_a\":{},\"only_b\":{},"
               "\"changed\":{},\"changed_fields\":{},\"compared\":\"{}\"}}\n",
          ra.size(), rb.size(), only_a_, only_b_, changed_, changed_fields_, compared);
    } else {
      put(out, "{}: {} only in A, {} only in B, {} changed (A {} objects, B {})", label, only_a_, only_b_, changed_,
          ra.size(), rb.size());
      if (forms_differ) {
        put(out, "; compared at six decimals (A {}, B {})", float_form_name(a.parsed.form),
            float_form_name(b.parsed.form));
      }
      out += '\n';
    }
    out += details_;
    if (hidden_ != 0) put(out, "  ... and {} more\n", hidden_);
  }

 private:
  // Whether the next human detail line is within --show.
  bool take_slot() {
    if (shown_ < options_.show) {
      ++shown_;
      return true;
    }
    ++hidden_;
    return false;
  }

  void put_key_json(const PlacementRow& r) {
    put(details_, ",\"source_cell_x\":{},\"source_cell_y\":{},\"source_obj_idx\":{}", r.key.cell_x, r.key.cell_y,
        r.key.obj_idx);
  }

  void only_in(bool a, const PlacementRow& r) {
    ++(a ? only_a_ : only_b_);
    if (options_.json) {
      open_record(details_, "only_in", label_);
      put(details_, ",\"side\":\"{}\"", side_key(a));
      put_key_json(r);
      put(details_, ",\"obj_id\":\"0x{:08X}\",\"line\":{}}}\n", r.obj_id, r.line);
    } else if (take_slot()) {
      put(details_, "  only in {}: cell ({},{}) idx {}, 0x{:08X}, line {}\n", side_name(a), r.key.cell_x,
          r.key.cell_y, r.key.obj_idx, r.obj_id, r.line);
    }
  }

  FloatSide float_side(const SideFile& s, const PlacementRow& r, std::size_t f) const {
    return FloatSide{s.parsed.form, r.bits[f], r.text(s.text, f)};
  }

  void compare_rows(const PlacementRow& ra, const PlacementRow& rb) {
    // Most matched rows are equal: decide that before building any report.
    std::uint32_t differing = 0;
    for (std::size_t f = 0; f < kFloatFields; ++f) {
      if (!float_equal(float_side(*a_, ra, f), float_side(*b_, rb, f), as_bits_)) differing |= 1u << f;
    }
    const bool obj_differs = ra.obj_id != rb.obj_id;
    const bool script_differs = ra.default_script_id != rb.default_script_id;
    if (differing == 0 && !obj_differs && !script_differs) return;
    std::array<FloatChange, kFloatFields> floats;
    std::size_t n_floats = 0;
    for (std::size_t f = 0; f < kFloatFields; ++f) {
      if ((differing >> f) & 1u) {
        floats[n_floats++] = describe_change(f, float_side(*a_, ra, f), float_side(*b_, rb, f), as_bits_);
      }
    }
    const std::size_t n = n_floats + (obj_differs ? 1 : 0) + (script_differs ? 1 : 0);
    ++changed_;
    changed_fields_ += n;

    if (options_.json) {
      const auto open = [&](std::string_view field) {
        open_record(details_, "changed", label_);
        put_key_json(ra);
        put(details_, ",\"a_line\":{},\"b_line\":{},\"field\":\"{}\"", ra.line, rb.line, field);
      };
      if (obj_differs) {
        open("obj_id");
        put(details_, ",\"a\":\"0x{:08X}\",\"b\":\"0x{:08X}\"}}\n", ra.obj_id, rb.obj_id);
      }
      for (std::size_t k = 0; k < n_floats; ++k) {
        const FloatChange& c = floats[k];
        open(kFloatFieldNames[c.field]);
        details_ += ",\"a\":";
        put_json_string(details_, c.a.text);
        details_ += ",\"b\":";
        put_json_string(details_, c.b.text);
        details_ += ",\"a_six\":";
        put_json_string(details_, c.a_six.view());
        details_ += ",\"b_six\":";
        put_json_string(details_, c.b_six.view());
        if (c.ulps) put(details_, ",\"ulps\":{}", *c.ulps);
        else details_ += ",\"ulps\":null";
        put(details_, ",\"exact\":{}}}\n", c.exact);
      }
      if (script_differs) {
        open("default_script_id");
        put(details_, ",\"a\":\"0x{:08X}\",\"b\":\"0x{:08X}\"}}\n", ra.default_script_id, rb.default_script_id);
      }
      return;
    }

    if (!take_slot()) return;
    put(details_, "  changed: cell ({},{}) idx {}, 0x{:08X}:", ra.key.cell_x, ra.key.cell_y, ra.key.obj_idx,
        ra.obj_id);
    const char* sep = " ";
    if (obj_differs) {
      put(details_, "{}obj_id 0x{:08X} -> 0x{:08X}", sep, ra.obj_id, rb.obj_id);
      sep = "; ";
    }
    for (std::size_t k = 0; k < n_floats; ++k) {
      const FloatChange& c = floats[k];
      put(details_, "{}{} {} -> {}", sep, kFloatFieldNames[c.field], c.a_six.view(), c.b_six.view());
      sep = "; ";
      if (c.exact) {
        put(details_, " (bits {} -> {}", c.a.bits, c.b.bits);
        if (c.ulps) put(details_, ", {:+} ulp{}", *c.ulps, *c.ulps == 1 || *c.ulps == -1 ? "" : "s");
        details_ += ')';
      } else if (c.ulps) {
        put(details_, " (~{:+} ulp{})", *c.ulps, *c.ulps == 1 || *c.ulps == -1 ? "" : "s");
      }
    }
    if (script_differs) put(details_, "{}default_script_id 0x{:08X} -> 0x{:08X}", sep, ra.default_script_id,
                            rb.default_script_id);
    details_ += '\n';
  }

  const DiffOptions& options_;
  DiffTotals& totals_;
  std::string details_;  // reused from landblock to landblock
  std::string_view label_;
  const SideFile* a_ = nullptr;
  const SideFile* b_ = nullptr;
  bool as_bits_ = false;
  std::size_t shown_ = 0;
  std::uint64_t hidden_ = 0;
  std::uint64_t only_a_ = 0, only_b_ = 0, changed_ = 0, changed_fields_ = 0;
};

void report_digest(const DiffOptions& options, std::string_view label, bool a, const SideFile& s,
                   std::string& out) {
  if (options.json) {
    open_record(out, "digest", label);
    put(out, ",\"side\":\"{}\",\"problem\":\"{}\",\"file\":", side_key(a), digest_problem_key(s.problem));
    put_json_string(out, app::display_path(s.problem == DigestProblem::orphan ? s.digest_path : s.path));
    if (s.problem == DigestProblem::mismatch) {
      out += ",\"expected\":";
      put_json_string(out, s.expected_digest());
      out += ",\"actual\":";
      put_json_string(out, s.actual_digest);
    }
    out += "}\n";
    return;
  }
  put(out, "{}: {}: ", label, side_name(a));
  switch (s.problem) {
    case DigestProblem::mismatch:
      put(out, "placement file does not match its digest (interrupted bake?): digest file {}, file {}\n",
          short_digest(s.expected_digest()), short_digest(s.actual_digest));
      break;
    case DigestProblem::missing: out += "placement file has no digest file\n"; break;
    case DigestProblem::malformed:
      out += "digest file is not 64 lower-case hexadecimal digits and a line feed\n";
      break;
    case DigestProblem::orphan: out += "digest file without a placement file\n"; break;
    case DigestProblem::none: break;
  }
}

// Reports a landblock where at most one side's file parsed.
void report_one_sided(const DiffOptions& options, std::string_view label, const SideFile& a, const SideFile& b,
                      DiffTotals& totals, std::string& out) {
  ++totals.landblocks_different;
  totals.objects_a += a.parsed.rows.size();
  totals.objects_b += b.parsed.rows.size();
  if (!a.unreadable.empty() || !b.unreadable.empty()) {
    ++totals.landblocks_unreadable;
    for (const bool side_a : {true, false}) {
      const SideFile& s = side_a ? a : b;
      if (s.unreadable.empty()) continue;
      if (options.json) {
        open_record(out, "landblock", label);
        put(out, ",\"status\":\"unreadable\",\"side\":\"{}\",\"error\":", side_key(side_a));
        put_json_string(out, s.unreadable);
        out += "}\n";
      } else {
        put(out, "{}: cannot compare, {}'s placement file is damaged: {}\n", label, side_name(side_a), s.unreadable);
      }
    }
    return;
  }
  const bool in_a = a.present;
  const std::uint64_t n = in_a ? a.parsed.rows.size() : b.parsed.rows.size();
  ++(in_a ? totals.landblocks_only_a : totals.landblocks_only_b);
  (in_a ? totals.only_a : totals.only_b) += n;
  if (options.json) {
    open_record(out, "landblock", label);
    put(out, ",\"status\":\"only_{}\",\"a_objects\":{},\"b_objects\":{}}}\n", side_key(in_a), a.parsed.rows.size(),
        b.parsed.rows.size());
  } else {
    put(out, "{}: only in {} ({} object{})\n", label, side_name(in_a), n, n == 1 ? "" : "s");
  }
}

// Digest checks, parsing and comparison of one landblock's pair of files.
AppResult<void> diff_landblock(const DiffOptions& options, std::string_view label, SideFile& a, SideFile& b,
                               app::Sha256Hasher& hasher, LandblockComparer& comparer, DiffTotals& totals,
                               std::string& out) {
  TRY(load_side(a, hasher));
  TRY(load_side(b, hasher, &a));
  if (a.present || b.present) ++totals.landblocks;
  for (const bool side_a : {true, false}) {
    const SideFile& s = side_a ? a : b;
    if (s.problem == DigestProblem::none) continue;
    ++totals.digest_problems;
    report_digest(options, label, side_a, s, out);
  }
  if (!a.present && !b.present) return {};
  if (b.same_as_twin) {
    totals.objects_a += a.parsed.rows.size();
    totals.objects_b += a.parsed.rows.size();
  } else if (a.readable && b.readable) {
    comparer.compare(label, a, b, out);
  } else {
    report_one_sided(options, label, a, b, totals, out);
  }
  return {};
}

// ---------------------------------------------------------------- provenance

AppResult<std::optional<Provenance>> read_provenance(const fs::path& dir, bool present, std::string& buf) {
  if (!present) return std::optional<Provenance>();
  TRY_ASSIGN(Provenance p, read_provenance_file(dir / app::kProvenanceFileName, buf));
  return std::optional<Provenance>(std::move(p));
}

AppResult<void> diff_provenance(const fs::path& a, bool in_a, const fs::path& b, bool in_b,
                                const DiffOptions& options, DiffTotals& totals, std::string& out) {
  std::string buf;
  TRY_ASSIGN(const std::optional<Provenance> pa, read_provenance(a, in_a, buf));
  TRY_ASSIGN(const std::optional<Provenance> pb, read_provenance(b, in_b, buf));
  if (!pa || !pb) {
    if (pa || pb) ++totals.provenance_differences;
    const std::string_view where = !pa && !pb ? "both" : (!pa ? "a" : "b");
    if (options.json) {
      put(out, "{{\"type\":\"provenance_missing\",\"side\":\"{}\"}}\n", where);
    } else {
      put(out, "{}: missing in {}{}\n", app::kProvenanceFileName,
          where == "both" ? "both" : side_name(where == "a"),
          where == "both" ? " (nothing to compare)" : "");
    }
    return {};
  }
  bool header = false;
  for (std::size_t i = 0; i < kProvenanceLines; ++i) {
    const std::string& va = pa->values[i];
    const std::string& vb = pb->values[i];
    if (va == vb) continue;
    ++totals.provenance_differences;
    if (options.json) {
      put(out, "{{\"type\":\"provenance\",\"key\":\"{}\",\"category\":\"{}\",\"a\":", kProvenanceKeys[i],
          provenance_category(i));
      put_json_string(out, va);
      out += ",\"b\":";
      put_json_string(out, vb);
      out += "}\n";
      continue;
    }
    if (!header) {
      put(out, "{} differs:\n", app::kProvenanceFileName);
      header = true;
    }
    const bool digest = provenance_category(i) == "input";
    put(out, "  {} {}: A {}, B {}\n", provenance_category(i), kProvenanceKeys[i],
        digest ? short_digest(va) : std::string_view(va), digest ? short_digest(vb) : std::string_view(vb));
  }
  return {};
}

// ---------------------------------------------------------------- whole runs

std::string landblock_label(std::uint16_t lb) { return fmt::format("0x{:04X}", lb); }

AppResult<void> diff_dirs(const fs::path& a, const fs::path& b, const DiffOptions& options, DiffTotals& totals,
                          ReportSink& sink) {
  TRY_ASSIGN(const Listing la, list_bake_dir(a));
  TRY_ASSIGN(const Listing lb, list_bake_dir(b));
  TRY(diff_provenance(a, la.provenance, b, lb.provenance, options, totals, sink.out()));
  TRY_ASSIGN(app::Sha256Hasher hasher, app::Sha256Hasher::create());
  LandblockComparer comparer(options, totals);
  SideFile sa, sb;
  for (std::uint32_t id = 0; id < 65536; ++id) {
    const std::uint8_t fa = la.flags[id];
    const std::uint8_t fb = lb.flags[id];
    if ((fa | fb) == 0) continue;
    const std::string label = landblock_label(static_cast<std::uint16_t>(id));
    const std::string file = fmt::format("{}{}", label, kPlacementSuffix);
    const std::string digest = fmt::format("{}{}", label, kDigestSuffix);
    const auto locate = [&](SideFile& s, const fs::path& dir, std::uint8_t flags) {
      s.path = dir / file;
      s.digest_path = dir / digest;
      s.present = (flags & kHasPlacement) != 0;
      s.digest_present = (flags & kHasDigest) != 0;
      s.digest_required = true;
    };
    locate(sa, a, fa);
    locate(sb, b, fb);
    TRY(diff_landblock(options, label, sa, sb, hasher, comparer, totals, sink.out()));
    TRY(sink.flush_if_large());
  }
  return {};
}

// Two placement files given directly: their digests are checked when the
// digest files exist beside them.
AppResult<void> diff_files(const fs::path& a, const fs::path& b, const DiffOptions& options, DiffTotals& totals,
                           ReportSink& sink) {
  TRY_ASSIGN(app::Sha256Hasher hasher, app::Sha256Hasher::create());
  LandblockComparer comparer(options, totals);
  SideFile sa, sb;
  const auto locate = [](SideFile& s, const fs::path& path) {
    s.path = path;
    s.digest_path = path;
    s.digest_path += ".sha256";
    s.present = true;
    std::error_code ec;
    s.digest_present = fs::exists(s.digest_path, ec);
  };
  locate(sa, a);
  locate(sb, b);
  std::string label;
  for (const fs::path& p : {a, b}) {
    if (const auto lb = landblock_of(p.filename().string(), kPlacementSuffix); lb && label.empty()) {
      label = landblock_label(*lb);
    }
  }
  if (label.empty()) label = app::display_path(a.filename());
  TRY(diff_landblock(options, label, sa, sb, hasher, comparer, totals, sink.out()));
  return {};
}

// "1 landblock", "2 landblocks".
std::string counted(std::uint64_t n, std::string_view noun) {
  return fmt::format("{} {}{}", n, noun, n == 1 ? "" : "s");
}

void put_summary(const DiffOptions& options, const DiffTotals& t, std::string& out) {
  if (options.json) {
    put(out,
        "{{\"type\":\"summary\",\"identical\":{},\"landblocks\":{},\"landblocks_different\":{},"
        "\"landblocks_only_a\":{},\"landblocks_only_b\":{},\"landblocks_unreadable\":{},"
        "\"landblocks_compared_six_decimal\":{},\"objects_a\":{},\"objects_b\":{},\"only_a\":{},\"only_b\":{},"
        "\"changed\":{},\"changed_fields\":{},\"digest_problems\":{},\"provenance_differences\":{}}}\n",
        t.identical(), t.landblocks, t.landblocks_different, t.landblocks_only_a, t.landblocks_only_b,
        t.landblocks_unreadable, t.landblocks_six_decimal, t.objects_a, t.objects_b, t.only_a, t.only_b, t.changed,
        t.changed_fields, t.digest_problems, t.provenance_differences);
    return;
  }
  if (t.identical()) {
    put(out, "identical: {}, {}", counted(t.landblocks, "landblock"), counted(t.objects_a, "object"));
  } else {
    put(out,
        "different: {} of {} ({} only in A, {} only in B, {} unreadable); objects: {} only in A, {} only in B, {} "
        "changed ({}); {}; {}",
        t.landblocks_different, counted(t.landblocks, "landblock"), t.landblocks_only_a, t.landblocks_only_b,
        t.landblocks_unreadable, t.only_a, t.only_b, t.changed, counted(t.changed_fields, "field"),
        counted(t.digest_problems, "digest problem"), counted(t.provenance_differences, "provenance difference"));
  }
  if (t.landblocks_six_decimal != 0) {
    put(out, "; {} compared at six decimals (one side --bits, the other six-decimal)",
        counted(t.landblocks_six_decimal, "landblock"));
  }
  out += '\n';
}

}  // namespace

AppResult<void> ReportSink::flush_if_large() {
  if (file_ == nullptr || buf_.size() < (std::size_t{1} << 20)) return {};
  return flush();
}

AppResult<void> ReportSink::flush() {
  if (file_ == nullptr || buf_.empty()) return {};
  if (std::fwrite(buf_.data(), 1, buf_.size(), file_) != buf_.size() || std::fflush(file_) != 0) {
    return common::fail(Error::os(errno).context("write the report"));
  }
  buf_.clear();
  return {};
}

AppResult<DiffTotals> diff_bakes(const fs::path& a, const fs::path& b, const DiffOptions& options,
                                 ReportSink& sink) {
  DiffTotals totals;
  struct stat st_a {}, st_b {};
  if (::stat(a.c_str(), &st_a) != 0) return common::fail(Error::os(errno).context("open " + app::display_path(a)));
  if (::stat(b.c_str(), &st_b) != 0) return common::fail(Error::os(errno).context("open " + app::display_path(b)));
  const bool dir_a = S_ISDIR(st_a.st_mode);
  const bool dir_b = S_ISDIR(st_b.st_mode);
  if (dir_a != dir_b) {
    return common::fail(Error(fmt::format("{} is a {} and {} is not: give two bake output directories or two "
                                          "placement files",
                                          app::display_path(dir_a ? a : b), "directory",
                                          app::display_path(dir_a ? b : a))));
  }
  if (dir_a) {
    TRY(diff_dirs(a, b, options, totals, sink));
  } else {
    TRY(diff_files(a, b, options, totals, sink));
  }
  put_summary(options, totals, sink.out());
  TRY(sink.flush());
  return totals;
}

}  // namespace strewmill::tools
