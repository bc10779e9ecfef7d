// strewmill-view end to end: real bakes of a small generated world drawn by
// the real binary, and every picture parsed back as XML.
#include <expat.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "lib/dat/cell_landblock.h"
#include "tests/support/process.h"
#include "tests/support/worlds.h"
#include "tests/tools/bake_edit.h"

namespace strewmill::tools {
namespace {

namespace fs = std::filesystem;
using test_support::ProcessResult;
using test_support::read_file;
using test_support::TempDir;
using test_support::write_file;

// ---------------------------------------------------------------- a small DOM

struct Node {
  std::string name;
  std::map<std::string, std::string> attrs;
  std::string text;
  std::vector<std::unique_ptr<Node>> children;

  std::string cls() const {
    const auto it = attrs.find("class");
    return it == attrs.end() ? "" : it->second;
  }
  // Every node below this one (itself included) that `pred` accepts.
  template <class Pred>
  void collect(Pred pred, std::vector<const Node*>& out) const {
    if (pred(*this)) out.push_back(this);
    for (const auto& c : children) c->collect(pred, out);
  }
  std::vector<const Node*> with_class(const std::string& c) const {
    std::vector<const Node*> out;
    collect([&](const Node& n) { return n.cls() == c; }, out);
    return out;
  }
  std::vector<const Node*> named(const std::string& name) const {
    std::vector<const Node*> out;
    collect([&](const Node& n) { return n.name == name; }, out);
    return out;
  }
};

struct ParseState {
  Node root;
  std::vector<Node*> open{&root};
};

// Parses `text` as XML; fails the test (and returns the empty root) when it
// is not well-formed.
std::unique_ptr<Node> parse_xml(const std::string& text) {
  auto state = std::make_unique<ParseState>();
  XML_Parser parser = XML_ParserCreate("UTF-8");
  XML_SetUserData(parser, state.get());
  XML_SetElementHandler(
      parser,
      [](void* data, const XML_Char* name, const XML_Char** attrs) {
        auto* s = static_cast<ParseState*>(data);
        auto node = std::make_unique<Node>();
        node->name = name;
        for (int i = 0; attrs[i] != nullptr; i += 2) node->attrs[attrs[i]] = attrs[i + 1];
        Node* raw = node.get();
        s->open.back()->children.push_back(std::move(node));
        s->open.push_back(raw);
      },
      [](void* data, const XML_Char*) { static_cast<ParseState*>(data)->open.pop_back(); });
  XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* s, int len) {
    static_cast<ParseState*>(data)->open.back()->text.append(s, static_cast<std::size_t>(len));
  });
  const bool ok = XML_Parse(parser, text.data(), static_cast<int>(text.size()), XML_TRUE) == XML_STATUS_OK;
  EXPECT_TRUE(ok) << "not well-formed XML: " << XML_ErrorString(XML_GetErrorCode(parser)) << " at line "
                  << XML_GetCurrentLineNumber(parser);
  XML_ParserFree(parser);
  if (!ok || state->root.children.size() != 1) return std::make_unique<Node>();
  return std::move(state->root.children.front());
}

// ---------------------------------------------------------------- fixture

constexpr std::uint16_t kLo = 0xA9B4;
constexpr std::uint16_t kHi = 0xAAB5;
constexpr std::uint16_t kBuilt = 0xA9B4;      // the landblock given buildings
constexpr std::uint32_t kHouse = 0x01009000;  // a 20 x 4 footprint
constexpr std::uint32_t kNoMesh = 0x0100F000; // not in the portal archive

std::string lb_file(std::uint16_t lb) { return fmt::format("0x{:04X}.scenery.jsonl", lb); }

std::size_t lines(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

ProcessResult run_view(const std::vector<std::string>& args) {
  std::vector<std::string> argv{STREWMILL_VIEW_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  return test_support::run_process(argv);
}

class ViewE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    shared_ = std::make_unique<TempDir>();
    test_support::EditableWorld world = test_support::EditableWorld::generate(test_support::tiny_world_spec(kLo, kHi));
    world.portal[kHouse] = {test_support::gfx_with_points(kHouse, {{-10, -2, 0}, {10, -2, 0}, {10, 2, 5}, {-10, 2, 5}})};
    // Two houses with footprints, the second turned a quarter (about z), and
    // one whose model has no mesh.
    const float h = 0.70710678f;
    world.cell[test_support::info_id(kBuilt)] = {test_support::info_with_buildings(
        test_support::info_id(kBuilt), {test_support::building(kHouse, {40, 40, 0}),
                                        test_support::building(kHouse, {150, 100, 0}, {h, 0, 0, h}),
                                        test_support::building(kNoMesh, {96, 170, 0})})};
    const auto terrain = dat::CellLandblock::unpack(world.cell.at(test_support::terrain_id(kBuilt)).bytes);
    ASSERT_TRUE(terrain);
    road_vertices_ = static_cast<std::size_t>(
        std::count_if(terrain->terrain.begin(), terrain->terrain.end(), [](std::uint16_t w) { return (w & 3) != 0; }));
    world.write(dats());
    for (const bool bits : {false, true}) {
      std::vector<std::string> args{"--dat-dir", dats().string(), "--landblocks", "0xA9B4..0xAAB5", "--out",
                                    bake(bits).string()};
      if (bits) args.push_back("--bits");
      const ProcessResult r = test_support::run_strewmill(args);
      ASSERT_EQ(r.exit_status, 0) << r.err;
    }
  }
  static void TearDownTestSuite() { shared_.reset(); }

  static fs::path dats() { return *shared_ / "dats"; }
  static fs::path bake(bool bits) { return *shared_ / (bits ? "bits" : "six"); }

  fs::path copy_of_bake(const std::string& name) {
    const fs::path to = tmp_ / name;
    fs::copy(bake(false), to, fs::copy_options::recursive);
    return to;
  }

  // Draws `landblocks` of `bake_dir`; the picture's text, or "" on failure.
  std::string draw(const fs::path& bake_dir, const std::string& landblocks, ProcessResult* result = nullptr) {
    const fs::path out = tmp_ / "pictures" / "view.svg";
    const ProcessResult r =
        run_view({"--dat-dir", dats().string(), "--bake", bake_dir.string(), "--landblock", landblocks, "--out", out.string()});
    if (result != nullptr) *result = r;
    EXPECT_EQ(r.exit_status, 0) << r.err;
    return r.exit_status == 0 ? read_file(out) : "";
  }

  TempDir tmp_;
  static std::unique_ptr<TempDir> shared_;
  static std::size_t road_vertices_;
};

std::unique_ptr<TempDir> ViewE2E::shared_;
std::size_t ViewE2E::road_vertices_ = 0;

// The <title> children of `n`.
std::vector<const Node*> titles_of(const Node& n) {
  std::vector<const Node*> out;
  for (const auto& c : n.children) {
    if (c->name == "title") out.push_back(c.get());
  }
  return out;
}

TEST_F(ViewE2E, OneLandblockHasATitlePerPlacementAndABoxPerBuilding) {
  ProcessResult r;
  const std::string svg = draw(bake(false), "0xA9B4", &r);
  EXPECT_EQ(r.err, "");
  const std::unique_ptr<Node> root = parse_xml(svg);
  ASSERT_EQ(root->name, "svg");

  const std::string text = read_file(bake(false) / lb_file(kBuilt));
  const std::vector<const Node*> placements = root->with_class("placement");
  ASSERT_EQ(placements.size(), lines(text));
  ASSERT_GT(placements.size(), 0u);
  for (const Node* p : placements) ASSERT_EQ(titles_of(*p).size(), 1u);
  // Titles name the placement as its line does, in file order.
  const std::string first_line = text.substr(0, text.find('\n'));
  const std::string first_title = titles_of(*placements.front()).front()->text;
  const std::string obj = first_line.substr(first_line.find("0x"), 10);
  const std::string x = first_line.substr(first_line.find("\"x\":") + 4, first_line.find(",\"y\"") - first_line.find("\"x\":") - 4);
  EXPECT_EQ(first_title.rfind("obj " + obj + " (landblock 0xA9B4)\nx " + x + ", y ", 0), 0u) << first_title;
  EXPECT_EQ(root->with_class("position").size(), placements.size());
  EXPECT_EQ(root->named("title").size(), placements.size() + 3);  // and one per building

  // Footprint boxes as the bake computes them: the turned house is 4 wide
  // and 20 tall, at 4 pixels per unit.
  const std::vector<const Node*> boxes = root->with_class("building");
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0]->attrs.at("width"), "80.00");
  EXPECT_EQ(boxes[0]->attrs.at("height"), "16.00");
  EXPECT_EQ(boxes[1]->attrs.at("width"), "16.00");
  EXPECT_EQ(boxes[1]->attrs.at("height"), "80.00");
  EXPECT_EQ(root->with_class("building-unboxed").size(), 1u);
  const std::vector<const Node*> houses = root->with_class("building-item");
  ASSERT_EQ(houses.size(), 3u);
  EXPECT_NE(titles_of(*houses[1]).front()->text.find("footprint x 148.00 .. 152.00, y 90.00 .. 110.00"),
            std::string::npos);
  EXPECT_NE(titles_of(*houses[2]).front()->text.find("no footprint mesh"), std::string::npos);

  EXPECT_EQ(root->with_class("road-vertex").size(), road_vertices_);
  EXPECT_EQ(root->with_class("cell").size(), 64u);
  EXPECT_EQ(root->with_class("warning").size(), 0u);
  EXPECT_EQ(root->with_class("scale-bar").size(), 1u);
}

TEST_F(ViewE2E, ARectangleDrawsEveryLandblockAndBitsBakesLookTheSame) {
  // The world has no terrain for 0xA9B5 and 0xAAB5, so the bake skipped them.
  ASSERT_FALSE(fs::exists(bake(false) / lb_file(0xA9B5)));
  ASSERT_FALSE(fs::exists(bake(false) / lb_file(0xAAB5)));
  ProcessResult r;
  const std::string svg = draw(bake(false), "0xA9B4..0xAAB5", &r);
  EXPECT_EQ(r.err,
            "warning: landblock 0xA9B5 is not in the bake: drawn empty\n"
            "warning: landblock 0xAAB5 is not in the bake: drawn empty\n");
  const std::unique_ptr<Node> root = parse_xml(svg);
  const std::size_t expected = lines(read_file(bake(false) / lb_file(0xA9B4))) + lines(read_file(bake(false) / lb_file(0xAAB4)));
  EXPECT_EQ(root->with_class("placement").size(), expected);
  EXPECT_EQ(root->with_class("cell").size(), 2u * 64u);
  EXPECT_EQ(root->with_class("absent").size(), 2u);
  EXPECT_NE(svg.find("Landblocks 0xA9B4..0xAAB5 (2 x 2)"), std::string::npos);
  // A --bits bake holds the same placements, so it gives the same picture.
  EXPECT_EQ(draw(bake(true), "0xA9B4..0xAAB5"), svg);
}

TEST_F(ViewE2E, DigestMismatchAndMissingProvenanceAreWarnings) {
  const fs::path b = copy_of_bake("edited");
  std::string text = read_file(b / lb_file(kBuilt));
  text.erase(text.rfind('\n', text.size() - 2) + 1);  // drop the last line, keep the old digest
  write_file(b / lb_file(kBuilt), text);
  fs::remove(b / "bake-source.sha256");

  ProcessResult r;
  const std::unique_ptr<Node> root = parse_xml(draw(b, "0xA9B4", &r));
  EXPECT_EQ(r.err,
            "warning: the bake has no bake-source.sha256: its region and mode are unknown\n"
            "warning: 0xA9B4.scenery.jsonl does not match its digest file (an interrupted or edited bake?)\n");
  EXPECT_EQ(root->with_class("placement").size(), lines(text));
  ASSERT_EQ(root->with_class("warning").size(), 2u);
  EXPECT_NE(root->with_class("warning")[1]->text.find("does not match its digest"), std::string::npos);
}

TEST_F(ViewE2E, UnusualPlacementsStayWellFormed) {
  // NaN and infinite values, an object without a mesh, and a landblock with
  // no placements at all.
  const fs::path b = copy_of_bake("unusual");
  const std::string tail =
      ",\"qw\":1.000000,\"qx\":0.000000,\"qy\":0.000000,\"qz\":0.000000,\"scale\":{},\"source_cell_x\":0,"
      "\"source_cell_y\":0,\"source_obj_idx\":{},\"default_script_id\":\"0x00000000\"}}\n";
  const std::string head = "{{\"obj_id\":\"0x{:08X}\",\"x\":{},\"y\":{},\"z\":{}";
  std::string text;
  text += fmt::format(fmt::runtime(head + tail), 0x01001000, "NaN", "10.000000", "1.000000", "1.000000", 0);
  text += fmt::format(fmt::runtime(head + tail), 0x01001000, "20.000000", "20.000000", "-inf", "inf", 1);
  text += fmt::format(fmt::runtime(head + tail), 0x03000001, "192.000000", "0.000000", "0.000000", "1.000000", 2);
  rewrite_with_digest(b / lb_file(kBuilt), text);
  rewrite_with_digest(b / lb_file(0xAAB4), "");

  const std::unique_ptr<Node> root = parse_xml(draw(b, "0xA9B4..0xAAB4"));
  const std::vector<const Node*> placements = root->with_class("placement");
  ASSERT_EQ(placements.size(), 3u);
  EXPECT_NE(titles_of(*placements[0]).front()->text.find("position not finite: not drawn"), std::string::npos);
  EXPECT_NE(titles_of(*placements[2]).front()->text.find("no footprint mesh"), std::string::npos);
  EXPECT_EQ(root->with_class("position").size(), 2u);
  EXPECT_EQ(root->with_class("footprint").size(), 0u);  // NaN, infinite and missing footprints
}

TEST_F(ViewE2E, BadInputIsAnErrorWithStatusOne) {
  const fs::path foreign = copy_of_bake("foreign");
  std::string text = read_file(foreign / lb_file(kBuilt));
  text.insert(0, "{\"obj_id\":1}\n");
  rewrite_with_digest(foreign / lb_file(kBuilt), text);
  const fs::path cut = copy_of_bake("cut");  // what a bake killed mid-write leaves
  write_file(cut / lb_file(kBuilt), read_file(cut / lb_file(kBuilt)).substr(0, 100));
  const fs::path mismatched = copy_of_bake("mismatched");  // a file for a landblock the archives lack
  rewrite_with_digest(mismatched / lb_file(0xA9B5), "");

  struct Case {
    fs::path dat_dir, bake;
    std::string landblock;
    std::string err;  // the start of the report
  };
  const std::vector<Case> cases = {
      {dats(), bake(false), "0xA9B6", fmt::format("Error: landblock 0xA9B6 is not in the bake: no {}",
                                                  (bake(false) / lb_file(0xA9B6)).string())},
      {dats(), bake(false), "0x0102..0x0203",
       "Error: none of the landblocks 0x0102..0x0203 is in the bake " + bake(false).string() + "\n"},
      {dats(), mismatched, "0xA9B5",
       "Error: fetch CellLandblock 0xA9B5FFFF from cell.dat\n\nCaused by:\n    File ID A9B5FFFF not found in provider\n"},
      {dats(), foreign, "0xA9B4",
       fmt::format("Error: {0} is not a placement file\n\nCaused by:\n    {0}:1:11: expected `\"0x`, found `1`\n",
                   (foreign / lb_file(kBuilt)).string())},
      {dats(), cut, "0xA9B4",
       fmt::format("Error: {0} is not a placement file; 0xA9B4.scenery.jsonl does not match its digest file (an "
                   "interrupted or edited bake?)\n\nCaused by:\n    {0}:1:101: ",
                   (cut / lb_file(kBuilt)).string())},
      {dats(), tmp_ / "nowhere", "0xA9B4", "Error: bake `" + (tmp_ / "nowhere").string() + "` is not a directory"},
      {tmp_.path(), bake(false), "0xA9B4", "Error: open " + (tmp_ / "client_portal.dat").string()},
      {dats(), bake(false), "0xA9Z4", "Error: parse hex u32 `0xA9Z4`"},
      {dats(), bake(false), "@ids.txt", "Error: --landblock `@ids.txt`: one id or a rectangle lo..hi, not a list file"},
      {dats(), bake(false), "0x0000..0x1010", "Error: --landblock `0x0000..0x1010` spans 17 x 17 landblocks; a picture holds at most 16 x 16"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    const ProcessResult r = run_view({"--dat-dir", c.dat_dir.string(), "--bake", c.bake.string(), "--landblock",
                                      c.landblock, "--out", (tmp_ / "x.svg").string()});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    EXPECT_FALSE(fs::exists(tmp_ / "x.svg"));
  }
  const ProcessResult usage = run_view({"--dat-dir", dats().string(), "--bake", bake(false).string()});
  EXPECT_EQ(usage.exit_status, 2);
}

}  // namespace
}  // namespace strewmill::tools
