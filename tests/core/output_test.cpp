/*
 * The output context's integer text: every digit count, both signs and the
 * extremes against std::to_chars, and a long run of integers and number
 * lines that crosses the buffer boundary many times; a file written with
 * its pages sent to the disk as it goes.
 */
#include "core/output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <charconv>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace {

std::string reference(long value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::string put(long value) {
  char text[qel::Output::kIntegerMax + 8];
  std::memset(text, 'X', sizeof text);
  char *end = qel::Output::put_integer(text, value);
  EXPECT_LE(static_cast<std::size_t>(end - text), qel::Output::kIntegerMax);
  return std::string(text, end);
}

TEST(OutputIntegers, EveryDigitCountBothSignsAndTheExtremes) {
  std::vector<long> values = {0, LONG_MAX, LONG_MIN, LONG_MAX - 1, LONG_MIN + 1};
  long power = 1;
  for (int digits = 1; digits <= 18; ++digits) {
    power *= 10;
    for (long delta = -2; delta <= 2; ++delta) {
      values.push_back(power + delta);
      values.push_back(-(power + delta));
    }
  }
  for (long value = -1000; value <= 1000; ++value) values.push_back(value);
  for (const long value : values) EXPECT_EQ(put(value), reference(value)) << value;
}

TEST(OutputIntegers, FaceIndicesOfALargeMeshAcrossTheBufferBoundary) {
  // Several megabytes of "index," text through integer() and through lines
  // laid out with put_integer in one reservation, as the face writer does.
  std::string sink;
  std::string expected;
  {
    qel::Output out;
    out.attach_string(&sink);
    for (long i = 0; i < 600000; ++i) {
      const long value = (i * 7919) % 3000001 - (i % 97 == 0 ? 5000000 : 0);
      out.integer(value);
      out.put(',');
      char *const start = out.reserve_tail(2 * qel::Output::kIntegerMax + 2);
      char *p = qel::Output::put_integer(start, value + 1);
      *p++ = ';';
      p = qel::Output::put_integer(p, -value);
      *p++ = '\n';
      out.commit_tail(static_cast<std::size_t>(p - start));
      expected += reference(value) + "," + reference(value + 1) + ";" + reference(-value) + "\n";
    }
    ASSERT_TRUE(out.flush());
  }
  ASSERT_GT(sink.size(), std::size_t{3} << 20);
  EXPECT_TRUE(sink == expected);
}

// A file whose pages go to the disk while it is written (every few
// megabytes) holds exactly what was written, the patch of its start made
// at the end included, run after run into new files through one context,
// as the plug-in's output does.
TEST(OutputFile, PagesSentAheadLeaveTheFileAsWritten) {
  const qel_test::TempDir dir("output_ahead");
  qel::Output out;
  for (const int run : {0, 1}) {
    const std::string path = dir.path() + "/run" + std::to_string(run) + ".x";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    out.attach_fd(fd, true);
    std::string expected;
    out.puts("header 000000000;\n");
    expected += "header 000000000;\n";
    // About 20 MB the second time, half that the first: past the step at
    // which pages are sent, in lines that straddle the buffer's end.
    const long lines = run == 0 ? 450000 : 900000;
    for (long i = 0; i < lines; ++i) {
      out.integer(i * 31 - 7);
      out.puts(";0.25000;-1.50000;,\n");
      expected += reference(i * 31 - 7) + ";0.25000;-1.50000;,\n";
    }
    const std::string count = std::to_string(lines);
    out.patch(7, count.data(), count.size());
    expected.replace(7, count.size(), count);
    ASSERT_TRUE(out.flush());
    out.attach_string(nullptr);
    ASSERT_GT(expected.size(), std::size_t{9} << 20);

    std::string written(expected.size() + 1, '\0');
    const ssize_t got = ::pread(fd, &written[0], written.size(), 0);
    ::close(fd);
    ASSERT_EQ(got, static_cast<ssize_t>(expected.size())) << run;
    written.resize(expected.size());
    EXPECT_TRUE(written == expected) << run;
  }
}

}  // namespace
