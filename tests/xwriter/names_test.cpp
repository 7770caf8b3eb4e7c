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

TEST(Identifier, NamesOfTheFormatPassUnchanged) {
  EXPECT_STREQ(x_identifier("wheel-2_left", true), "wheel-2_left");
  EXPECT_STREQ(x_identifier("Floats", true), "Floats");
  EXPECT_STREQ(x_identifier("Frame", true), "Frame");
}

// Every character a .x name cannot hold is one '_', a UTF-8 letter
// included: the names models bring, as Assimp gives them.
TEST(Identifier, EveryOtherCharacterIsOneUnderscore) {
  EXPECT_STREQ(x_identifier("Cube.003", true), "Cube_003");
  EXPECT_STREQ(x_identifier("nodes[1]", true), "nodes_1_");
  EXPECT_STREQ(x_identifier("root_$AssimpFbx$_GeometricTranslation", true),
               "root__AssimpFbx__GeometricTranslation");
  EXPECT_STREQ(x_identifier("Pivot:simple_cube_(10000000)", true),
               "Pivot_simple_cube__10000000_");
  EXPECT_STREQ(x_identifier("\xe4\xb8\xad\xe5\x9b\xbd\xe8\x8f\x9c", true), "___");
  EXPECT_STREQ(x_identifier("IfcSite_Gel\xc3\xa4nde", true), "IfcSite_Gel_nde");
  EXPECT_STREQ(x_identifier("a\xf0\x9f\x99\x82z", true), "a_z");
  EXPECT_STREQ(x_identifier("(x)[y]!?*+=%&'/#", true), "_x__y___________");
  // A byte that starts no sequence is one character, so is a cut sequence.
  EXPECT_STREQ(x_identifier("\xff\xc3(\xe4\xb8", true), "____");
  EXPECT_STREQ(x_identifier("\xbf\xbf", true), "__");
}

// What the runtime reads as a number or a keyword is no name.
TEST(Identifier, NumbersAndReservedWordsAreMended) {
  EXPECT_STREQ(x_identifier("-1", true), "_1");
  EXPECT_STREQ(x_identifier("-", false), "_");
  EXPECT_STREQ(x_identifier("a-", false), "a-");
  EXPECT_STREQ(x_identifier("template", true), "_template");
  EXPECT_STREQ(x_identifier("Float", true), "_Float");
  EXPECT_STREQ(x_identifier("BINARY_RESOURCE", true), "_BINARY_RESOURCE");
  EXPECT_STREQ(x_identifier("word.", true), "word_");
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
  EXPECT_STREQ(x_identifier("//note", false), "__note");
  EXPECT_STREQ(x_identifier("/", false), "_");
  EXPECT_STREQ(x_identifier("#3", true), "_3");
  EXPECT_STREQ(x_identifier("3#", true), "_3_");
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
