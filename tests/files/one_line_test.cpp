/*
 * One line for every message molv writes of its own.
 */
#include "files/one_line.h"

#include <gtest/gtest.h>

TEST(OneLine, BreaksBecomeSpacesOtherControlsAQuestionMarkAndTheEndsGo) {
  EXPECT_EQ(molv::one_line(" a\nb\r\nc\td \n"), "a b  c d");
  // An escape sequence in a file name never reaches the terminal.
  EXPECT_EQ(molv::one_line("x\x1b[2Jy\x7f"), "x?[2Jy?");
  EXPECT_EQ(molv::one_line(" \n\t"), "");
}
