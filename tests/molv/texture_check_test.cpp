/*
 * The texture names a run wrote, known from the run: as the plug-in writes
 * them under the run's options, each once.
 */
#include "common/texture_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/options.h"
#include "support/export_harness.h"

TEST(TextureCheck, TheNamesAreTheRunsAsItsOptionsWriteThem) {
  using Names = std::vector<std::string>;
  // The plug-in never takes a name's last character for a folder mark, and
  // a .x string has no '"'.
  const Names named = {"maps/a.png", "b\"c.png", "other\\a.png", "C:a.png", "dir/", "b\"c.png"};
  EXPECT_EQ(molv::x_texture_names(named, qel::kDefaultOptions),
            (Names{"a.png", "b_c.png", "dir/"}));
  const std::string kept = qel_test::options_with(qel::kDefaultOptions, {{4, '0'}});
  EXPECT_EQ(molv::x_texture_names(named, kept),
            (Names{"maps/a.png", "b_c.png", "other\\a.png", "C:a.png", "dir/"}));
  const std::string none = qel_test::options_with(qel::kDefaultOptions, {{5, '0'}});
  EXPECT_EQ(molv::x_texture_names(named, none), Names{});
}
