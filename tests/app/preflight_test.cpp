#include "apps/strewmill/preflight.h"

#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <filesystem>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "apps/strewmill/logging.h"
#include "tests/support/process.h"
#include "tools/writer/archive_writer.h"

namespace strewmill::app {
namespace {

namespace fs = std::filesystem;
using test_support::TempDir;

constexpr const char* kRefusal = " — bake refuses to run against custom DATs";

void write_archive(const fs::path& path, std::initializer_list<std::uint32_t> ids) {
  tools::ArchiveWriter w;
  for (std::uint32_t id : ids) w.add(id, {static_cast<std::uint8_t>(id), 0xAB, 0xCD});
  ASSERT_TRUE(w.write(path).ok());
}

// A clean archive directory: three small archives with distinct records.
struct DatDir {
  TempDir tmp;
  fs::path dir = tmp / "dats";

  DatDir() {
    fs::create_directory(dir);
    write_archive(dir / "client_portal.dat", {0x13000000, 0x02000001});
    write_archive(dir / "client_cell_1.dat", {0x0102FFFF, 0x0102FFFE});
    write_archive(dir / "client_local_English.dat", {0x23000001});
  }

  AppResult<DatDirCheck> run() {
    auto hasher = std::move(Sha256Hasher::create()).value();
    return run_preflight(dir, hasher);
  }
  // The error chain, or an empty vector when the pre-flight passed.
  std::vector<std::string> errors() {
    auto r = run();
    return r.ok() ? std::vector<std::string>{} : r.error().chain();
  }
};

TEST(Preflight, CleanDirectoryOpensArchivesAndDigestsAllThree) {
  DatDir d;
  auto r = d.run();
  ASSERT_TRUE(r.ok()) << render_report(r.error());
  EXPECT_TRUE(r->portal.contains(0x13000000));
  EXPECT_TRUE(r->cell.contains(0x0102FFFF));
  EXPECT_EQ(r->portal_hash, std::move(sha256_file(d.dir / "client_portal.dat")).value());
  EXPECT_EQ(r->cell_hash, std::move(sha256_file(d.dir / "client_cell_1.dat")).value());
  EXPECT_EQ(r->local_hash, std::move(sha256_file(d.dir / "client_local_English.dat")).value());
  EXPECT_NE(r->portal_hash, r->cell_hash);
}

TEST(Preflight, InfoLineShowsDigestPrefixesOnlyWhenInfoPasses) {
  DatDir d;
  std::ostringstream out;
  auto logger = std::make_shared<spdlog::logger>(
      kLogTarget, std::make_shared<spdlog::sinks::ostream_sink_st>(out));
  logger->set_pattern("%v");
  spdlog::register_logger(logger);

  logger->set_level(spdlog::level::warn);
  ASSERT_TRUE(d.run().ok());
  EXPECT_EQ(out.str(), "");

  logger->set_level(spdlog::level::info);
  auto r = d.run();
  spdlog::drop(kLogTarget);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(out.str(), "pre-flight ok: portal_hash=" + r->portal_hash.substr(0, 16) +
                           " cell_hash=" + r->cell_hash.substr(0, 16) +
                           " local_hash=" + r->local_hash.substr(0, 16) + "\n");
}

TEST(Preflight, DirectoryAndArchiveFileChecks) {
  {
    DatDir d;
    d.dir = d.tmp / "missing";
    EXPECT_EQ(d.errors(),
              std::vector<std::string>{"--dat-dir `" + d.dir.string() + "` is not a directory"});
    d.dir = d.tmp / "dats" / "client_portal.dat";  // a file
    EXPECT_EQ(d.errors(),
              std::vector<std::string>{"--dat-dir `" + d.dir.string() + "` is not a directory"});
  }
  {
    DatDir d;  // a symbolic link to the directory is followed
    fs::create_directory_symlink(d.dir, d.tmp / "link");
    d.dir = d.tmp / "link";
    EXPECT_EQ(d.errors(), std::vector<std::string>{});
  }
  {
    DatDir d;  // a symbolic link to the real archive passes
    fs::rename(d.dir / "client_portal.dat", d.tmp / "real_portal.dat");
    fs::create_symlink(d.tmp / "real_portal.dat", d.dir / "client_portal.dat");
    EXPECT_EQ(d.errors(), std::vector<std::string>{});
  }
  {
    DatDir d;
    const fs::path cell = d.dir / "client_cell_1.dat";
    fs::remove(cell);
    fs::create_directory(d.dir / "iter-1");  // the file checks come before the listing
    EXPECT_EQ(d.errors(),
              (std::vector<std::string>{"stat client_cell_1.dat at `" + cell.string() + "`",
                                        "No such file or directory (os error 2)"}));
  }
  {
    DatDir d;
    const fs::path portal = d.dir / "client_portal.dat";
    fs::remove(portal);
    fs::create_directory(portal);
    EXPECT_EQ(d.errors(), std::vector<std::string>{
                              "--dat-dir: `" + portal.string() +
                              "` is not a regular file (got file_type=FileType { is_file: false, "
                              "is_dir: true, is_symlink: false, .. })"});
  }
}

enum class Kind { File, Dir, NonEmptyDir };

struct EntryCase {
  const char* name;
  Kind kind;
  std::vector<std::string> want;  // empty: passes
};

TEST(Preflight, DirectoryEntryRules) {
  const std::string iter3 = std::string("--dat-dir contains modder-iteration marker `iter-3`") +
                            kRefusal;
  const EntryCase cases[] = {
      {"custom_textures", Kind::Dir, {}},
      {"custom_textures", Kind::NonEmptyDir,
       {std::string("--dat-dir contains non-empty `custom_textures/`") + kRefusal}},
      {"custom_textures", Kind::File, {"Not a directory (os error 20)"}},
      {"Custom_Textures", Kind::NonEmptyDir, {}},
      {"iter-3", Kind::File, {iter3}},
      {"iter-3", Kind::Dir, {iter3}},
      {"iter-", Kind::File,
       {std::string("--dat-dir contains modder-iteration marker `iter-`") + kRefusal}},
      {"Iter-3", Kind::File, {}},
      {"xiter-3", Kind::Dir, {}},
      {"iter3", Kind::File, {}},
      {"map.lwproj", Kind::File,
       {std::string("--dat-dir contains Landwright project file `map.lwproj`") + kRefusal}},
      {".lwproj", Kind::Dir,
       {std::string("--dat-dir contains Landwright project file `.lwproj`") + kRefusal}},
      {"map.LWPROJ", Kind::File, {}},
      {"map.lwproj.bak", Kind::File, {}},
      // Names are compared as lossy UTF-8 text and reported that way.
      {"iter-\xFF", Kind::File,
       {std::string("--dat-dir contains modder-iteration marker `iter-\xEF\xBF\xBD`") + kRefusal}},
      {"\xFFiter-", Kind::File, {}},
  };
  for (const EntryCase& c : cases) {
    DatDir d;
    const fs::path p = d.dir / c.name;
    if (c.kind == Kind::File) {
      test_support::write_file(p, "x");
    } else {
      fs::create_directory(p);
      if (c.kind == Kind::NonEmptyDir) test_support::write_file(p / "grass.dds", "");
    }
    EXPECT_EQ(d.errors(), c.want) << c.name;
  }
}

struct ModderCase {
  std::initializer_list<std::uint32_t> portal;
  std::initializer_list<std::uint32_t> cell;
  std::vector<std::string> want;  // empty: passes
};

TEST(Preflight, ModderAllocatedIds) {
  auto refusal = [](const char* id, const char* archive) {
    return std::vector<std::string>{std::string("--dat-dir contains modder-allocated record ") +
                                    id + " in " + archive + kRefusal};
  };
  const ModderCase cases[] = {
      {{0x13000000, 0x06FF0009, 0x06FF0001}, {0x0102FFFF}, refusal("0x06FF0001", "portal.dat")},
      {{0x13000000, 0x79FF0000, 0x78FEFFFF}, {0x00FF0000, 0x0102FFFF}, {}},
      {{0x01FF0000}, {0x0102FFFF}, refusal("0x01FF0000", "portal.dat")},
      // The terrain record of landblock 0x78FF, and the info record of 0x05FF.
      {{0x13000000}, {0x78FFFFFF, 0x0102FFFF}, refusal("0x78FFFFFF", "cell.dat")},
      {{0x13000000}, {0x78FFFFFF, 0x05FFFFFE}, refusal("0x05FFFFFE", "cell.dat")},
      // The portal archive is reported first.
      {{0x13000000, 0x06FF0001}, {0x05FFFFFF}, refusal("0x06FF0001", "portal.dat")},
  };
  for (const ModderCase& c : cases) {
    DatDir d;
    write_archive(d.dir / "client_portal.dat", c.portal);
    write_archive(d.dir / "client_cell_1.dat", c.cell);
    EXPECT_EQ(d.errors(), c.want) << std::hex << *c.portal.begin() << " " << *c.cell.begin();
  }
}

TEST(Preflight, ModderIdsInTheLocalArchiveAreRefusedToo) {
  DatDir d;
  write_archive(d.dir / "client_local_English.dat", {0x23000001, 0x40FF0007});
  EXPECT_EQ(d.errors(), std::vector<std::string>{
                            std::string("--dat-dir contains modder-allocated record 0x40FF0007 in "
                                        "local.dat") +
                            kRefusal});
}

TEST(Preflight, ArchiveThatDoesNotOpenNamesItsPath) {
  DatDir d;
  const fs::path local = d.dir / "client_local_English.dat";
  test_support::write_file(local, "not an archive");
  fs::create_directory(d.dir / "map.lwproj");  // the listing comes before opening
  EXPECT_EQ(d.errors(), std::vector<std::string>{
                            std::string("--dat-dir contains Landwright project file `map.lwproj`") +
                            kRefusal});
  fs::remove(d.dir / "map.lwproj");
  const std::vector<std::string> chain = d.errors();
  ASSERT_GE(chain.size(), 2u);
  EXPECT_EQ(chain[0], "open " + local.string());
}

}  // namespace
}  // namespace strewmill::app
