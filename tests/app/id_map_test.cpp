#include "apps/strewmill/id_map.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace strewmill::app {
namespace {

TEST(IdMap, FindsWhatWasInsertedAcrossGrowth) {
  IdMap<std::string> map;
  EXPECT_EQ(map.find(0), nullptr);
  std::map<std::uint32_t, std::string> reference;
  // Ids shaped like data ids: strides in the low and the high bytes, 0 and
  // the largest id included.
  std::vector<std::uint32_t> ids = {0, 0xFFFFFFFF};
  for (std::uint32_t lb = 0; lb < 40; ++lb) {
    ids.push_back((lb << 16) | 0xFFFF);
    ids.push_back((lb << 16) | 0xFFFE);
    ids.push_back(0x01000000u + lb);
    ids.push_back(lb << 24);
  }
  std::vector<const std::string*> stored;
  for (const std::uint32_t id : ids) {
    if (reference.contains(id)) continue;
    reference[id] = std::to_string(id);
    stored.push_back(&map.insert(id, std::to_string(id)));
  }
  EXPECT_EQ(map.size(), reference.size());
  for (const auto& [id, value] : reference) {
    const std::string* found = map.find(id);
    ASSERT_NE(found, nullptr) << id;
    EXPECT_EQ(*found, value);
  }
  for (const std::uint32_t absent : {1u, 0x0000FFFDu, 0x02000001u, 0xFFFFFFFEu}) {
    EXPECT_FALSE(map.contains(absent)) << absent;
  }
  // Values never move: what insert returned early is still the value.
  EXPECT_EQ(*stored.front(), "0");
  EXPECT_EQ(stored.front(), map.find(0));
}

}  // namespace
}  // namespace strewmill::app
