// Editing a bake's output the way a complete bake would have written it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "apps/strewmill/sha256.h"
#include "tests/support/process.h"

namespace strewmill::tools {

// Rewrites a placement file and its digest.
inline void rewrite_with_digest(const std::filesystem::path& file, const std::string& text) {
  test_support::write_file(file, text);
  const auto digest = app::sha256_file(file);
  ASSERT_TRUE(digest);
  test_support::write_file(std::filesystem::path(file.string() + ".sha256"), *digest + "\n");
}

}  // namespace strewmill::tools
