/*
 * Tests of molv's window: a private X display, a copy of the plug-in, a
 * work folder removed after each test, and `molv gui` run there with a
 * script.
 */
#ifndef QEL_TESTS_SUPPORT_WINDOW_TEST_H
#define QEL_TESTS_SUPPORT_WINDOW_TEST_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/plugin_dir.h"
#include "support/run_molv.h"
#include "support/virtual_display.h"

namespace qel_test {

class WindowTest : public ::testing::Test {
 protected:
  // TAG names the work folder (make_temp_dir).
  explicit WindowTest(const char *tag) : tag_(tag) {}

  void SetUp() override {
    if (display_.name().empty()) GTEST_SKIP() << "no Xvfb";
    work_ = make_temp_dir(tag_);
  }
  void TearDown() override {
    if (!work_.empty()) remove_tree(work_);
  }

  // Writes TEXT to NAME in the work folder; its path.
  std::string write(const std::string &name, const std::string &text) const {
    const std::string path = work_ + "/" + name;
    write_file(path, text);
    return path;
  }

  // molv gui [SCENE] --plugin-dir ... --script SCRIPT [EXTRA...], in the
  // work folder on the private display.
  RunResult run_script(const std::string &script, const std::string &scene,
                       const std::vector<std::string> &extra, int timeout_seconds) {
    const std::string file = write("script.tcl", script);
    RunOptions options;
    options.args = {"gui"};
    if (!scene.empty()) options.args.push_back(scene);
    options.args.insert(options.args.end(), {"--plugin-dir", plugin_.path(), "--script", file});
    options.args.insert(options.args.end(), extra.begin(), extra.end());
    options.cwd = work_;
    options.env = {{"DISPLAY", display_.name()}};
    options.timeout_seconds = timeout_seconds;
    return run_molv(options);
  }

  VirtualDisplay display_;
  PluginDir plugin_;
  std::string work_;

 private:
  const char *tag_;
};

}  // namespace qel_test

#endif  // QEL_TESTS_SUPPORT_WINDOW_TEST_H
