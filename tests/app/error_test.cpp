#include "apps/strewmill/error.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace strewmill::app {
namespace {

Error chain_of(const std::vector<std::string>& messages) {
  Error e(messages.front());
  for (std::size_t i = 1; i < messages.size(); ++i) e = std::move(e).with_cause(Error(messages[i]));
  return e;
}

TEST(RenderReport, Layouts) {
  struct Case {
    std::vector<std::string> chain;
    std::string report;
  };
  const Case cases[] = {
      {{"top"}, "Error: top\n"},
      {{"top", "only cause"}, "Error: top\n\nCaused by:\n    only cause\n"},
      {{"top", "first\nsecond"}, "Error: top\n\nCaused by:\n    first\n    second\n"},
      {{"top", "a", "b"}, "Error: top\n\nCaused by:\n    0: a\n    1: b\n"},
      {{"top", "a\nmore\n", "b"}, "Error: top\n\nCaused by:\n    0: a\n       more\n       \n    1: b\n"},
      {{"line one\nline two"}, "Error: line one\nline two\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(render_report(chain_of(c.chain)), c.report) << c.chain.front();
  }
}

TEST(RenderReport, IndexIsRightAlignedInFiveColumns) {
  std::vector<std::string> chain{"top"};
  for (int i = 0; i < 11; ++i) chain.push_back("c" + std::to_string(i));
  const std::string report = render_report(chain_of(chain));
  EXPECT_NE(report.find("\n    9: c9\n   10: c10\n"), std::string::npos) << report;
}

TEST(Error, ContextAndCausesKeepNearestFirst) {
  Error inner = Error("parse hex u32 `zz`").with_cause(Error("invalid digit found in string"));
  Error outer = Error("landblock list `ids.txt` line 3").with_cause(std::move(inner));
  EXPECT_EQ(outer.chain(), (std::vector<std::string>{"landblock list `ids.txt` line 3", "parse hex u32 `zz`",
                                                     "invalid digit found in string"}));

  Error wrapped = std::move(outer).context("outermost");
  EXPECT_EQ(wrapped.message(), "outermost");
  ASSERT_EQ(wrapped.chain().size(), 4u);
  EXPECT_EQ(wrapped.chain()[1], "landblock list `ids.txt` line 3");
}

TEST(Error, OperatingSystemErrors) {
  EXPECT_EQ(Error::os(2).message(), "No such file or directory (os error 2)");
  EXPECT_EQ(Error::from_io(common::IoError::os(21)).message(), "Is a directory (os error 21)");
  EXPECT_EQ(Error::from_io(common::IoError::unexpected_eof()).message(), "failed to fill whole buffer");
}

}  // namespace
}  // namespace strewmill::app
