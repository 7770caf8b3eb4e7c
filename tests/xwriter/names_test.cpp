/*
 * Object identifiers and the trace indentation.
 */
#include "xwriter/names.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "binding/options.h"

namespace qel {
namespace {

// Runs a test with opt_digit_prefix set or clear and puts the option string back.
class Identifier : public ::testing::Test {
 protected:
  void SetUp() override { std::memcpy(saved_, option_string(), sizeof saved_); }
  void TearDown() override { std::memcpy(option_string(), saved_, sizeof saved_); }
  static void digit_prefix(bool on) { option_string()[opt_digit_prefix] = on ? '1' : '0'; }

 private:
  char saved_[kOptionCount];
};

TEST_F(Identifier, SpacesBecomeUnderscores) {
  digit_prefix(false);
  EXPECT_STREQ(x_identifier("my box"), "my_box");
  EXPECT_STREQ(x_identifier("seven up"), "seven_up");
  EXPECT_STREQ(x_identifier("  two  "), "__two__");
}

TEST_F(Identifier, DigitPrefixFollowsOption29) {
  digit_prefix(true);
  EXPECT_STREQ(x_identifier("2nd part"), "_2nd_part");
  EXPECT_STREQ(x_identifier("7up"), "_7up");
  EXPECT_STREQ(x_identifier("0"), "_0");
  EXPECT_STREQ(x_identifier("seven up"), "seven_up");
  // A leading space gets its '_' from the space rule alone.
  EXPECT_STREQ(x_identifier(" 7up"), "_7up");
  EXPECT_STREQ(x_identifier("a9"), "a9");
  digit_prefix(false);
  EXPECT_STREQ(x_identifier("2nd part"), "2nd_part");
  EXPECT_STREQ(x_identifier("7up"), "7up");
}

TEST_F(Identifier, OrdinaryCharactersPassUnchanged) {
  digit_prefix(true);
  EXPECT_STREQ(x_identifier("wheel-2.left"), "wheel-2.left");
  EXPECT_STREQ(x_identifier("a#b/c"), "a#b/c");
  EXPECT_STREQ(x_identifier("caf\xc3\xa9 \xff"), "caf\xc3\xa9_\xff");
  EXPECT_STREQ(x_identifier("(x)[y]<z>!?*+=%&'"), "(x)[y]<z>!?*+=%&'");
}

TEST_F(Identifier, EmptyAndNullNames) {
  digit_prefix(true);
  EXPECT_STREQ(x_identifier(""), "");
  EXPECT_STREQ(x_identifier(nullptr), "");
}

TEST_F(Identifier, TokenBreakingCharactersAreMended) {
  digit_prefix(false);
  EXPECT_STREQ(x_identifier("box{1}"), "box_1_");
  EXPECT_STREQ(x_identifier("a,b;c"), "a_b_c");
  EXPECT_STREQ(x_identifier("say \"hi\""), "say__hi_");
  EXPECT_STREQ(x_identifier("tab\there\nend\r\x01\x1f\x7f"), "tab_here_end____");
}

TEST_F(Identifier, LeadingCommentOpenersAreMended) {
  digit_prefix(false);
  EXPECT_STREQ(x_identifier("#3"), "_3");
  EXPECT_STREQ(x_identifier("//note"), "_/note");
  EXPECT_STREQ(x_identifier("/"), "_");
  digit_prefix(true);
  EXPECT_STREQ(x_identifier("#3"), "_3");
  EXPECT_STREQ(x_identifier("3#"), "_3#");
}

TEST_F(Identifier, LongNamesAreNeverCut) {
  digit_prefix(true);
  std::string name(5000, 'n');
  name[0] = '9';
  name[4999] = 'z';
  const std::string identifier = x_identifier(name.c_str());
  EXPECT_EQ(identifier, "_" + name);
  // A short name after a long one is not padded by what was left over.
  EXPECT_STREQ(x_identifier("ab"), "ab");
}

TEST_F(Identifier, NameIsNotChanged) {
  digit_prefix(true);
  char name[] = "1 {x}";
  EXPECT_STREQ(x_identifier(name), "_1__x_");
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
