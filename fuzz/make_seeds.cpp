// Writes the seed corpora of every fuzz harness into <out>/<harness>/:
// records of a small generated world, archives built by the archive writer
// (well-formed ones and the hostile shapes the reader must survive),
// primitive-reader programs and selection texts. Everything is generated
// here from the encoders; nothing is copied in.
//
//   make_fuzz_seeds <out-dir>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "lib/dat/dat_database.h"
#include "tools/writer/archive_writer.h"
#include "tools/writer/byte_writer.h"
#include "tools/writer/land_records.h"
#include "tools/writer/object_records.h"
#include "tools/writer/worldgen.h"

using namespace strewmill;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Inputs above this size slow every mutation down; the records of the
// small world all fit.
constexpr std::size_t kMaxSeedSize = 64 * 1024;

class Corpora {
 public:
  explicit Corpora(fs::path root) : root_(std::move(root)) {}

  // Adds a seed unless the harness already has `cap` seeds or it is too big.
  void add(const std::string& harness, std::span<const std::uint8_t> bytes, std::size_t cap = 64) {
    std::size_t& n = counts_[harness];
    if (n >= cap || bytes.size() > kMaxSeedSize) return;
    const fs::path dir = root_ / harness;
    fs::create_directories(dir);
    char name[32];
    std::snprintf(name, sizeof name, "seed-%04zu", n++);
    auto r = tools::write_file(dir / name, bytes);
    if (!r) {
      std::fprintf(stderr, "make_fuzz_seeds: %s\n", r.error().c_str());
      std::exit(1);
    }
  }
  void add_text(const std::string& harness, std::string_view text) {
    add(harness, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  }
  void report() const {
    for (const auto& [harness, n] : counts_) std::fprintf(stderr, "%-16s %zu seeds\n", harness.c_str(), n);
  }

 private:
  fs::path root_;
  std::map<std::string, std::size_t> counts_;
};

Bytes prefixed(std::uint8_t first, std::span<const std::uint8_t> rest) {
  Bytes out{first};
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

Bytes bsp_seed(const dat::BspNode& tree, dat::BspTreeType type) {
  tools::ByteWriter w;
  tools::encode_bsp_node(w, tree, type);
  return prefixed(static_cast<std::uint8_t>(type), w.bytes());
}

// Small records of the world, kept to build archives from.
struct Sample {
  std::uint32_t id;
  Bytes bytes;
};

// The world's region holds one text of 70000 bytes; without it, the record
// makes a seed, as do variants with each optional part alone.
void add_region_seeds(Corpora& c, const dat::Region& world_region) {
  dat::Region region = world_region;
  std::erase_if(region.game_time.names, [](const std::string& s) { return s.size() > 256; });
  c.add("region", tools::encode_region(region));
  for (const std::uint32_t mask : {0x0u, 0x10u, 0x01u, 0x02u, 0x200u, 0x104u}) {
    dat::Region part = region;
    part.parts_mask = mask;
    if (!(mask & 0x10)) part.sky.reset();
    if (!(mask & 0x01)) part.sound.reset();
    if (!(mask & 0x02)) part.scene.reset();
    if (!(mask & 0x200)) part.misc.reset();
    c.add("region", tools::encode_region(part));
  }
}

void add_world_records(Corpora& c, std::vector<Sample>& samples) {
  tools::WorldSpec spec;
  spec.seed = 11;
  spec.lb_lo = 0xA9B4;
  spec.lb_hi = 0xAAB5;
  spec.scenes = 24;
  spec.objects_per_scene = 6;
  for (const tools::WorldArchive archive : {tools::WorldArchive::portal, tools::WorldArchive::cell}) {
    auto r = tools::for_each_world_record(spec, archive, [&](tools::WorldRecord& rec) -> common::Result<void, std::string> {
      std::visit(
          [&](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, dat::Region>) {
              add_region_seeds(c, v);
            } else if constexpr (std::is_same_v<T, dat::Scene>) {
              c.add("scene", rec.bytes, 16);
            } else if constexpr (std::is_same_v<T, dat::GfxObj>) {
              c.add("gfx_obj", rec.bytes, 32);
              if (v.physics_bsp) c.add("bsp", bsp_seed(*v.physics_bsp, dat::BspTreeType::physics), 48);
              if (v.drawing_bsp) {
                c.add("bsp", bsp_seed(*v.drawing_bsp, dat::BspTreeType::drawing), 48);
                c.add("bsp", bsp_seed(*v.drawing_bsp, dat::BspTreeType::cell), 48);
              }
            } else if constexpr (std::is_same_v<T, dat::SetupModel>) {
              c.add("setup_model", rec.bytes, 32);
            } else if constexpr (std::is_same_v<T, dat::CellLandblock>) {
              c.add("cell_landblock", rec.bytes, 8);
            } else if constexpr (std::is_same_v<T, dat::LandblockInfo>) {
              c.add("landblock_info", rec.bytes, 16);
            }
          },
          rec.value);
      if (rec.bytes.size() <= 8 * 1024) c.add("decompress", tools::compress_lrs(rec.bytes), 48);
      if (rec.bytes.size() <= 2048 && samples.size() < 48) samples.push_back({rec.id, rec.bytes});
      return {};
    });
    if (!r) {
      std::fprintf(stderr, "make_fuzz_seeds: %s\n", r.error().c_str());
      std::exit(1);
    }
  }
}

void add_archive(Corpora& c, const tools::ArchiveWriter& w) {
  auto image = w.image();
  if (!image) {
    std::fprintf(stderr, "make_fuzz_seeds: %s\n", image.error().c_str());
    std::exit(1);
  }
  c.add("archive", *image);
}

void add_archives(Corpora& c, const std::vector<Sample>& samples) {
  // Well-formed archives of a few records, plain and compressed, over
  // several block sizes.
  for (const std::uint32_t block_size : {64u, 256u, 1024u}) {
    for (const bool compress : {false, true}) {
      tools::ArchiveWriter w(block_size);
      for (std::size_t i = 0; i < samples.size() && i < 8; ++i)
        w.add(samples[i].id, samples[i].bytes, compress && i % 2 == 0);
      add_archive(c, w);
    }
  }
  // Enough tiny records for a directory of two levels.
  {
    tools::ArchiveWriter w(128);
    for (std::uint32_t i = 0; i < 130; ++i) w.add(0x01000000u + i, Bytes(4 + i % 8, static_cast<std::uint8_t>(i)));
    add_archive(c, w);
  }
  add_archive(c, tools::ArchiveWriter(64));  // empty directory

  const Bytes small = samples.empty() ? Bytes(16, 1) : samples.front().bytes;
  // A directory node that is its own child.
  {
    tools::RawArchive a(64);
    const std::uint32_t rec = a.append_chain(small);
    const std::uint32_t root = a.append_node(tools::DirectoryNode::with_entries(
        {dat::DatFileEntry{0, 0x0A0B0C0D, rec, static_cast<std::uint32_t>(small.size()), 0, 0}}));
    a.set_branch(root, 0, root);
    a.header().root_offset = root;
    c.add("archive", a.image());
  }
  // Block sizes 0 to 4: a cyclic chain, an oversized record and a
  // compressed record that declares 4 GiB.
  for (std::uint32_t block_size = 0; block_size <= 4; ++block_size) {
    tools::RawArchive a(block_size);
    const std::uint32_t plain = a.append_chain(small);
    const std::uint32_t loop = a.end();
    a.put_u32(loop, loop + 4);
    a.put_u32(loop + 4, loop);
    tools::ByteWriter packed;
    packed.u32(0xFFFFFFFFu).u8(0x40).u8('A').u8(0x01).u8(0x0F);
    const std::uint32_t comp = a.append_chain(packed.bytes());
    const std::uint32_t root = a.append_node(tools::DirectoryNode::with_entries({
        {0, 0x01000001, plain, static_cast<std::uint32_t>(small.size()), 0, 0},
        {0, 0x01000002, loop, 64, 0, 0},
        {0, 0x01000003, plain, 0xFFFFFFFFu, 0, 0},
        {1, 0x01000004, comp, static_cast<std::uint32_t>(packed.size()), 0, 0},
    }));
    a.header().root_offset = root;
    c.add("archive", a.image());
  }
}

void add_primitive_programs(Corpora& c) {
  // Opcodes: 0 packed count, 1 smart vector, 2 text, 3 Vector3,
  // 4 Quaternion, 5 Plane, 6 Sphere, 7 Frame, 8 raw text bytes.
  {
    tools::ByteWriter w;
    for (const std::uint32_t v : {0u, 0x7Fu, 0x80u, 0x3FFFu, 0x4000u, 0x3FFFFFFFu}) w.u8(0).compressed_u32(v);
    c.add("primitives", w.bytes());
  }
  {
    tools::ByteWriter w;
    w.u8(1).compressed_u32(3).u32(1).u32(2).u32(3);
    w.u8(1).compressed_u32(0);
    c.add("primitives", w.bytes());
  }
  for (const std::string_view text : {std::string_view("abc"), std::string_view(""),
                                      std::string_view("\xEF\xBB\xBF" "A"),
                                      std::string_view("\xFF\xFE" "A\0", 4),
                                      std::string_view("\xFE\xFF\xD8\x00", 4),
                                      std::string_view("caf\xE9\x80")}) {
    tools::ByteWriter w;
    w.u8(2).pstring(text);
    w.u8(8).append({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    c.add("primitives", w.bytes());
  }
  {
    tools::ByteWriter w;
    w.u8(2).u16(0xFFFF).u32(2).u8('h').u8('i');
    w.u8(3).vector3({1, 2, 3});
    w.u8(4).quaternion({1, 0, 0, 0});
    w.u8(5).plane({{0, 0, 1}, -2});
    w.u8(6).sphere({{1, 1, 1}, 4});
    w.u8(7).frame({{5, 6, 7}, {0.5f, 0.5f, 0.5f, 0.5f}});
    c.add("primitives", w.bytes());
  }
}

void add_selection_texts(Corpora& c) {
  for (const std::string_view text :
       {"0xA9B4", "A9B4", " +a9b4\t", "0x0x1F", "0X0x1F", "0xA3AE..0xA4AF", "0xA9B4..0xA9B3",
        "0xA3B4..0xA4AF", "..A9B4", "0x1A9B4", "FFFFFFFF", "100000000", "\xC2\xA0" "A9B4\xE3\x80\x80",
        "0xA9B4\r\n# comment\n\n  A9B5  \nA9B4\n", "0xA9B4..0xA9B5\n", "zz\n", "#only\n\n"}) {
    c.add_text("selection", text);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds <out-dir>\n");
    return 2;
  }
  Corpora corpora{fs::path(argv[1])};
  std::vector<Sample> samples;
  add_world_records(corpora, samples);
  add_archives(corpora, samples);
  add_primitive_programs(corpora);
  add_selection_texts(corpora);
  corpora.report();
  return 0;
}
