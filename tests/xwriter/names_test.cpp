/*
 * Object identifiers and the trace indentation.
 */
#include "xwriter/names.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace qel {
namespace {

TEST(Identifier, SpacesBecomeUnderscores) {
  EXPECT_STREQ(x_identifier("my box", false), "my_box");
  EXPECT_STREQ(x_identifier("seven up", false), "seven_up");
  EXPECT_STREQ(x_identifier("  two  ", false), "__two__");
}

TEST(Identifier, DigitPrefixFollowsOption29) {
  EXPECT_STREQ(x_identifier("2nd part", true), "_2nd_part");
  EXPECT_STREQ(x_identifier("7up", true), "_7up");
  EXPECT_STREQ(x_identifier("0", true), "_0");
  EXPECT_STREQ(x_identifier("seven up", true), "seven_up");
  // A leading space gets its '_' from the space rule alone.
  EXPECT_STREQ(x_identifier(" 7up", true), "_7up");
  EXPECT_STREQ(x_identifier("a9", true), "a9");
  EXPECT_STREQ(x_identifier("2nd part", false), "2nd_part");
  EXPECT_STREQ(x_identifier("7up", false), "7up");
}

TEST(Identifier, OrdinaryCharactersPassUnchanged) {
  EXPECT_STREQ(x_identifier("wheel-2.left", true), "wheel-2.left");
  EXPECT_STREQ(x_identifier("a#b/c", true), "a#b/c");
  EXPECT_STREQ(x_identifier("caf\xc3\xa9 \xff", true), "caf\xc3\xa9_\xff");
  EXPECT_STREQ(x_identifier("(x)[y]!?*+=%&'", true), "(x)[y]!?*+=%&'");
}

TEST(Identifier, EmptyAndNullNames) {
  EXPECT_STREQ(x_identifier("", true), "");
  EXPECT_STREQ(x_identifier(nullptr, true), "");
}

TEST(Identifier, TokenBreakingCharactersAreMended) {
  EXPECT_STREQ(x_identifier("box{1}", false), "box_1_");
  EXPECT_STREQ(x_identifier("a,b;c", false), "a_b_c");
  EXPECT_STREQ(x_identifier("say \"hi\"", false), "say__hi_");
  EXPECT_STREQ(x_identifier("<UnrealRoot>", false), "_UnrealRoot_");
  EXPECT_STREQ(x_identifier("tab\there\nend\r\x01\x1f\x7f", false), "tab_here_end____");
}

TEST(Identifier, LeadingCommentOpenersAreMended) {
  EXPECT_STREQ(x_identifier("#3", false), "_3");
  EXPECT_STREQ(x_identifier("//note", false), "_/note");
  EXPECT_STREQ(x_identifier("/", false), "_");
  EXPECT_STREQ(x_identifier("#3", true), "_3");
  EXPECT_STREQ(x_identifier("3#", true), "_3#");
}

TEST(Identifier, LongNamesAreNeverCut) {
  std::string name(5000, 'n');
  name[0] = '9';
  name[4999] = 'z';
  const std::string identifier = x_identifier(name.c_str(), true);
  EXPECT_EQ(identifier, "_" + name);
  // A short name after a long one is not padded by what was left over.
  EXPECT_STREQ(x_identifier("ab", true), "ab");
}

TEST(Identifier, NameIsNotChanged) {
  char name[] = "1 {x}";
  EXPECT_STREQ(x_identifier(name, true), "_1__x_");
  EXPECT_STREQ(name, "1 {x}");
}

TEST(IndentText, ThreeSpacesPerLevel) {
  EXPECT_STREQ(indent_text(0), "");
  EXPECT_STREQ(indent_text(1), "   ");
  EXPECT_STREQ(indent_text(2), "      ");
  EXPECT_EQ(std::string(indent_text(85)), std::string(255, ' '));
  EXPECT_EQ(std::strlen(indent_text(84)), 252u);
}

TEST(IndentText, CappedAndNeverNegative) {
  EXPECT_EQ(std::string(indent_text(86)), std::string(255, ' '));
  EXPECT_EQ(std::string(indent_text(INT_MAX)), std::string(255, ' '));
  EXPECT_STREQ(indent_text(-1), "");
  EXPECT_STREQ(indent_text(INT_MIN), "");
  // Back down after the cap.
  EXPECT_STREQ(indent_text(1), "   ");
}

}  // namespace
}  // namespace qel
