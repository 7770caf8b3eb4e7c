/*
 * The fixture of the end-to-end tests that run `molv export`: a folder of
 * the test's own as the working folder, a fresh copy of the plug-in folder,
 * and the helpers every such test needs (run, a file's path, write, read,
 * the names in the folder).
 */
#ifndef QEL_TESTS_SUPPORT_MOLV_RUN_TEST_H
#define QEL_TESTS_SUPPORT_MOLV_RUN_TEST_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/plugin_dir.h"
#include "support/run_molv.h"

namespace qel_test {

class MolvRunTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // `molv export ARGS --plugin-dir <the copy>` in the test's folder;
  // `options` gives the rest (its args and cwd are set here).
  RunResult run(std::vector<std::string> args, RunOptions options = {});

  // A file in the test's folder.
  std::string path(const std::string &name) const { return work_ + "/" + name; }
  // Writes `text` to path(name) and gives that path.
  std::string write(const std::string &name, const std::string &text) const;
  std::string read(const std::string &name) const;
  // The names in the test's folder, sorted.
  std::vector<std::string> entries() const;
  // Gives the test's folder and plug-in copy to nobody and sets OPTIONS to
  // run a copy of molv as nobody; else skips the test with the reason, and
  // is false.
  bool as_nobody(RunOptions *options);

  PluginDir plugin_;
  std::string work_;

 private:
  std::unique_ptr<MolvForNobody> nobody_molv_;
};

}  // namespace qel_test

#endif  // QEL_TESTS_SUPPORT_MOLV_RUN_TEST_H
