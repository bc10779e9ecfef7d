#include "tools/writer/worldgen.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "tools/writer/archive_writer.h"
#include "tools/writer/byte_writer.h"
#include "tools/writer/land_records.h"
#include "tools/writer/object_records.h"

namespace strewmill::tools {

namespace {

using Bytes = std::vector<std::uint8_t>;
using common::Frame;
using common::Quaternion;
using common::Sphere;
using common::Vector3;

// ---------------------------------------------------------------------------
// Randomness: splitmix64 to derive seeds, xoshiro256** for each stream.

std::uint64_t splitmix64(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::uint64_t mix(std::uint64_t a, std::uint64_t b) {
  std::uint64_t s = a;
  std::uint64_t t = splitmix64(s) ^ b;
  return splitmix64(t);
}

class Rng {
 public:
  explicit Rng(std::uint64_t seed) {
    for (auto& w : s_) w = splitmix64(seed);
  }

  std::uint64_t next() {
    const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
  }
  std::uint32_t u32() { return static_cast<std::uint32_t>(next() >> 32); }
  std::uint16_t u16() { return static_cast<std::uint16_t>(next() >> 48); }
  std::uint8_t u8() { return static_cast<std::uint8_t>(next() >> 56); }
  // 0 to n - 1 (n > 0); the multiply-shift bias is irrelevant here.
  std::uint32_t below(std::uint32_t n) {
    return static_cast<std::uint32_t>((std::uint64_t{u32()} * n) >> 32);
  }
  int range(int lo, int hi) { return lo + static_cast<int>(below(static_cast<std::uint32_t>(hi - lo + 1))); }
  bool chance(unsigned per_mille) { return below(1000) < per_mille; }
  // [0, 1) with 24 random bits.
  float unit() { return static_cast<float>(next() >> 40) * 0x1p-24f; }
  float uniform(float lo, float hi) { return lo + (hi - lo) * unit(); }
  void fill(std::uint8_t* out, std::size_t n) {
    while (n >= 8) {
      const std::uint64_t v = next();
      std::memcpy(out, &v, 8);
      out += 8;
      n -= 8;
    }
    if (n > 0) {
      const std::uint64_t v = next();
      std::memcpy(out, &v, n);
    }
  }

 private:
  static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::array<std::uint64_t, 4> s_{};
};

// One independent stream per kind of record, so adding records of one kind
// never changes another.
enum Stream : std::uint64_t {
  kRegionStream = 1,
  kSceneStream,
  kGfxStream,
  kSetupStream,
  kBuildingStream,
  kTerrainStream,
  kInfoStream,
  kLocalStream,
  kFillerStream,
  kPadStream,
  kNoiseStream,
};

Rng rng_for(const WorldSpec& spec, Stream stream, std::uint64_t index) {
  return Rng(mix(mix(spec.seed, stream), index));
}

std::uint64_t hash3(std::uint64_t seed, std::uint64_t a, std::uint64_t b) { return mix(mix(seed, a), b); }

// ---------------------------------------------------------------------------
// Texts. Records hold UTF-8; on disk each text gets one of the encodings the
// reader sniffs, rotating, so every encoding occurs in every world.

std::vector<char32_t> code_points(std::string_view utf8) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    int len = 1;
    char32_t cp = b;
    if (b >= 0xF0) {
      len = 4;
      cp = b & 0x07;
    } else if (b >= 0xE0) {
      len = 3;
      cp = b & 0x0F;
    } else if (b >= 0xC0) {
      len = 2;
      cp = b & 0x1F;
    }
    for (int k = 1; k < len && i + static_cast<std::size_t>(k) < utf8.size(); ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]) & 0x3F);
    out.push_back(cp);
    i += static_cast<std::size_t>(len);
  }
  return out;
}

// Code points of the windows-1252 bytes 0x80 to 0x9F (0 where the byte maps
// to a C1 control, which we never need).
constexpr std::array<char32_t, 32> kWin1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::optional<std::string> to_windows1252(std::string_view utf8) {
  std::string out;
  for (const char32_t cp : code_points(utf8)) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    const auto it = std::find(kWin1252High.begin(), kWin1252High.end(), cp);
    if (cp == 0 || it == kWin1252High.end()) return std::nullopt;
    out.push_back(static_cast<char>(0x80 + (it - kWin1252High.begin())));
  }
  return out;
}

std::string to_utf16(std::string_view utf8, bool big_endian) {
  std::string out = big_endian ? std::string("\xFE\xFF") : std::string("\xFF\xFE");
  auto unit = [&](std::uint32_t u) {
    const char hi = static_cast<char>(u >> 8);
    const char lo = static_cast<char>(u & 0xFF);
    if (big_endian) {
      out.push_back(hi);
      out.push_back(lo);
    } else {
      out.push_back(lo);
      out.push_back(hi);
    }
  };
  for (const char32_t cp : code_points(utf8)) {
    if (cp >= 0x10000) {
      const std::uint32_t v = cp - 0x10000;
      unit(0xD800 + (v >> 10));
      unit(0xDC00 + (v & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

class TextEncoder {
 public:
  // The raw bytes to store for `text`; they decode back to `text`.
  std::string raw(std::string_view text) {
    const unsigned k = n_++;
    const bool ascii = std::all_of(text.begin(), text.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) {
      switch (k % 6) {
        case 2:  // trailing zero bytes are cut by the reader
          return std::string(text) + std::string(1 + k % 4, '\0');
        case 3:
          return to_utf16(text, false);
        case 5:
          return "\xEF\xBB\xBF" + std::string(text);
        default:
          return std::string(text);
      }
    }
    switch (k % 4) {
      case 0:
        if (auto w = to_windows1252(text)) return *w;
        [[fallthrough]];
      case 1:
        return "\xEF\xBB\xBF" + std::string(text);
      case 2:
        return to_utf16(text, false);
      default:
        return to_utf16(text, true);
    }
  }
  void write(ByteWriter& w, std::string_view text) { w.pstring(raw(text)); }

 private:
  unsigned n_ = 0;
};

// ---------------------------------------------------------------------------
// Streaming archive writer. Produces exactly the bytes ArchiveWriter writes
// for the same records in the same order (blocks in insertion order, then a
// balanced B-tree directory), but writes each record as it arrives, so a
// world of any size costs only its directory entries in memory.

std::uint64_t blocks_for(std::uint64_t size, std::uint32_t payload) {
  return (size + payload - 1) / payload;
}

class StreamArchive {
 public:
  StreamArchive(const std::filesystem::path& path, const dat::DatHeader& header)
      : path_(path), header_(header) {
    f_ = std::fopen(path.c_str(), "wb");
    if (f_ == nullptr) {
      err_ = errno;
      return;
    }
    std::setvbuf(f_, nullptr, _IOFBF, 1 << 20);
    zeros(RawArchive::kFirstBlock);  // room for the header, written last
  }
  StreamArchive(const StreamArchive&) = delete;
  StreamArchive& operator=(const StreamArchive&) = delete;
  ~StreamArchive() {
    if (f_ != nullptr) std::fclose(f_);
  }

  common::Result<void, std::string> status() const {
    if (err_ != 0) return common::fail(io_message());
    return {};
  }
  std::uint64_t size() const { return pos_; }
  std::uint64_t records() const { return entries_.size(); }

  common::Result<void, std::string> add(std::uint32_t id, std::span<const std::uint8_t> bytes,
                                        bool compress) {
    dat::DatFileEntry e;
    e.id = id;
    Bytes packed;
    std::span<const std::uint8_t> stored = bytes;
    if (compress) {
      e.bit_flags = dat::DatFileEntry::kCompressedFlag;
      packed = compress_lrs(bytes);
      stored = packed;
    }
    if (stored.size() > 0xFFFFFFFFu) return common::fail(fmt::format("record {:08X} exceeds 4 GiB", id));
    e.size = static_cast<std::uint32_t>(stored.size());
    e.offset = stored.empty() ? 0 : static_cast<std::uint32_t>(pos_);
    const std::uint64_t span = blocks_for(stored.size(), payload()) * header_.block_size;
    if (pos_ + span > 0xFFFFFFFFu) return common::fail(too_large());
    if (!stored.empty()) emit_chain(stored);
    entries_.push_back(e);
    TRY(status());
    return {};
  }

  common::Result<void, std::string> finish() {
    TRY(status());
    std::sort(entries_.begin(), entries_.end(),
              [](const dat::DatFileEntry& a, const dat::DatFileEntry& b) { return a.id < b.id; });
    for (std::size_t i = 1; i < entries_.size(); ++i) {
      if (entries_[i].id == entries_[i - 1].id)
        return common::fail(fmt::format("record {:08X} written twice", entries_[i].id));
    }
    std::vector<PlannedNode> nodes;
    if (!entries_.empty()) plan_subtree(nodes, 0, static_cast<std::uint32_t>(entries_.size()));
    const std::uint64_t node_span =
        blocks_for(dat::DirectoryNodeLayout::kSize, payload()) * header_.block_size;
    const std::uint64_t nodes_at = pos_;
    const std::uint64_t end = nodes_at + nodes.size() * node_span;
    if (end > 0xFFFFFFFFu) return common::fail(too_large());
    auto node_offset = [&](std::uint32_t node) {
      return static_cast<std::uint32_t>(nodes_at + node * node_span);
    };
    for (std::uint32_t id = 0; id < nodes.size(); ++id) {
      DirectoryNode node;
      for (const std::uint32_t k : nodes[id].keys) node.entries.push_back(entries_[k]);
      node.count = static_cast<std::uint32_t>(node.entries.size());
      for (std::size_t j = 0; j < nodes[id].children.size(); ++j)
        node.branches[j] = node_offset(nodes[id].children[j]);
      emit_chain(encode_node(node));
    }
    dat::DatHeader h = header_;
    h.root_offset = nodes.empty() ? 0 : node_offset(0);
    h.file_size = static_cast<std::uint32_t>(end);
    const Bytes raw = encode_header(h);
    if (err_ == 0 && std::fseek(f_, static_cast<long>(dat::DatHeader::kFileOffset), SEEK_SET) != 0)
      err_ = errno;
    write(raw.data(), raw.size());
    if (std::fclose(f_) != 0 && err_ == 0) err_ = errno != 0 ? errno : EIO;
    f_ = nullptr;
    return status();
  }

 private:
  std::uint32_t payload() const { return header_.block_size - 4; }
  std::string io_message() const {
    return fmt::format("cannot write {}: {}", path_.string(), std::strerror(err_));
  }
  std::string too_large() const { return fmt::format("{} would exceed 4 GiB", path_.string()); }

  void write(const void* p, std::size_t n) {
    if (err_ != 0 || n == 0) return;
    if (std::fwrite(p, 1, n, f_) != n) err_ = errno != 0 ? errno : EIO;
    pos_ += n;
  }
  void zeros(std::size_t n) {
    static constexpr std::uint8_t kZero[4096] = {};
    while (n > 0) {
      const std::size_t k = std::min(n, sizeof kZero);
      write(kZero, k);
      n -= k;
    }
  }
  // Contiguous blocks from the current position, the last one padded.
  void emit_chain(std::span<const std::uint8_t> data) {
    const std::uint32_t bs = header_.block_size;
    std::size_t done = 0;
    auto block = static_cast<std::uint32_t>(pos_);
    do {
      const std::size_t chunk = std::min<std::size_t>(payload(), data.size() - done);
      const bool last = done + chunk == data.size();
      const std::uint32_t next = last ? 0 : block + bs;
      write(&next, 4);
      write(data.data() + done, chunk);
      zeros(payload() - chunk);
      done += chunk;
      block += bs;
    } while (done < data.size());
  }

  std::filesystem::path path_;
  dat::DatHeader header_;
  std::FILE* f_ = nullptr;
  int err_ = 0;
  std::uint64_t pos_ = 0;
  std::vector<dat::DatFileEntry> entries_;
};

// ---------------------------------------------------------------------------
// The catalogue: how many records of each kind, and their ids.

constexpr int kTerrainTypes = 29;  // terrain words reach 0..31: the top ones are out of range
constexpr int kBuildingGfx = 6;
constexpr int kBuildingSetups = 6;
constexpr int kMaxScenes = 40000;
constexpr int kMaxObjectsPerScene = 5000;

constexpr std::uint32_t building_gfx_id(int k) { return 0x0100E000u + static_cast<std::uint32_t>(k); }
constexpr std::uint32_t building_setup_id(int k) { return 0x0200E000u + static_cast<std::uint32_t>(k); }
// Ids that no record carries.
constexpr std::uint32_t missing_gfx_id(std::uint32_t k) { return 0x0100F000u + (k & 0xFFF); }
constexpr std::uint32_t missing_setup_id(std::uint32_t k) { return 0x0200F000u + (k & 0xFFF); }
constexpr std::uint32_t missing_scene_id(std::uint32_t k) { return 0x1200F000u + (k & 0xFFF); }
// Objects of kinds that have no footprint.
constexpr std::array<std::uint32_t, 4> kOtherKindIds = {0x03000011u, 0x0D00002Au, 0x00000000u,
                                                        0x33000101u};

struct Catalogue {
  int scenes = 0;
  int gfx = 0;     // scenery graphics objects
  int setups = 0;  // scenery setup models
  int scene_types = 0;
};

Catalogue make_catalogue(const WorldSpec& spec) {
  Catalogue c;
  c.scenes = spec.scenes;
  c.gfx = std::max(24, spec.scenes / 2);
  c.setups = std::max(12, spec.scenes / 5);
  c.scene_types = std::clamp(spec.scenes / 6, 8, 64);
  return c;
}

// Graphics objects without vertices: footprint-less parts and objects.
bool gfx_without_vertices(int k) { return k % 23 == 11; }
// A few graphics objects have a thousand vertices and span many blocks.
bool gfx_is_big(int k) { return k % 37 == 3; }
// Setups whose parts yield no mesh at all.
bool setup_without_mesh(int k) { return k % 17 == 9 || k % 31 == 15; }

// ---------------------------------------------------------------------------
// Small value makers.

Vector3 vec(Rng& r, float lo, float hi) { return Vector3{r.uniform(lo, hi), r.uniform(lo, hi), r.uniform(lo, hi)}; }

// A turn about z by a random angle, without trigonometry: the half-angle's
// cosine and sine from the rational parametrisation of the circle.
Quaternion yaw(Rng& r) {
  const float t = r.uniform(-1.0f, 1.0f);
  const float d = 1.0f + t * t;
  return Quaternion{(1.0f - t * t) / d, 0.0f, 0.0f, (2.0f * t) / d};
}

Quaternion orientation(Rng& r) {
  switch (r.below(4)) {
    case 0:
    case 1:
      return Quaternion{1.0f, 0.0f, 0.0f, 0.0f};
    case 2:
      return yaw(r);
    default: {
      Quaternion q{r.uniform(-1, 1), r.uniform(-1, 1), r.uniform(-1, 1), r.uniform(-1, 1)};
      const float n = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
      if (n > 0.0f) q = Quaternion{q.w / n, q.x / n, q.y / n, q.z / n};
      return q;
    }
  }
}

Frame frame(Rng& r, float extent) { return Frame{vec(r, -extent, extent), orientation(r)}; }

Sphere sphere(Rng& r) { return Sphere{vec(r, -2.0f, 2.0f), r.uniform(0.1f, 5.0f)}; }

Vector3 normalized(Vector3 v) {
  const float n = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  if (n == 0.0f) return Vector3{0.0f, 0.0f, 1.0f};
  return Vector3{v.x / n, v.y / n, v.z / n};
}

common::Plane plane(Rng& r) { return common::Plane{normalized(vec(r, -1.0f, 1.0f)), r.uniform(-4.0f, 4.0f)}; }

template <std::size_t N>
std::array<std::uint32_t, N> words(Rng& r) {
  std::array<std::uint32_t, N> a{};
  for (auto& w : a) w = r.u32();
  return a;
}

template <std::size_t N>
std::vector<std::array<std::uint32_t, N>> word_list(Rng& r, int max) {
  std::vector<std::array<std::uint32_t, N>> v(static_cast<std::size_t>(r.range(0, max)));
  for (auto& a : v) a = words<N>(r);
  return v;
}

std::uint32_t float_bits(float f) {
  std::uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}

// ---------------------------------------------------------------------------
// Region

constexpr std::array<std::string_view, kTerrainTypes> kTerrainNames = {
    "Meadow",          "Scrubland",      "Wüstensand",    "Bog",           "Pine Forest",
    "Tundra ❄",        "Open Water",     "Heath",         "Salt Flats",    "Birch Grove",
    "Rocky Slope",     "Marsh",          "Prairie d'été", "Cinder Field",  "Fen",
    "Jungle",          "Glacier",        "Orchard",       "Mudflat",       "Cliffs",
    "Road Verge",      "Mossland",       "Steppe",        "Mangrove",      "Lava Crust",
    "Sand Dunes",      "Snowfield",      "Lichen Barrens", "Œuvre Parkland"};

constexpr std::array<std::string_view, 16> kTimeNames = {
    "Dawnsong",  "Morning",    "Mañana",     "Midday",   "Afternoon", "Vesper",
    "Dusk",      "黄昏",        "Eventide",   "Nightfall", "Midnight", "Witching Hour",
    "Gloaming",  "Før daggry", "Sunrise 🌅", "Prime"};

constexpr std::array<std::string_view, 4> kSeasonNames = {"Frostmoot", "Thawing", "Highsun",
                                                          "Leaffall — Herbst"};

constexpr std::array<std::string_view, 3> kDayGroupNames = {"Clear", "Überzogen", "Storm"};

// A height table that rises slowly near sea level and steeply in the
// mountains, like real ones.
std::array<float, 256> height_table() {
  std::array<float, 256> t{};
  for (int i = 0; i < 256; ++i) {
    const auto f = static_cast<float>(i);
    if (i < 32) t[static_cast<std::size_t>(i)] = f;
    else if (i < 128) t[static_cast<std::size_t>(i)] = 32.0f + (f - 32.0f) * 2.0f;
    else if (i < 224) t[static_cast<std::size_t>(i)] = 224.0f + (f - 128.0f) * 4.0f;
    else t[static_cast<std::size_t>(i)] = 608.0f + (f - 224.0f) * 10.0f;
  }
  return t;
}

dat::Region make_region(const WorldSpec& spec, const Catalogue& cat) {
  Rng r = rng_for(spec, kRegionStream, 0);
  dat::Region g;
  g.id = kWorldRegionId;
  g.header_1 = 1;
  g.header_2 = r.u32();
  g.name = "Strewmill Reach";
  g.params = words<8>(r);
  g.params[0] = float_bits(24.0f);
  g.land_height_table = height_table();

  dat::GameTime& t = g.game_time;
  t.value = 3600.0 * 24.0 * static_cast<double>(r.range(100, 999));
  t.scalar_1 = r.u32();
  t.scalar_2 = r.u32();
  t.scalar_3 = r.u32();
  t.name = "Calendrier de l'Été";
  for (std::size_t i = 0; i < kTimeNames.size(); ++i)
    t.times_of_day.push_back(dat::TimeOfDay{r.u32(), i % 3 != 1, std::string(kTimeNames[i])});
  t.names = {"Morningthaw", "", "Coldeve", "Ålborg", "Kalt", "Летний"};
  // One text long enough to need the extended length form.
  std::string chronicle;
  while (chronicle.size() < 70000) chronicle += "Of the founding of the mill and the strewing of the seeds. ";
  t.names.push_back(std::move(chronicle));
  for (const auto name : kSeasonNames) t.seasons.push_back(dat::Season{r.u32(), std::string(name)});

  g.parts_mask = spec.region_parts_mask;
  if (g.parts_mask & dat::kRegionHasSky) {
    dat::SkyDesc sky;
    sky.value_1 = 0.25;
    sky.value_2 = 7.5e-3;
    for (std::size_t i = 0; i < kDayGroupNames.size(); ++i) {
      dat::DayGroup d;
      d.scalar = float_bits(r.uniform(0.0f, 1.0f));
      d.name = std::string(kDayGroupNames[i]);
      if (i != 1) {  // one group with empty lists
        d.sky_objects = word_list<9>(r, 4);
        d.times.resize(static_cast<std::size_t>(r.range(1, 5)));
        for (auto& st : d.times) {
          const auto w = words<11>(r);
          st.scalar_1 = w[0];
          st.scalar_2 = w[1];
          st.scalar_3 = w[2];
          st.scalar_4 = w[3];
          st.scalar_5 = w[4];
          st.scalar_6 = w[5];
          st.scalar_7 = w[6];
          st.scalar_8 = w[7];
          st.scalar_9 = w[8];
          st.scalar_10 = w[9];
          st.scalar_11 = w[10];
          st.entries = word_list<6>(r, 3);
        }
      }
      sky.day_groups.push_back(std::move(d));
    }
    g.sky = std::move(sky);
  }
  if (g.parts_mask & dat::kRegionHasSound) {
    dat::SoundDesc sound;
    sound.ambient.resize(5);
    for (std::size_t i = 0; i < sound.ambient.size(); ++i) {
      sound.ambient[i].scalar = r.u32();
      if (i != 2) sound.ambient[i].entries = word_list<5>(r, 6);
    }
    g.sound = std::move(sound);
  }
  if (g.parts_mask & dat::kRegionHasScene) {
    dat::SceneDesc scene;
    scene.scene_types.resize(static_cast<std::size_t>(cat.scene_types));
    for (int k = 0; k < cat.scene_types; ++k) {
      dat::SceneType& st = scene.scene_types[static_cast<std::size_t>(k)];
      st.scalar = r.u32();
      if (k % 16 == 5) continue;  // no candidate scenes
      const int count = r.range(1, 8);
      for (int j = 0; j < count; ++j) {
        const int s = (k + j * cat.scene_types + r.range(0, 2)) % cat.scenes;
        st.scene_ids.push_back(world_scene_id(s));
      }
      if (k % 11 == 3) st.scene_ids.push_back(missing_scene_id(static_cast<std::uint32_t>(k)));
    }
    g.scene = std::move(scene);
  }

  dat::TerrainDesc& td = g.terrain;
  for (int k = 0; k < kTerrainTypes; ++k) {
    dat::TerrainType tt;
    tt.name = std::string(kTerrainNames[static_cast<std::size_t>(k)]);
    tt.scalar = r.u32();
    if (k != 6 && k != 20) {  // water and road verges carry no scenery
      const int n = r.range(4, 12);
      for (int j = 0; j < n; ++j) {
        std::uint32_t idx = r.below(static_cast<std::uint32_t>(cat.scene_types));
        if (r.chance(40)) idx = r.chance(500) ? 0xFFFFFFFFu : static_cast<std::uint32_t>(cat.scene_types) + r.below(10);
        tt.scene_type_indices.push_back(idx);
      }
    }
    td.terrain_types.push_back(std::move(tt));
  }
  td.scalar_1 = r.u32();
  td.scalar_2 = r.u32();
  td.pairs_1 = word_list<2>(r, 6);
  td.pairs_3 = word_list<2>(r, 3);  // pairs_2 stays empty
  td.word_records = word_list<11>(r, 5);
  if (g.parts_mask & dat::kRegionHasMisc) {
    const auto w = words<6>(r);
    g.misc = dat::RegionMisc{w[0], w[1], w[2], w[3], w[4], w[5]};
  }
  return g;
}

Bytes write_region(const dat::Region& g) {
  ByteWriter w;
  TextEncoder te;
  w.u32(g.id).u32(g.header_1).u32(g.header_2);
  te.write(w, g.name);
  for (const std::uint32_t p : g.params) w.u32(p);
  for (const float h : g.land_height_table) w.f32(h);

  const dat::GameTime& t = g.game_time;
  w.f64(t.value).u32(t.scalar_1).u32(t.scalar_2).u32(t.scalar_3);
  te.write(w, t.name);
  w.u32(static_cast<std::uint32_t>(t.times_of_day.size()));
  for (const auto& d : t.times_of_day) {
    w.u32(d.scalar).u32(d.flag ? 1u + (d.scalar & 0x10u) : 0u);  // any nonzero word is true
    te.write(w, d.name);
  }
  w.u32(static_cast<std::uint32_t>(t.names.size()));
  for (const auto& n : t.names) te.write(w, n);
  w.u32(static_cast<std::uint32_t>(t.seasons.size()));
  for (const auto& s : t.seasons) {
    w.u32(s.scalar);
    te.write(w, s.name);
  }

  w.u32(g.parts_mask);
  if (g.sky) {
    w.f64(g.sky->value_1).f64(g.sky->value_2).align4();
    w.u32(static_cast<std::uint32_t>(g.sky->day_groups.size()));
    for (const auto& d : g.sky->day_groups) {
      w.u32(d.scalar);
      te.write(w, d.name);
      w.u32(static_cast<std::uint32_t>(d.sky_objects.size()));
      for (const auto& o : d.sky_objects) {
        for (const std::uint32_t v : o) w.u32(v);
      }
      w.u32(static_cast<std::uint32_t>(d.times.size()));
      for (const auto& st : d.times) {
        for (const std::uint32_t v : {st.scalar_1, st.scalar_2, st.scalar_3, st.scalar_4, st.scalar_5,
                                      st.scalar_6, st.scalar_7, st.scalar_8, st.scalar_9, st.scalar_10,
                                      st.scalar_11})
          w.u32(v);
        w.u32(static_cast<std::uint32_t>(st.entries.size()));
        for (const auto& e : st.entries) {
          for (const std::uint32_t v : e) w.u32(v);
        }
      }
    }
  }
  if (g.sound) write_sound_desc(w, *g.sound);
  if (g.scene) write_scene_desc(w, *g.scene);
  const dat::TerrainDesc& td = g.terrain;
  w.u32(static_cast<std::uint32_t>(td.terrain_types.size()));
  for (const auto& tt : td.terrain_types) {
    te.write(w, tt.name);
    w.u32(tt.scalar).u32(static_cast<std::uint32_t>(tt.scene_type_indices.size()));
    for (const std::uint32_t i : tt.scene_type_indices) w.u32(i);
  }
  w.u32(td.scalar_1).u32(td.scalar_2);
  for (const auto* pairs : {&td.pairs_1, &td.pairs_2, &td.pairs_3}) {
    w.u32(static_cast<std::uint32_t>(pairs->size()));
    for (const auto& p : *pairs) w.u32(p[0]).u32(p[1]);
  }
  w.u32(static_cast<std::uint32_t>(td.word_records.size()));
  for (const auto& rec : td.word_records) {
    for (const std::uint32_t v : rec) w.u32(v);
  }
  if (g.misc) write_region_misc(w, *g.misc);
  return w.take();
}

// ---------------------------------------------------------------------------
// Scenes

std::uint32_t pick_object(Rng& r, const Catalogue& cat) {
  const std::uint32_t roll = r.below(100);
  if (roll < 65) return world_gfx_id(r.range(0, cat.gfx - 1));
  if (roll < 93) return world_setup_id(r.range(0, cat.setups - 1));
  if (roll < 97) return kOtherKindIds[r.below(kOtherKindIds.size())];
  return r.chance(500) ? missing_gfx_id(r.u32()) : missing_setup_id(r.u32());
}

dat::ObjectDesc make_object_desc(Rng& r, const Catalogue& cat) {
  dat::ObjectDesc d;
  d.obj_id = pick_object(r, cat);
  if (r.chance(500)) {
    d.base_frame.orientation = orientation(r);
  } else {
    d.base_frame = frame(r, 10.0f);
    d.base_frame.origin.z = r.chance(800) ? 0.0f : r.uniform(-0.5f, 1.5f);
  }
  const std::uint32_t f = r.below(100);
  if (f < 80) d.frequency = r.uniform(0.15f, 1.0f);
  else if (f < 88) d.frequency = r.uniform(0.0f, 0.15f);
  else if (f < 93) d.frequency = r.uniform(1.0f, 2.0f);
  else if (f < 96) d.frequency = r.uniform(-0.5f, 0.0f);
  else if (f < 98) d.frequency = 0.0f;
  else d.frequency = 1.0f;

  const std::uint32_t disp = r.below(10);
  if (disp < 7) {
    d.displace_x = r.uniform(0.5f, 12.0f);
    d.displace_y = r.chance(500) ? d.displace_x : r.uniform(0.5f, 12.0f);
  } else if (disp < 9) {
    d.displace_x = d.displace_y = 0.0f;
  } else {
    d.displace_x = r.uniform(-3.0f, 0.0f);
    d.displace_y = r.uniform(-3.0f, 6.0f);
  }

  const std::uint32_t sc = r.below(100);
  if (sc < 35) {
    d.min_scale = d.max_scale = r.chance(500) ? 1.0f : r.uniform(0.5f, 1.5f);
  } else if (sc < 95) {
    d.min_scale = r.uniform(0.5f, 1.0f);
    d.max_scale = d.min_scale + r.uniform(0.1f, 1.0f);
  } else {  // inverted range
    d.max_scale = r.uniform(0.5f, 1.0f);
    d.min_scale = d.max_scale + r.uniform(0.1f, 0.5f);
  }

  const std::uint32_t rot = r.below(10);
  d.max_rotation = rot < 7 ? r.uniform(0.0f, 360.0f) : rot < 9 ? 0.0f : 360.0f;

  const std::uint32_t sl = r.below(100);
  if (sl < 60) {
    d.min_slope = 0.0f;
    d.max_slope = 1.0f;
  } else if (sl < 80) {
    d.min_slope = r.uniform(0.8f, 0.95f);
    d.max_slope = 1.0f;
  } else if (sl < 90) {
    d.min_slope = 0.0f;
    d.max_slope = r.uniform(0.6f, 0.9f);
  } else if (sl < 95) {  // inverted
    d.min_slope = r.uniform(0.7f, 0.9f);
    d.max_slope = r.uniform(0.3f, 0.6f);
  } else {  // never passes in strict mode
    d.min_slope = r.uniform(1.01f, 1.5f);
    d.max_slope = 2.0f;
  }
  d.scalar_1 = r.u32();
  d.scalar_2 = r.chance(300) ? 0u : r.u32();
  if (r.chance(30)) d.exclude = r.chance(500) ? 1u : r.u32() | 1u;
  return d;
}

int scene_object_count(const WorldSpec& spec, Rng& r, int k) {
  const int n = spec.objects_per_scene;
  if (k % 50 == 7) return 0;
  if (k % 61 == 17) return n * 8;  // spans many blocks
  return r.range(std::max(n == 0 ? 0 : 1, n / 2), n + n / 2);
}

WorldRecord scene_record(const WorldSpec& spec, const Catalogue& cat, int k) {
  Rng r = rng_for(spec, kSceneStream, static_cast<std::uint64_t>(k));
  dat::Scene s;
  s.id = k % 97 == 13 ? 0u : world_scene_id(k);  // the stored id is not checked
  const int n = scene_object_count(spec, r, k);
  s.objects.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) s.objects.push_back(make_object_desc(r, cat));
  WorldRecord rec;
  rec.id = world_scene_id(k);
  rec.compress = k % 9 == 4;
  rec.bytes = encode_scene(s);
  rec.value = std::move(s);
  return rec;
}

// ---------------------------------------------------------------------------
// Graphics objects. Keyed maps are written from ordered lists (repeated
// keys included) and the decoded maps are built from the same lists.

template <class K, class V>
std::unordered_map<K, V> to_map(std::vector<std::pair<K, V>>&& list) {
  std::unordered_map<K, V> m;
  for (auto& [k, v] : list) m.insert_or_assign(k, std::move(v));
  return m;
}

constexpr std::uint32_t kLeafCode = dat::bsp_code("LEAF");
constexpr std::uint32_t kPortCode = dat::bsp_code("PORT");
constexpr std::array<std::uint32_t, 11> kNodeCodes = {
    dat::bsp_code("BPIN"), dat::bsp_code("BPnN"), dat::bsp_code("BPIn"), dat::bsp_code("BPnn"),
    dat::bsp_code("BpIN"), dat::bsp_code("BpnN"), kPortCode,             dat::bsp_code("BpIn"),
    dat::bsp_code("Bpnn"), kLeafCode,             kLeafCode};

bool code_has_pos(std::uint32_t c) {
  return c == dat::bsp_code("BPIN") || c == dat::bsp_code("BPnN") || c == dat::bsp_code("BPIn") ||
         c == dat::bsp_code("BPnn");
}
bool code_has_neg(std::uint32_t c) {
  return c == dat::bsp_code("BPIN") || c == dat::bsp_code("BPnN") || c == dat::bsp_code("BpIN") ||
         c == dat::bsp_code("BpnN");
}

// Builds a tree exactly as the decoder will return it for its tree type.
class TreeMaker {
 public:
  TreeMaker(Rng& r, dat::BspTreeType type, std::vector<dat::PolyId> polys, bool every_code)
      : r_(r), type_(type), polys_(std::move(polys)), every_code_(every_code) {}

  dat::BspNode node(int depth) {
    std::uint32_t code = kLeafCode;
    if (depth > 0) code = every_code_ ? kNodeCodes[next_++ % kNodeCodes.size()] : kNodeCodes[r_.below(kNodeCodes.size())];
    if (code == kLeafCode) return leaf();
    if (code == kPortCode) {
      dat::BspPortal p;
      p.splitting_plane = plane(r_);
      p.pos_child = std::make_unique<dat::BspNode>(node(depth - 1));
      p.neg_child = std::make_unique<dat::BspNode>(node(depth - 1));
      if (type_ == dat::BspTreeType::drawing) {
        p.bounding_sphere = sphere(r_);
        p.poly_ids = poly_ids(4);
        const int n = r_.range(0, 3);
        for (int i = 0; i < n; ++i) p.portal_polys.push_back(dat::PortalPoly{static_cast<dat::PolyId>(i), poly()});
      }
      return dat::BspNode(std::move(p));
    }
    dat::InternalNode n;
    n.node_type = code;
    n.splitting_plane = plane(r_);
    if (code_has_pos(code)) n.pos_child = std::make_unique<dat::BspNode>(node(depth - 1));
    if (code_has_neg(code)) n.neg_child = std::make_unique<dat::BspNode>(node(depth - 1));
    n.bounding_sphere = sphere(r_);
    if (type_ == dat::BspTreeType::drawing) n.poly_ids = poly_ids(5);
    return dat::BspNode(std::move(n));
  }

 private:
  dat::BspNode leaf() {
    dat::BspLeaf l;
    l.leaf_index = leaves_++;
    if (type_ == dat::BspTreeType::physics) {
      l.leaf_value = r_.below(3);
      l.bounding_sphere = sphere(r_);
      l.poly_ids = poly_ids(4);
    }
    return dat::BspNode(std::move(l));
  }
  dat::PolyId poly() {
    if (polys_.empty()) return r_.u16();
    return polys_[r_.below(static_cast<std::uint32_t>(polys_.size()))];
  }
  std::vector<dat::PolyId> poly_ids(int max) {
    std::vector<dat::PolyId> v(static_cast<std::size_t>(r_.range(0, max)));
    for (auto& p : v) p = poly();
    return v;
  }

  Rng& r_;
  dat::BspTreeType type_;
  std::vector<dat::PolyId> polys_;
  bool every_code_;
  std::size_t next_ = 0;
  std::uint32_t leaves_ = 0;
};

using VertexList = std::vector<std::pair<dat::PolyId, dat::SWVertex>>;
using PolygonList = std::vector<std::pair<dat::PolyId, dat::Polygon>>;

// Points on stacked rings: a trunk-and-crown or boulder-like hull of the
// given radius and height.
VertexList make_vertices(Rng& r, int count, float radius, float height, bool odd_ids) {
  VertexList v;
  const int rings = std::clamp(count / 8, 2, 24);
  for (int i = 0; i < count; ++i) {
    const int ring = i % rings;
    const float level = static_cast<float>(ring) / static_cast<float>(rings - 1);
    // Position on the unit circle from t in [-1, 1]: two half circles.
    const float t = r.uniform(-1.0f, 1.0f);
    const float d = 1.0f + t * t;
    float cx = (1.0f - t * t) / d;
    const float cy = (2.0f * t) / d;
    if ((i & 1) != 0) cx = -cx;
    const float bulge = 0.35f + level * (1.0f - level) * 2.6f;
    const float rr = radius * bulge * r.uniform(0.85f, 1.15f);
    dat::SWVertex sw;
    sw.origin = Vector3{cx * rr, cy * rr, level * height};
    sw.normal = normalized(Vector3{cx, cy, level - 0.5f});
    sw.num_uvs = static_cast<std::uint16_t>(r.below(3));
    for (int u = 0; u < sw.num_uvs; ++u) sw.uvs.push_back(dat::Vec2Duv{r.unit(), r.unit()});
    const auto id = static_cast<dat::PolyId>(odd_ids ? 100 + 3 * i : i);
    v.emplace_back(id, std::move(sw));
  }
  if (odd_ids && v.size() > 2) {
    // A repeated id: the later vertex replaces the earlier one.
    dat::SWVertex again = v[1].second;
    again.origin.z += 0.25f;
    v.emplace_back(v[0].first, std::move(again));
  }
  return v;
}

PolygonList make_polygons(Rng& r, int count, const std::vector<dat::PolyId>& vertex_ids, bool repeat_id) {
  PolygonList list;
  for (int i = 0; i < count; ++i) {
    dat::Polygon p;
    p.num_vertices = static_cast<std::uint8_t>(i == 5 ? 0 : r.range(3, 6));
    p.poly_flags = static_cast<std::uint8_t>((i % 4) * 4);  // every uv index form
    p.sides = i % 3 == 0 ? 1u : 2u;
    p.front_surface = static_cast<dat::PolyId>(r.below(4));
    p.back_surface = static_cast<dat::PolyId>(r.below(4));
    for (int k = 0; k < p.num_vertices; ++k) {
      p.vertex_ids.push_back(vertex_ids.empty() ? r.u16() : vertex_ids[r.below(static_cast<std::uint32_t>(vertex_ids.size()))]);
    }
    if ((p.poly_flags & 4) == 0) {
      for (int k = 0; k < p.num_vertices; ++k) p.front_uv_indices.push_back(static_cast<std::uint8_t>(r.below(3)));
    }
    if ((p.poly_flags & 8) == 0 && p.sides == 2) {
      for (int k = 0; k < p.num_vertices; ++k) p.back_uv_indices.push_back(static_cast<std::uint8_t>(r.below(3)));
    }
    list.emplace_back(static_cast<dat::PolyId>(i), std::move(p));
  }
  if (repeat_id && list.size() > 1) list.emplace_back(list[1].first, list[0].second);
  return list;
}

std::vector<dat::PolyId> keys_of(const PolygonList& list) {
  std::vector<dat::PolyId> k;
  for (const auto& e : list) k.push_back(e.first);
  return k;
}

void write_polygons(ByteWriter& w, const PolygonList& list, const dat::BspNode& tree, dat::BspTreeType type) {
  w.compressed_u32(static_cast<std::uint32_t>(list.size()));
  for (const auto& [id, p] : list) {
    w.u16(id);
    encode_polygon(w, p);
  }
  encode_bsp_node(w, tree, type);
}

struct GfxShape {
  int vertices;
  float radius;
  float height;
};

WorldRecord gfx_record(std::uint32_t id, Rng& r, const GfxShape& shape, bool no_vertices,
                       bool every_code, bool odd_ids, bool compress) {
  constexpr std::array<std::uint32_t, 8> kFlags = {3, 3, 11, 3, 1, 2, 0, 8 | 4 | 3};
  dat::GfxObj g;
  g.id = id;
  g.flags = every_code ? 3u : kFlags[r.below(kFlags.size())];
  const int surfaces = r.range(0, 4);
  for (int i = 0; i < surfaces; ++i) g.surfaces.push_back(0x08000000u + r.below(4000));

  VertexList vertices;
  std::uint32_t stream_count = 0;
  if (no_vertices) {
    g.vertex_array.vertex_type = r.chance(500) ? 0u : 2u;  // only type 1 carries vertices
    stream_count = static_cast<std::uint32_t>(r.range(1, 40));
  } else {
    g.vertex_array.vertex_type = 1;
    vertices = make_vertices(r, shape.vertices, shape.radius, shape.height, odd_ids);
    stream_count = static_cast<std::uint32_t>(vertices.size());
  }
  std::vector<dat::PolyId> vertex_ids;
  for (const auto& v : vertices) vertex_ids.push_back(v.first);

  const int poly_scale = std::max(1, shape.vertices / 6);
  PolygonList physics, drawing;
  if (g.flags & 1) {
    physics = make_polygons(r, r.range(2, 2 + poly_scale), vertex_ids, odd_ids);
    g.physics_bsp = TreeMaker(r, dat::BspTreeType::physics, keys_of(physics), every_code).node(every_code ? 8 : 4);
  }
  g.reference_point = vec(r, -1.0f, 1.0f);
  if (g.flags & 2) {
    drawing = make_polygons(r, r.range(2, 4 + poly_scale), vertex_ids, false);
    g.drawing_bsp = TreeMaker(r, dat::BspTreeType::drawing, keys_of(drawing), every_code).node(every_code ? 8 : 5);
  }
  if (g.flags & 8) g.trailing_id = r.chance(500) ? 0u : 0x0A000000u + r.below(1000);  // a stored 0 is present

  ByteWriter w;
  w.u32(g.id).u32(g.flags).compressed_u32(static_cast<std::uint32_t>(g.surfaces.size()));
  for (const std::uint32_t s : g.surfaces) w.u32(s);
  w.u32(g.vertex_array.vertex_type).u32(stream_count);
  for (const auto& [vid, v] : vertices) {
    w.u16(vid).u16(v.num_uvs).vector3(v.origin).vector3(v.normal);
    for (const auto& uv : v.uvs) w.f32(uv.u).f32(uv.v);
  }
  if (g.flags & 1) write_polygons(w, physics, *g.physics_bsp, dat::BspTreeType::physics);
  w.vector3(g.reference_point);
  if (g.flags & 2) write_polygons(w, drawing, *g.drawing_bsp, dat::BspTreeType::drawing);
  if (g.flags & 8) w.u32(*g.trailing_id);

  g.vertex_array.vertices = to_map(std::move(vertices));
  g.physics_polygons = to_map(std::move(physics));
  g.drawing_polygons = to_map(std::move(drawing));
  WorldRecord rec;
  rec.id = id;
  rec.compress = compress;
  rec.bytes = w.take();
  rec.value = std::move(g);
  return rec;
}

WorldRecord scenery_gfx_record(const WorldSpec& spec, int k) {
  Rng r = rng_for(spec, kGfxStream, static_cast<std::uint64_t>(k));
  GfxShape shape;
  shape.vertices = gfx_is_big(k) ? r.range(600, 1500) : r.range(8, 48);
  shape.radius = r.uniform(0.25f, 2.2f);
  shape.height = r.uniform(0.5f, 9.0f);
  return gfx_record(world_gfx_id(k), r, shape, gfx_without_vertices(k), k < 2, k % 13 == 6,
                    k % 5 == 1 || gfx_is_big(k));
}

WorldRecord building_gfx_record(const WorldSpec& spec, int k) {
  Rng r = rng_for(spec, kBuildingStream, static_cast<std::uint64_t>(k));
  GfxShape shape;
  shape.vertices = r.range(12, 32);
  shape.radius = r.uniform(5.0f, 10.0f);
  shape.height = r.uniform(6.0f, 14.0f);
  return gfx_record(building_gfx_id(k), r, shape, k == kBuildingGfx - 1, false, false, k % 2 == 0);
}

// ---------------------------------------------------------------------------
// Setup models

// Payload bytes of each hook type (5 varies and is handled apart).
constexpr std::array<int, 27> kHookPayload = {0,  4, 4,  28, 0,  -1, 4,  16, 12, 16, 12, 16, 8, 40,
                                              4,  4, 4,  0,  4,  8,  12, 16, 12, 8,  12, 4,  40};

dat::AnimationHook make_hook(Rng& r, std::uint32_t type) {
  dat::AnimationHook h;
  h.hook_type = type;
  h.hook_param = r.below(4);
  if (type == 5) {
    const bool wide = r.chance(500);
    h.payload.push_back(r.u8());
    const std::uint16_t word = static_cast<std::uint16_t>(wide ? 0x8000u | r.u16() : r.u16() & 0x7FFFu);
    h.payload.push_back(static_cast<std::uint8_t>(word & 0xFF));
    h.payload.push_back(static_cast<std::uint8_t>(word >> 8));
    if (wide) {
      h.payload.push_back(r.u8());
      h.payload.push_back(r.u8());
    }
    while (h.payload.size() % 4 != 0) h.payload.push_back(0);  // alignment bytes
    return h;
  }
  h.payload.resize(static_cast<std::size_t>(kHookPayload[type]));
  r.fill(h.payload.data(), h.payload.size());
  return h;
}

WorldRecord setup_record(std::uint32_t id, Rng& r, std::vector<std::uint32_t> parts, bool every_hook,
                         bool compress) {
  constexpr std::array<std::uint32_t, 6> kFlags = {0, 1, 2, 3, 0x10, 3 | 8};
  dat::SetupModel m;
  m.id = id;
  m.flags = kFlags[r.below(kFlags.size())];
  m.part_ids = std::move(parts);
  const std::size_t n = m.part_ids.size();
  if (m.flags & 1) {
    for (std::size_t i = 0; i < n; ++i) m.part_values.push_back(r.u32());
  }
  if (m.flags & 2) {
    for (std::size_t i = 0; i < n; ++i) m.part_vectors.push_back(vec(r, 0.5f, 1.5f));
  }
  using LocationList = std::vector<std::pair<std::uint32_t, dat::LocationType>>;
  LocationList loc1, loc2;
  for (int i = r.range(0, 3); i > 0; --i) loc1.emplace_back(r.below(4), dat::LocationType{r.below(8), frame(r, 1.0f)});
  for (int i = r.range(0, 2); i > 0; --i) loc2.emplace_back(r.below(4), dat::LocationType{r.u32(), frame(r, 1.0f)});

  std::vector<std::pair<std::uint32_t, dat::PlacementType>> placements;
  const int num_placements = every_hook ? 3 : r.range(0, 3);
  std::uint32_t next_hook = 0;
  for (int i = 0; i < num_placements; ++i) {
    dat::PlacementType p;
    for (std::size_t f = 0; f < n; ++f) p.frames.push_back(frame(r, 0.5f));
    if (every_hook) {
      const std::uint32_t end = i + 1 == num_placements ? 27u : next_hook + 9u;
      for (; next_hook < end; ++next_hook) p.hooks.push_back(make_hook(r, next_hook));
      p.hooks.push_back(make_hook(r, 5));
      p.hooks.push_back(make_hook(r, 5));
    } else {
      for (int h = r.range(0, 4); h > 0; --h) p.hooks.push_back(make_hook(r, r.below(27)));
    }
    const std::uint32_t key = i == 0 ? 0u : 0x64u + static_cast<std::uint32_t>(i);
    placements.emplace_back(key, std::move(p));
  }
  for (int i = r.range(0, 2); i > 0; --i) m.cyl_spheres.push_back(dat::CylSphere{vec(r, -1, 1), r.uniform(0.1f, 2.0f), r.uniform(0.5f, 4.0f)});
  for (int i = r.range(0, 3); i > 0; --i) m.spheres.push_back(sphere(r));
  m.scalar_1 = float_bits(r.uniform(0.0f, 1.0f));
  m.scalar_2 = float_bits(r.uniform(0.0f, 3.0f));
  m.scalar_3 = r.u32();
  m.scalar_4 = r.below(2);
  m.sphere_1 = sphere(r);
  m.sphere_2 = sphere(r);
  std::vector<std::pair<std::uint32_t, dat::LightInfo>> lights;
  for (int i = r.range(0, 2); i > 0; --i) {
    lights.emplace_back(r.below(3), dat::LightInfo{frame(r, 2.0f), r.u32() | 0xFF000000u, r.uniform(0.2f, 2.0f),
                                                   r.uniform(1.0f, 20.0f), r.uniform(0.0f, 3.1f)});
  }
  auto optional_id = [&](std::uint32_t base, unsigned per_mille) -> std::optional<std::uint32_t> {
    if (!r.chance(per_mille)) return std::nullopt;
    return base + r.below(4000) + 1;
  };
  m.optional_id_1 = optional_id(0x34000000u, 300);
  m.default_script_id = optional_id(0x33000000u, 600);
  m.optional_id_3 = optional_id(0x27000000u, 200);
  m.optional_id_4 = optional_id(0x21000000u, 200);
  m.optional_id_5 = optional_id(0x22000000u, 100);

  ByteWriter w;
  w.u32(m.id).u32(m.flags).u32(static_cast<std::uint32_t>(n));
  for (const std::uint32_t p : m.part_ids) w.u32(p);
  for (const std::uint32_t v : m.part_values) w.u32(v);
  for (const Vector3& v : m.part_vectors) w.vector3(v);
  for (const LocationList* list : {&loc1, &loc2}) {
    w.u32(static_cast<std::uint32_t>(list->size()));
    for (const auto& [key, loc] : *list) w.u32(key).u32(loc.part_id).frame(loc.frame);
  }
  w.i32(static_cast<std::int32_t>(placements.size()));
  for (const auto& [key, p] : placements) {
    w.u32(key);
    encode_placement_type(w, p);
  }
  w.u32(static_cast<std::uint32_t>(m.cyl_spheres.size()));
  for (const auto& c : m.cyl_spheres) w.vector3(c.origin).f32(c.radius).f32(c.height);
  w.u32(static_cast<std::uint32_t>(m.spheres.size()));
  for (const auto& s : m.spheres) w.sphere(s);
  w.u32(m.scalar_1).u32(m.scalar_2).u32(m.scalar_3).u32(m.scalar_4);
  w.sphere(m.sphere_1).sphere(m.sphere_2);
  w.u32(static_cast<std::uint32_t>(lights.size()));
  for (const auto& [key, l] : lights) {
    w.u32(key).frame(l.viewer_space_location).u32(l.color).f32(l.intensity).f32(l.falloff).f32(l.cone_angle);
  }
  for (const auto* o : {&m.optional_id_1, &m.default_script_id, &m.optional_id_3, &m.optional_id_4,
                        &m.optional_id_5})
    w.u32(o->value_or(0));

  m.locations_1 = to_map(std::move(loc1));
  m.locations_2 = to_map(std::move(loc2));
  m.placements = to_map(std::move(placements));
  m.lights = to_map(std::move(lights));
  WorldRecord rec;
  rec.id = id;
  rec.compress = compress;
  rec.bytes = w.take();
  rec.value = std::move(m);
  return rec;
}

WorldRecord scenery_setup_record(const WorldSpec& spec, const Catalogue& cat, int k) {
  Rng r = rng_for(spec, kSetupStream, static_cast<std::uint64_t>(k));
  std::vector<std::uint32_t> parts;
  if (k % 31 == 15) {
    // no parts at all
  } else if (setup_without_mesh(k)) {
    parts.push_back(missing_gfx_id(r.u32()));
    for (int g = 11; g < cat.gfx && parts.size() < 3; g += 23) parts.push_back(world_gfx_id(g));
  } else {
    const int n = r.range(1, 5);
    for (int i = 0; i < n; ++i) parts.push_back(world_gfx_id(r.range(0, cat.gfx - 1)));
    if (k % 5 == 0) parts.push_back(parts.front());  // a repeated part
    if (k % 9 == 4) parts.insert(parts.begin() + 1, missing_gfx_id(r.u32()));
  }
  return setup_record(world_setup_id(k), r, std::move(parts), k == 0, k % 7 == 2);
}

WorldRecord building_setup_record(const WorldSpec& spec, int k) {
  Rng r = rng_for(spec, kBuildingStream, 0x100u + static_cast<std::uint64_t>(k));
  std::vector<std::uint32_t> parts;
  if (k == kBuildingSetups - 1) {
    parts = {building_gfx_id(kBuildingGfx - 1), missing_gfx_id(0xE00)};  // no mesh
  } else {
    parts.push_back(building_gfx_id(k % (kBuildingGfx - 1)));
    if (k % 2 == 1) parts.push_back(building_gfx_id((k + 1) % (kBuildingGfx - 1)));
  }
  return setup_record(building_setup_id(k), r, std::move(parts), false, k % 3 == 0);
}

// ---------------------------------------------------------------------------
// Cell records

std::uint32_t lb_x(std::uint32_t lb) { return lb >> 8; }
std::uint32_t lb_y(std::uint32_t lb) { return lb & 0xFF; }

// Records of landblocks 0xXXFF with XX in 0x01..0x78 would carry
// modder-allocated ids (0xTTFFxxxx), which the tool refuses.
bool modder_landblock(std::uint32_t lb) {
  return lb_y(lb) == 0xFF && lb_x(lb) >= 0x01 && lb_x(lb) <= 0x78;
}

// Smooth value noise over global vertex coordinates, so that neighbouring
// landblocks agree on their shared edge vertices. Plain double arithmetic.
double lattice(std::uint64_t seed, std::int64_t ix, std::int64_t iy) {
  return static_cast<double>(hash3(seed, static_cast<std::uint64_t>(ix), static_cast<std::uint64_t>(iy)) >> 11) *
         0x1p-53;
}

double value_noise(std::uint64_t seed, std::uint32_t gx, std::uint32_t gy, std::uint32_t cell) {
  const std::int64_t ix = gx / cell;
  const std::int64_t iy = gy / cell;
  const double tx = static_cast<double>(gx % cell) / static_cast<double>(cell);
  const double ty = static_cast<double>(gy % cell) / static_cast<double>(cell);
  const double sx = tx * tx * (3.0 - 2.0 * tx);
  const double sy = ty * ty * (3.0 - 2.0 * ty);
  const double a = lattice(seed, ix, iy) + (lattice(seed, ix + 1, iy) - lattice(seed, ix, iy)) * sx;
  const double b = lattice(seed, ix, iy + 1) + (lattice(seed, ix + 1, iy + 1) - lattice(seed, ix, iy + 1)) * sx;
  return a + (b - a) * sy;
}

struct WorldContext {
  const WorldSpec& spec;
  Catalogue cat;
  dat::Region region;
  std::uint64_t noise_seed;
  std::uint32_t x_lo, x_hi, y_lo, y_hi;

  std::uint64_t landblock_count() const {
    return std::uint64_t{x_hi - x_lo + 1} * (y_hi - y_lo + 1);
  }
  std::uint64_t lb_hash(std::uint32_t lb, std::uint64_t salt) const { return hash3(noise_seed, lb, salt); }
  bool has_terrain(std::uint32_t lb) const {
    if (landblock_count() < 4) return true;
    return lb != spec.lb_hi && lb_hash(lb, 1) % 40 != 7;
  }
  bool has_info(std::uint32_t lb) const {
    return lb == spec.lb_lo || lb == spec.lb_hi || lb_hash(lb, 2) % 5 < 2;
  }
};

std::uint16_t terrain_word(const WorldContext& ctx, std::uint32_t gx, std::uint32_t gy) {
  const std::uint64_t h = hash3(ctx.noise_seed ^ 0x7E77A1Du, gx, gy);
  auto t = static_cast<std::uint32_t>(value_noise(ctx.noise_seed ^ 0x7E44u, gx, gy, 40) * kTerrainTypes);
  if (h % 8 == 0) t = (t + 1) % kTerrainTypes;
  if (h % 67 == 1) t = kTerrainTypes + static_cast<std::uint32_t>((h >> 8) % (32 - kTerrainTypes));

  std::uint32_t len = 0;
  if (t < ctx.region.terrain.terrain_types.size())
    len = static_cast<std::uint32_t>(ctx.region.terrain.terrain_types[t].scene_type_indices.size());
  std::uint32_t s = 0;
  if (len == 0) s = static_cast<std::uint32_t>((h >> 12) % 4);
  else if ((h >> 32) % 50 == 0 && len < 32) s = len + static_cast<std::uint32_t>((h >> 12) % (32 - len));
  else s = static_cast<std::uint32_t>((h >> 12) % len);

  std::uint32_t road = 0;
  if (gx % 40 == 17 || gy % 56 == 23) road = 1 + static_cast<std::uint32_t>((h >> 40) % 3);
  const auto unused = static_cast<std::uint32_t>((h >> 48) & 0xF);
  return static_cast<std::uint16_t>(road | (t << 2) | (unused << 7) | (s << 11));
}

std::uint8_t height_index(const WorldContext& ctx, std::uint32_t gx, std::uint32_t gy) {
  const double n = 0.65 * value_noise(ctx.noise_seed, gx, gy, 64) +
                   0.3 * value_noise(ctx.noise_seed ^ 0x51u, gx, gy, 16) +
                   0.05 * value_noise(ctx.noise_seed ^ 0x52u, gx, gy, 4);
  const double v = n * 300.0 - 40.0;
  return static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
}

WorldRecord terrain_record(const WorldContext& ctx, std::uint32_t lb) {
  dat::CellLandblock c;
  const std::uint32_t id = (lb << 16) | 0xFFFFu;
  c.id = ctx.lb_hash(lb, 3) % 97 == 0 ? id ^ 0x00010000u : id;  // the stored id is not checked
  c.has_objects = ctx.has_info(lb) ? 1u : 0u;
  for (std::uint32_t x = 0; x < 9; ++x) {
    for (std::uint32_t y = 0; y < 9; ++y) {
      const std::uint32_t gx = lb_x(lb) * 8 + x;
      const std::uint32_t gy = lb_y(lb) * 8 + y;
      const auto i = static_cast<std::size_t>(dat::vertex_index(static_cast<int>(x), static_cast<int>(y)));
      c.terrain[i] = terrain_word(ctx, gx, gy);
      c.height[i] = height_index(ctx, gx, gy);
    }
  }
  WorldRecord rec;
  rec.id = id;
  rec.compress = lb == ctx.spec.lb_lo || ctx.lb_hash(lb, 4) % 11 == 3;
  rec.bytes = encode_cell_landblock(c);
  rec.value = c;
  return rec;
}

std::uint32_t building_model(Rng& r) {
  const std::uint32_t roll = r.below(10);
  if (roll < 7) return building_setup_id(r.range(0, kBuildingSetups - 2));
  if (roll < 8) return building_gfx_id(r.range(0, kBuildingGfx - 2));
  if (roll < 9) return building_setup_id(kBuildingSetups - 1);  // parts without a mesh
  return missing_setup_id(0xE00 + r.below(16));
}

WorldRecord info_record(const WorldContext& ctx, std::uint32_t lb) {
  Rng r = rng_for(ctx.spec, kInfoStream, lb);
  dat::LandblockInfo info;
  const std::uint32_t id = (lb << 16) | 0xFFFEu;
  info.id = id;
  info.num_cells = r.below(40);
  for (int i = r.range(0, 6); i > 0; --i) {
    const std::uint32_t obj = r.chance(500) ? world_gfx_id(r.range(0, ctx.cat.gfx - 1))
                                            : world_setup_id(r.range(0, ctx.cat.setups - 1));
    Frame f{Vector3{r.uniform(0, 192), r.uniform(0, 192), r.uniform(0, 200)}, yaw(r)};
    info.objects.push_back(dat::Stab{obj, f});
  }
  const int buildings = lb == ctx.spec.lb_lo ? r.range(2, 3) : r.chance(600) ? r.range(1, 3) : 0;
  for (int i = 0; i < buildings; ++i) {
    dat::BuildInfo b;
    b.model_id = building_model(r);
    b.frame = Frame{Vector3{r.uniform(24, 168), r.uniform(24, 168), r.uniform(0, 200)}, yaw(r)};
    b.num_leaves = r.below(8);
    for (int p = r.range(0, 4); p > 0; --p) {
      dat::PortalInternal portal;
      portal.flags = static_cast<std::uint16_t>(r.below(4));
      portal.other_cell_id = static_cast<std::uint16_t>(0x0100 + r.below(32));
      portal.other_portal_id = static_cast<std::uint16_t>(r.below(6));
      const int stabs = r.range(0, 5);  // odd and even lengths
      for (int s = 0; s < stabs; ++s) portal.stab_list.push_back(static_cast<std::uint16_t>(0x0100 + r.below(32)));
      portal.num_stabs = static_cast<std::uint16_t>(portal.stab_list.size());
      b.portals.push_back(std::move(portal));
    }
    b.num_portals = static_cast<std::uint32_t>(b.portals.size());
    info.buildings.push_back(std::move(b));
  }
  info.num_objects = static_cast<std::uint32_t>(info.objects.size());
  info.num_buildings = static_cast<std::uint16_t>(info.buildings.size());
  std::vector<std::pair<std::uint32_t, std::uint32_t>> restrictions;
  const std::uint32_t mask_roll = r.below(4);
  if (mask_roll < 2) {
    info.pack_mask = dat::kLandblockInfoHasRestrictions;
    for (int i = r.range(0, 6); i > 0; --i) restrictions.emplace_back(0x0100 + r.below(8), r.u32());
    if (!restrictions.empty()) restrictions.emplace_back(restrictions.front().first, r.u32());  // later wins
  } else {
    info.pack_mask = mask_roll == 2 ? 0 : 2;  // bit 1 selects nothing
  }

  ByteWriter w;
  w.u32(info.id).u32(info.num_cells).u32(info.num_objects);
  for (const auto& s : info.objects) write_stab(w, s);
  w.u16(info.num_buildings).u16(info.pack_mask);
  for (const auto& b : info.buildings) write_build_info(w, b);
  if (info.pack_mask & dat::kLandblockInfoHasRestrictions) {
    dat::RestrictionTable t;
    t.count = static_cast<std::uint16_t>(restrictions.size());
    t._bucket_size = static_cast<std::uint16_t>(r.range(8, 64));
    w.u16(t.count).u16(t._bucket_size);
    for (const auto& [key, value] : restrictions) {
      w.u32(key).u32(value);
      t.tables.insert_or_assign(key, value);
    }
    info.restriction_tables = std::move(t);
  }
  WorldRecord rec;
  rec.id = id;
  rec.compress = lb == ctx.spec.lb_hi || ctx.lb_hash(lb, 5) % 7 == 1;
  rec.bytes = w.take();
  rec.value = std::move(info);
  return rec;
}

// ---------------------------------------------------------------------------
// Local texts and fillers

constexpr std::array<std::string_view, 12> kPhrases = {
    "You feel a strange tingle.", "Übung macht den Meister", "The mill turns slowly.",
    "Señales del camino",         "Дорога домой",            "A gust scatters seeds.",
    "Ça ne fait rien",            "北の森",                  "Press on, traveller.",
    "Smörgåsbord",                "Nothing happens.",        "Ελπίδα"};

WorldRecord local_record(const WorldSpec& spec, int k) {
  Rng r = rng_for(spec, kLocalStream, static_cast<std::uint64_t>(k));
  WorldRecord rec;
  if (k == 0) {  // an empty record: no blocks at all
    rec.id = 0x31000000u;
    return rec;
  }
  rec.id = k < 64 ? 0x23000000u + static_cast<std::uint32_t>(k) : 0x31000000u + static_cast<std::uint32_t>(k);
  rec.compress = k % 6 == 0;
  ByteWriter w;
  TextEncoder te;
  const int texts = k == 5 ? 900 : r.range(1, 30);  // one spans many blocks
  w.u32(rec.id).u32(static_cast<std::uint32_t>(texts));
  for (int i = 0; i < texts; ++i) {
    w.u32(r.u32());
    te.write(w, kPhrases[r.below(kPhrases.size())]);
  }
  rec.bytes = w.take();
  return rec;
}

constexpr int kLocalRecords = 80;

// Cell-like filler records, 256 per landblock starting from 0x0000.
class FillerIds {
 public:
  std::uint32_t next() {
    if (cell_ == 256) {
      cell_ = 0;
      do {
        ++lb_;
      } while (modder_landblock(lb_));
    }
    return (lb_ << 16) | (0x0100u + cell_++);
  }

 private:
  std::uint32_t lb_ = 0;
  std::uint32_t cell_ = 0;
};

WorldRecord filler_record(const WorldSpec& spec, std::uint64_t n, std::uint32_t id) {
  Rng r = rng_for(spec, kFillerStream, n);
  WorldRecord rec;
  rec.id = id;
  rec.compress = n % 16 == 5;
  ByteWriter w;
  w.u32(id).u32(r.below(16));
  for (int i = r.range(1, 12); i > 0; --i) w.u32(r.chance(600) ? r.below(64) : r.u32());
  rec.bytes = w.take();
  return rec;
}

std::uint32_t pad_id(WorldArchive archive, std::uint32_t k) {
  switch (archive) {
    case WorldArchive::portal:
      return 0x0F000000u + k;
    case WorldArchive::cell:
      return 0x00008000u + k;  // landblock 0x0000, above the filler cells
    case WorldArchive::local:
      break;
  }
  return 0x2F000000u + k;
}

constexpr std::size_t kPadRecord = (std::size_t{1} << 20) - 64;

common::Result<void, std::string> visit(const WorldRecordVisitor& f, WorldRecord&& rec) {
  return f(rec);
}

}  // namespace

std::uint64_t world_pad_mb(const WorldSpec& spec, WorldArchive archive) {
  const auto& own = spec.archive_pad_mb[static_cast<std::size_t>(archive)];
  return own.value_or(spec.pad_mb);
}

std::string_view world_file_name(WorldArchive archive) {
  switch (archive) {
    case WorldArchive::portal:
      return "client_portal.dat";
    case WorldArchive::cell:
      return "client_cell_1.dat";
    case WorldArchive::local:
      break;
  }
  return "client_local_English.dat";
}

common::Result<void, std::string> validate_world_spec(const WorldSpec& spec) {
  if ((spec.lb_hi >> 8) < (spec.lb_lo >> 8) || (spec.lb_hi & 0xFF) < (spec.lb_lo & 0xFF))
    return common::fail(fmt::format("landblock rectangle 0x{:04X}..0x{:04X}: hi must not be below lo in either byte",
                                    spec.lb_lo, spec.lb_hi));
  if (spec.scenes < 1 || spec.scenes > kMaxScenes)
    return common::fail(fmt::format("scenes must be between 1 and {} (got {})", kMaxScenes, spec.scenes));
  if (spec.objects_per_scene < 0 || spec.objects_per_scene > kMaxObjectsPerScene)
    return common::fail(fmt::format("objects per scene must be between 0 and {} (got {})", kMaxObjectsPerScene,
                                    spec.objects_per_scene));
  for (const std::uint32_t bs : {spec.block_size, spec.cell_block_size}) {
    if (bs < 8 || bs > (1u << 20))
      return common::fail(fmt::format("block size must be between 8 and {} (got {})", 1u << 20, bs));
  }
  for (const WorldArchive a : kWorldArchives) {
    const std::uint64_t pad = world_pad_mb(spec, a);
    if (pad > 4095) return common::fail(fmt::format("pad of {} MiB exceeds the 4 GiB archive limit", pad));
  }
  if (spec.filler_entries > 10'000'000)
    return common::fail(fmt::format("at most 10000000 filler entries (got {})", spec.filler_entries));
  return {};
}

dat::DatHeader world_header(const WorldSpec& spec, WorldArchive archive) {
  dat::DatHeader h;
  h.magic = 0x5442;
  h.block_size = archive == WorldArchive::cell ? spec.cell_block_size : spec.block_size;
  h.dataset = archive == WorldArchive::portal ? 1u : archive == WorldArchive::cell ? 2u : 3u;
  h.subset = 1;
  h.engine_version = 0x15;
  h.game_version = 0x3F4;
  constexpr std::string_view kVersion = "strewmill world";
  std::copy(kVersion.begin(), kVersion.end(), h.version_string.begin());
  h.version_minor = 0x2A;
  return h;
}

common::Result<void, std::string> for_each_world_record(const WorldSpec& spec, WorldArchive archive,
                                                        const WorldRecordVisitor& f) {
  TRY(validate_world_spec(spec));
  const Catalogue cat = make_catalogue(spec);
  switch (archive) {
    case WorldArchive::portal: {
      const dat::Region region = make_region(spec, cat);
      WorldRecord rec;
      rec.id = kWorldRegionId;
      rec.bytes = write_region(region);
      rec.value = region;
      TRY(f(rec));
      for (int k = 0; k < cat.scenes; ++k) TRY(visit(f, scene_record(spec, cat, k)));
      for (int k = 0; k < cat.gfx; ++k) TRY(visit(f, scenery_gfx_record(spec, k)));
      for (int k = 0; k < cat.setups; ++k) TRY(visit(f, scenery_setup_record(spec, cat, k)));
      for (int k = 0; k < kBuildingGfx; ++k) TRY(visit(f, building_gfx_record(spec, k)));
      for (int k = 0; k < kBuildingSetups; ++k) TRY(visit(f, building_setup_record(spec, k)));
      return {};
    }
    case WorldArchive::cell: {
      const WorldContext ctx{spec,
                             cat,
                             make_region(spec, cat),
                             mix(spec.seed, kNoiseStream),
                             static_cast<std::uint32_t>(spec.lb_lo >> 8),
                             static_cast<std::uint32_t>(spec.lb_hi >> 8),
                             static_cast<std::uint32_t>(spec.lb_lo & 0xFF),
                             static_cast<std::uint32_t>(spec.lb_hi & 0xFF)};
      for (std::uint32_t x = ctx.x_lo; x <= ctx.x_hi; ++x) {
        for (std::uint32_t y = ctx.y_lo; y <= ctx.y_hi; ++y) {
          const std::uint32_t lb = (x << 8) | y;
          if (modder_landblock(lb)) continue;
          if (ctx.has_terrain(lb)) TRY(visit(f, terrain_record(ctx, lb)));
          if (ctx.has_info(lb)) TRY(visit(f, info_record(ctx, lb)));
        }
      }
      FillerIds ids;
      for (std::uint64_t n = 0; n < spec.filler_entries; ++n) TRY(visit(f, filler_record(spec, n, ids.next())));
      return {};
    }
    case WorldArchive::local:
      break;
  }
  for (int k = 0; k < kLocalRecords; ++k) TRY(visit(f, local_record(spec, k)));
  return {};
}

common::Result<void, std::string> generate_world(const WorldSpec& spec, const std::filesystem::path& out_dir,
                                                 WorldStats& stats) {
  TRY(validate_world_spec(spec));
  std::error_code ec;
  std::filesystem::create_directories(out_dir, ec);
  if (ec) return common::fail(fmt::format("cannot create {}: {}", out_dir.string(), ec.message()));
  for (const WorldArchive archive : kWorldArchives) {
    StreamArchive out(out_dir / world_file_name(archive), world_header(spec, archive));
    TRY(out.status());
    TRY(for_each_world_record(spec, archive, [&](WorldRecord& rec) { return out.add(rec.id, rec.bytes, rec.compress); }));
    const std::uint64_t target = world_pad_mb(spec, archive) << 20;
    Rng r = rng_for(spec, kPadStream, static_cast<std::uint64_t>(archive));
    Bytes filler;
    for (std::uint32_t k = 0; out.size() < target; ++k) {
      filler.resize(std::min<std::uint64_t>(kPadRecord, target - out.size()));
      r.fill(filler.data(), filler.size());
      TRY(out.add(pad_id(archive, k), filler, false));
    }
    const std::uint64_t records = out.records();
    TRY(out.finish());
    WorldArchiveStats& s = archive == WorldArchive::portal ? stats.portal
                           : archive == WorldArchive::cell ? stats.cell
                                                            : stats.local;
    s.records = records;
    s.bytes = std::filesystem::file_size(out_dir / world_file_name(archive), ec);
  }
  return {};
}

common::Result<void, std::string> generate_world(const WorldSpec& spec, const std::filesystem::path& out_dir) {
  WorldStats stats;
  return generate_world(spec, out_dir, stats);
}

}  // namespace strewmill::tools
