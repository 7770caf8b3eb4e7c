#include "support/molv_run_test.h"

#include <algorithm>
#include <filesystem>

#include "support/child_process.h"
#include "support/export_harness.h"

namespace qel_test {

void MolvRunTest::SetUp() { work_ = make_temp_dir("molv_run"); }

void MolvRunTest::TearDown() { remove_tree(work_); }

RunResult MolvRunTest::run(std::vector<std::string> args, RunOptions options) {
  args.insert(args.begin(), "export");
  args.push_back("--plugin-dir");
  args.push_back(plugin_.path());
  options.args = std::move(args);
  options.cwd = work_;
  return run_molv(options);
}

bool MolvRunTest::as_nobody(RunOptions *options) {
  give_to_nobody(work_);
  give_to_nobody(plugin_.path());
  if (!nobody_molv_) nobody_molv_ = std::make_unique<MolvForNobody>();
  const std::string why = nobody_molv_->use_for({work_, plugin_.path()}, options);
  if (!why.empty()) [&] { GTEST_SKIP() << why; }();
  return why.empty();
}

std::string MolvRunTest::write(const std::string &name, const std::string &text) const {
  write_file(path(name), text);
  return path(name);
}

std::string MolvRunTest::read(const std::string &name) const { return read_file(path(name)); }

std::vector<std::string> MolvRunTest::entries() const {
  std::vector<std::string> names;
  for (const auto &e : std::filesystem::directory_iterator(work_)) {
    names.push_back(e.path().filename());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace qel_test
