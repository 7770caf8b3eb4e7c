/*
 * Faults an export must survive without losing anything, through the real
 * molv and the real qel_export.so: a full disk at each kind of write, the
 * host allocator failing at every allocation, targets and folders that may
 * not be written, links, pipes and devices, the longest names, the model
 * being read, scenes that are no plain file, a plug-in folder that cannot
 * be written or has an awkward name, options files of every shape and
 * kind, cancels at every poll and by signals, and targets written in place.  Every failed run must leave an earlier export of the same name
 * byte for byte as it was, no temporary file, and the options file as it
 * was.  The same sweeps run in the test process too, where the host's count
 * of live allocations shows that each run gave back everything it took.
 *
 * Tests run as root on CI: the permission cases run molv as nobody, from
 * a copy in a folder nobody may enter (the build may lie in a private one).
 * Cancels and failures run once more where no nameless file can be made.
 */
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "api/display.h"
#include "api/host_memory.h"
#include "api/tcl_bridge.h"
#include "api/test_hooks.h"
#include "binding/options.h"
#include "binding/tcl_word.h"
#include "common/signals.h"
#include "support/child_process.h"
#include "support/export_harness.h"
#include "support/grid_scene.h"
#include "support/plugin_dir.h"
#include "support/run_molv.h"

namespace fs = std::filesystem;

namespace {

const std::string kDefaults = qel::kDefaultOptions;

// The default options with data comments, triangulation, duplication
// indices and two-sided surfaces: every kind of block and poll is reached.
std::string busy_options() {
  std::string options = kDefaults;
  options[2] = '1';
  options[9] = '1';
  options[13] = '1';
  options[22] = '1';
  return options;
}

// Several meshes (shared corners, two materials, a texture, a two-sided
// triangle, a concave polygon), a group and a light with data texts; the
// light's data comment is the last thing the export allocates for.
const char kSeveralMeshes[] = R"({
  "palette": [{"name": "red", "diffuse": [1, 0, 0]}, {"name": "blue", "diffuse": [0, 0, 1]}],
  "textures": ["maps/wood.png"],
  "world": {"children": [
    {"name": "strip", "vertices": [[0,0,0],[1,0,0],[2,0,0],[0,1,0],[1,1,0],[2,1,0]],
     "surfaces": [{"verts": [0,1,4,3]}, {"verts": [1,2,5,4], "material": 1}]},
    {"name": "crate", "texture": {"id": 0}, "vertices": [[0,0,2],[1,0,2],[1,1,2],[0,1,2]],
     "surfaces": [{"verts": [[0,0,0],[1,1,0],[2,1,1],[3,0,1]]}]},
    {"name": "group", "data": "a group\nwith data", "children": [
      {"name": "tri", "centre": [0,0,1], "vertices": [[0,0,1],[1,0,1],[0,1,1]],
       "surfaces": [{"verts": [0,1,2], "twosided": true}]},
      {"name": "ell", "vertices": [[0,0,3],[2,0,3],[2,1,3],[1,1,3],[1,2,3],[0,2,3]],
       "surfaces": [{"verts": [0,1,2,3,4,5], "shading": "flat"}]}]},
    {"type": "light", "name": "sun", "data": "the light"}]}})";

// The model info with its vertex count patched into the header at the end.
std::string patched_options() {
  std::string options = busy_options();
  options[1] = '1';
  return options;
}

using qel_test::grid_object;
using qel_test::scene_of;

// A grid whose text is about 3.8 MB under the default options, more than
// three times the plug-in's output buffer, then a small mesh.
std::string big_scene() {
  return scene_of({grid_object("grid", 200, 0),
                   R"({"name":"tri","vertices":[[0,0,1],[1,0,1],[0,1,1]],)"
                   R"("surfaces":[{"verts":[0,1,2]}]})"});
}

int count_of(const std::vector<std::string> &lines, const std::string &line) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

class Faults : public ::testing::Test {
 protected:
  void SetUp() override { work_ = qel_test::make_temp_dir("faults"); }
  void TearDown() override { qel_test::remove_tree(work_); }

  // Every status line, as a log would have it: the faults are seen by the
  // phase they come in.
  qel_test::RunResult run(std::vector<std::string> args, qel_test::RunOptions options = {}) {
    args.insert(args.begin(), "export");
    args.push_back("--verbose");
    // The faults must leave the remembered options as they were: the runs
    // read and write them as the modeller's dialog does.
    if (std::find(args.begin(), args.end(), "--defaults") == args.end())
      args.push_back("--remembered");
    if (std::find(args.begin(), args.end(), "--plugin-dir") == args.end()) {
      args.push_back("--plugin-dir");
      args.push_back(plugin_.path());
    }
    options.args = args;
    if (options.cwd.empty()) options.cwd = work_;
    return qel_test::run_molv(options);
  }
  qel_test::RunResult run_limited(std::vector<std::string> args, long limit) {
    qel_test::RunOptions options;
    options.file_size_limit = limit;
    return run(std::move(args), options);
  }

  std::string path(const std::string &name) const { return work_ + "/" + name; }
  std::string write(const std::string &name, const std::string &text) const {
    qel_test::write_file(path(name), text);
    return path(name);
  }
  std::string read(const std::string &name) const { return qel_test::read_file(path(name)); }
  std::set<std::string> entries() const {
    std::set<std::string> names;
    for (const auto &e : fs::directory_iterator(work_)) names.insert(e.path().filename());
    return names;
  }

  // An earlier export of NAME (under the default options, which also go
  // into the options file), then what a failed run must leave alone.
  void make_earlier_export(const std::string &scene, const std::string &name) {
    auto r = run({scene, "-o", name, "--options", kDefaults});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    earlier_ = read(name + ".x");
    ASSERT_FALSE(earlier_.empty());
    before_ = entries();
    options_before_ = qel_test::read_file(plugin_.options_file());
    ASSERT_EQ(options_before_, kDefaults);
  }
  void expect_left_alone(const std::string &name, const std::string &context) {
    // Not EXPECT_EQ, whose diff of two large exports outgrows the memory.
    EXPECT_TRUE(read(name + ".x") == earlier_) << context << ": the earlier export changed";
    EXPECT_EQ(entries(), before_) << context << ": files appeared or went";
    EXPECT_EQ(qel_test::read_file(plugin_.options_file()), options_before_)
        << context << ": the options file changed";
  }
  void expect_write_failure(const qel_test::RunResult &r, const std::string &file,
                            const std::string &context) {
    EXPECT_EQ(r.exit_status, 1) << context << ": " << r.err;
    const auto lines = qel_test::text_lines(r.err);
    EXPECT_EQ(count_of(lines, "molv: Can not write file '" + file + "' !"), 1)
        << context << ": " << r.err;
    EXPECT_EQ(count_of(lines, "*** Export failed ! ***"), 1) << context;
    EXPECT_EQ(count_of(lines, "Ready !"), 0) << context;
  }

  // Run options for molv as nobody, from a copy of the program that
  // nobody may run.  False, and the test skipped with one line that says
  // why, where nobody cannot run it or reach the test's folders.
  bool as_nobody(qel_test::RunOptions *options) {
    if (!nobody_molv_) nobody_molv_ = std::make_unique<qel_test::MolvForNobody>();
    const std::string why = nobody_molv_->use_for({work_, plugin_.path()}, options);
    if (!why.empty()) [&] { GTEST_SKIP() << why; }();
    return why.empty();
  }

  qel_test::PluginDir plugin_;
  std::string work_;
  std::string earlier_;
  std::set<std::string> before_;
  std::string options_before_;
  std::unique_ptr<qel_test::MolvForNobody> nobody_molv_;
};

// ---- a full disk ----------------------------------------------------------

TEST_F(Faults, FullDiskAtTheFirstWriteOfABigMeshStopsTheRun) {
  const std::string scene = write("big.json", big_scene());
  make_earlier_export(scene, "big");
  // The first write is the first full buffer, in the middle of the grid.
  auto r = run_limited({scene, "--options", busy_options()}, 0);
  expect_write_failure(r, "big.x", "limit 0");
  // The run ends at the mesh that failed: the small mesh after it is never
  // written.
  EXPECT_EQ(count_of(qel_test::text_lines(r.err), "Export X File - Mesh Vertices ..."), 1)
      << r.err;
  expect_left_alone("big", "limit 0");
}

TEST_F(Faults, FullDiskInTheMiddleOfAMeshAfterEarlierWrites) {
  const std::string scene = write("big.json", big_scene());
  make_earlier_export(scene, "big");
  // One buffer goes out; the second, still inside the grid, does not fit.
  for (long limit : {(1L << 20) + 1000, (3L << 19)}) {
    auto r = run_limited({scene, "--options", busy_options()}, limit);
    const std::string context = "limit " + std::to_string(limit);
    expect_write_failure(r, "big.x", context);
    EXPECT_EQ(count_of(qel_test::text_lines(r.err), "Export X File - Mesh Vertices ..."), 1)
        << context;
    expect_left_alone("big", context);
  }
}

TEST_F(Faults, FullDiskWhenTheLastBufferedBytesAreWrittenAtTheClose) {
  // A small file goes out only at the close; a big one has written whole
  // buffers before.  One byte less than the file fails there; the file's
  // own size is enough.
  for (const std::string &text : {std::string(kSeveralMeshes), big_scene()}) {
    const std::string scene = write("s.json", text);
    auto full = run({scene, "-o", "full", "--options", busy_options()});
    ASSERT_EQ(full.exit_status, 0) << full.err;
    const std::string complete = read("full.x");
    ::unlink(path("full.x").c_str());
    make_earlier_export(scene, "s");
    const long size = static_cast<long>(complete.size());
    const std::string context = "size " + std::to_string(size);

    auto r = run_limited({scene, "--options", busy_options()}, size - 1);
    expect_write_failure(r, "s.x", context);
    // Every mesh was written: the failure came at the close.
    EXPECT_EQ(qel_test::final_status(r.err), "molv: Can not write file 's.x' !") << r.err;
    expect_left_alone("s", context);

    auto ok = run_limited({scene, "--options", busy_options()}, size);
    EXPECT_EQ(ok.exit_status, 0) << context << ": " << ok.err;
    EXPECT_EQ(read("s.x"), complete) << context;
    ::unlink(path("s.x").c_str());
    ::unlink(path("s.json").c_str());
  }
}

TEST_F(Faults, FullDiskThroughASymbolicLinkKeepsTheFileItNames) {
  const std::string scene = write("m.json", kSeveralMeshes);
  make_earlier_export(scene, "real");
  ASSERT_EQ(::symlink("real.x", path("link.x").c_str()), 0);
  before_ = entries();
  auto r = run_limited({scene, "-o", "link", "--options", busy_options()}, 100);
  expect_write_failure(r, "link.x", "through the link");
  expect_left_alone("real", "through the link");
  struct stat st {};
  ASSERT_EQ(::lstat(path("link.x").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

// A device node as the target (made here: a copy of the system's full or
// null device), written in place.  A full device fails the run with the
// real "no space" error; and whatever happens, the node is never removed.
// False where nodes cannot be made or used (no right to, a nodev mount).
bool make_device(const std::string &path, unsigned minor) {
  if (::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, minor)) != 0) return false;
  const int fd = ::open(path.c_str(), O_WRONLY);
  if (fd < 0) {
    ::unlink(path.c_str());
    return false;
  }
  ::close(fd);
  return true;
}

TEST_F(Faults, DeviceTargetsAreWrittenInPlaceAndNeverRemoved) {
  const std::string scene = write("m.json", kSeveralMeshes);
  if (!make_device(path("full.x"), 7) || !make_device(path("null.x"), 3))
    GTEST_SKIP() << "no device nodes can be made here";
  ASSERT_EQ(::symlink("full.x", path("link.x").c_str()), 0);
  const auto is_device = [&](const std::string &name) {
    struct stat st {};
    return ::stat(path(name).c_str(), &st) == 0 && S_ISCHR(st.st_mode);
  };
  for (const char *name : {"full", "link"}) {
    auto r = run({scene, "-o", name, "--options", busy_options()});
    expect_write_failure(r, std::string(name) + ".x", name);
    EXPECT_TRUE(is_device("full.x")) << name << ": the device node was removed";
  }
  auto ok = run({scene, "-o", "null", "--options", busy_options()});
  EXPECT_EQ(ok.exit_status, 0) << ok.err;
  auto cancelled = run({scene, "-o", "null", "--options", busy_options(), "--cancel-at-poll", "4"});
  EXPECT_EQ(cancelled.exit_status, 1) << cancelled.err;
  EXPECT_TRUE(is_device("null.x")) << "the device node was removed";
  EXPECT_EQ(entries(), (std::set<std::string>{"m.json", "full.x", "null.x", "link.x"}));
}

TEST_F(Faults, PipeThatNobodyReadsIsRefusedNotWaitedFor) {
  const std::string scene = write("m.json", kSeveralMeshes);
  ASSERT_EQ(::mkfifo(path("pipe.x").c_str(), 0666), 0);
  auto r = run({scene, "-o", "pipe", "--options", busy_options()});
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_status, 1) << r.err;
  EXPECT_EQ(qel_test::final_status(r.err), "molv: Can not open file 'pipe.x' for writing !")
      << r.err;
  struct stat st {};
  ASSERT_EQ(::stat(path("pipe.x").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// ---- long names ------------------------------------------------------------

TEST_F(Faults, LongestNamesKeepTheEarlierFileAndNewOnesAreTaken) {
  const std::string scene = write("m.json", kSeveralMeshes);
  ASSERT_EQ(run({scene, "-o", "plain", "--options", busy_options()}).exit_status, 0);
  const std::string longest(253, 'n');  // 255 bytes with ".x"
  make_earlier_export(scene, longest);
  auto cancelled = run({scene, "-o", longest, "--options", busy_options(), "--cancel-at-poll", "4"});
  EXPECT_EQ(cancelled.exit_status, 1) << cancelled.err;
  expect_left_alone(longest, "cancel");
  auto full = run_limited({scene, "-o", longest, "--options", busy_options()}, 100);
  expect_write_failure(full, longest + ".x", "full disk");
  expect_left_alone(longest, "full disk");
  for (const std::string &name : {longest, std::string(246, 'f')}) {
    EXPECT_EQ(run({scene, "-o", name, "--options", busy_options()}).exit_status, 0);
    EXPECT_EQ(read(name + ".x"), read("plain.x"));
  }
}

// ---- the model being read ----------------------------------------------------

TEST_F(Faults, TheModelBeingReadIsNeverWritten) {
  const std::string scene = write("m.json", kSeveralMeshes);
  make_earlier_export(scene, "model");  // a .x file is a model Assimp reads
  ASSERT_EQ(::symlink("model.x", path("link.x").c_str()), 0);
  ASSERT_EQ(::link(path("model.x").c_str(), path("hard.x").c_str()), 0);
  before_ = entries();
  const std::vector<std::vector<std::string>> runs = {
      {"model.x"}, {"model.x", "-o", "./link"}, {"link.x", "-o", "hard"},
      {"model.x", "-o", "new", "--debug-log", "hard.x"}};
  for (const auto &args : runs) {
    auto r = run(args);
    EXPECT_EQ(r.exit_status, 2) << r.err;
    EXPECT_EQ(qel_test::text_lines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find("would write over the model"), std::string::npos) << r.err;
    expect_left_alone("model", args.back());
  }
  EXPECT_EQ(run({"link.x", "-o", "copy"}).exit_status, 0);
}

// ---- what SCENE and the target are ---------------------------------------------

TEST_F(Faults, ScenesThatAreNoRegularFileOrTooLargeAreRefused) {
  const std::string scene = write("m.json", kSeveralMeshes);
  make_earlier_export(scene, "x");
  ASSERT_EQ(::mkdir(path("x.obj").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("/dev/zero", path("x.json").c_str()), 0);
  ASSERT_EQ(::mkfifo(path("x.ply").c_str(), 0666), 0);
  before_ = entries();
  for (const std::string name : {"x.obj", "x.json", "x.ply"}) {
    qel_test::RunOptions options;
    options.timeout_seconds = 30;
    auto r = run({name}, options);  // exports to x.x
    EXPECT_EQ(r.exit_status, 2) << r.err;
    // A folder stands for the models in it: here none.
    EXPECT_EQ(r.err, "molv: " + name +
                         (name == "x.obj" ? ": no model in the folder (none of the extensions "
                                            "molv reads)\n"
                                          : ": not a regular file\n"));
    expect_left_alone("x", name);
  }
#if !defined(__SANITIZE_ADDRESS__)  // its allocator takes no address-space limit
  // Four gigabytes (sparse) for a process that may have one.
  ASSERT_EQ(::truncate(write("huge.json", "").c_str(), 4L << 30), 0);
  before_ = entries();
  qel_test::RunOptions small;
  small.memory_limit = 1L << 30;
  auto r = run({"huge.json", "-o", "x"}, small);
  EXPECT_EQ(r.exit_status, 2) << r.err;
  EXPECT_EQ(r.err, "molv: huge.json: too large: out of memory\n");
  expect_left_alone("x", "too large");
#endif
}

TEST_F(Faults, PipesGetTheWholePatchedFileAndLinkLoopsFail) {
  const std::string scene = write("big.json", big_scene());
  const std::string options = patched_options();
  ASSERT_EQ(run({scene, "-o", "plain", "--options", options}).exit_status, 0);
  const std::string complete = read("plain.x");
  // A pipe that is read; the reader holds a write end too, so that it waits
  // for molv's.
  ASSERT_EQ(::mkfifo(path("pipe.x").c_str(), 0666), 0);
  const int reader = ::open(path("pipe.x").c_str(), O_RDONLY | O_NONBLOCK);
  const int holder = ::open(path("pipe.x").c_str(), O_WRONLY);
  ASSERT_TRUE(reader >= 0 && holder >= 0 && ::fcntl(reader, F_SETFL, 0) == 0);
  std::string received;
  std::thread drain([&] {
    char buffer[65536];
    for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;)
      received.append(buffer, static_cast<size_t>(n));
  });
  auto piped = run({scene, "-o", "pipe", "--options", options});
  ::close(holder);
  drain.join();
  ::close(reader);
  EXPECT_EQ(piped.exit_status, 0) << piped.err;
  EXPECT_TRUE(received == complete) << received.size() << " bytes of " << complete.size();
  // Standard output, a pipe, through its link.
  ASSERT_EQ(::symlink("/dev/stdout", path("out.x").c_str()), 0);
  auto out = run({scene, "-o", "out", "--options", options});
  EXPECT_EQ(out.exit_status, 0) << out.err;
  // The file and nothing else: the plug-in's own line goes to standard error.
  EXPECT_TRUE(out.out == complete) << out.out.size() << " bytes";

  ASSERT_EQ(::symlink("loop.x", path("loop.x").c_str()), 0);
  auto loop = run({scene, "-o", "loop"});
  EXPECT_EQ(loop.exit_status, 1);
  EXPECT_EQ(qel_test::final_status(loop.err), "molv: Can not open file 'loop.x' for writing !") << loop.err;
  EXPECT_TRUE(fs::is_symlink(path("loop.x")));
  EXPECT_EQ(entries(), (std::set<std::string>{"big.json", "plain.x", "pipe.x", "out.x", "loop.x"}));
}

// ---- the host allocator failing -------------------------------------------

TEST_F(Faults, FailedAllocationAtEveryPointEndsWithOutOfMemory) {
  const std::string scene = write("m.json", kSeveralMeshes);
  const std::string options = busy_options();
  auto full = run({scene, "-o", "full", "--options", options});
  ASSERT_EQ(full.exit_status, 0) << full.err;
  const std::string complete = read("full.x");
  ::unlink(path("full.x").c_str());
  ASSERT_NE(complete.find("// DATA *sun  ## the light ##"), std::string::npos) << complete;
  make_earlier_export(scene, "m");

  bool failed_in_pass1 = false, failed_in_a_mesh = false, skipped_the_comment = false;
  int n = 0;
  for (; n < 200; ++n) {
    const std::string context = "allocation " + std::to_string(n);
    auto r = run({scene, "--options", options, "--fail-alloc-after", std::to_string(n)});
    if (r.exit_status == 0) {
      // Only the last allocation is left: the light's data comment, which
      // is skipped without its buffer.
      EXPECT_EQ(qel_test::final_status(r.err), "Ready !") << context;
      std::string expected = complete;
      const std::string comment = "\n\n// DATA *sun  ## the light ##\n";
      ASSERT_NE(expected.find(comment), std::string::npos);
      expected.erase(expected.find(comment), comment.size());
      EXPECT_EQ(read("m.x"), expected) << context;
      skipped_the_comment = true;
      break;
    }
    EXPECT_EQ(r.exit_status, 1) << context << ": " << r.err;
    const auto lines = qel_test::text_lines(r.err);
    EXPECT_EQ(count_of(lines, "molv: Out of memory !"), 1) << context << ": " << r.err;
    EXPECT_EQ(count_of(lines, "*** Export failed ! ***"), 1) << context;
    const bool in_mesh = r.err.find("Export X File - ") != std::string::npos;
    if (n == 0) failed_in_pass1 = !in_mesh;
    if (in_mesh) failed_in_a_mesh = true;
    expect_left_alone("m", context);
  }
  EXPECT_TRUE(failed_in_pass1);
  EXPECT_TRUE(failed_in_a_mesh);
  EXPECT_TRUE(skipped_the_comment) << "no run completed within " << n << " allocations";
  // One more allocation: the whole file.
  auto r = run({scene, "--options", options, "--fail-alloc-after", std::to_string(n + 1)});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(read("m.x"), complete);
}

// ---- targets and folders --------------------------------------------------

TEST_F(Faults, FolderThatCannotBeWrittenGivesTheOpenMessage) {
  const std::string scene = write("m.json", kSeveralMeshes);
  ASSERT_EQ(::chmod(work_.c_str(), 0755), 0);  // root's: nobody reads the scene
  ASSERT_EQ(::mkdir(path("locked").c_str(), 0755), 0);
  qel_test::give_to_nobody(plugin_.path());
  qel_test::RunOptions nobody;
  if (!as_nobody(&nobody)) return;
  auto r = run({scene, "-o", "locked/m", "--options", kDefaults}, nobody);
  EXPECT_EQ(r.exit_status, 1) << r.err;
  EXPECT_EQ(qel_test::final_status(r.err),
            "molv: Can not open file 'locked/m.x' for writing ! (Permission denied in 'locked')")
      << r.err;
  EXPECT_TRUE(fs::is_empty(path("locked")));
  EXPECT_FALSE(fs::exists(plugin_.options_file()));
}

TEST_F(Faults, TargetThatIsADirectoryGivesTheOpenMessage) {
  const std::string scene = write("m.json", kSeveralMeshes);
  ASSERT_EQ(::mkdir(path("m.x").c_str(), 0755), 0);
  write("m.x/inside", "kept");
  auto r = run({scene, "--options", kDefaults});
  EXPECT_EQ(r.exit_status, 1) << r.err;
  EXPECT_EQ(qel_test::final_status(r.err),
            "molv: Can not open file 'm.x' for writing ! ('m.x' is a folder)")
      << r.err;
  EXPECT_TRUE(fs::is_directory(path("m.x")));
  EXPECT_EQ(read("m.x/inside"), "kept");
  EXPECT_EQ(entries(), (std::set<std::string>{"m.json", "m.x"}));
  EXPECT_FALSE(fs::exists(plugin_.options_file()));
}

TEST_F(Faults, ReadOnlyTargetIsRefusedForAnUnprivilegedUser) {
  const std::string scene = write("m.json", kSeveralMeshes);
  make_earlier_export(scene, "m");
  ASSERT_EQ(::chmod(path("m.x").c_str(), 0444), 0);
  qel_test::give_to_nobody(work_);
  qel_test::give_to_nobody(plugin_.path());
  qel_test::RunOptions nobody;
  if (!as_nobody(&nobody)) return;
  auto r = run({scene, "--options", busy_options()}, nobody);
  EXPECT_EQ(r.exit_status, 1) << r.err;
  EXPECT_EQ(qel_test::final_status(r.err),
            "molv: Can not open file 'm.x' for writing ! (Permission denied: 'm.x')")
      << r.err;
  expect_left_alone("m", "read-only");
}

TEST_F(Faults, SymbolicLinkIsFollowedTheFileItNamesReplacedTheLinkKept) {
  const std::string scene = write("m.json", kSeveralMeshes);
  ASSERT_EQ(run({scene, "-o", "plain", "--options", busy_options()}).exit_status, 0);
  make_earlier_export(scene, "real");
  ASSERT_EQ(::symlink("real.x", path("link.x").c_str()), 0);
  auto r = run({scene, "-o", "link", "--options", busy_options()});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  struct stat st {};
  ASSERT_EQ(::lstat(path("link.x").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced by a file";
  EXPECT_EQ(fs::read_symlink(path("link.x")), "real.x");
  EXPECT_EQ(read("real.x"), read("plain.x"));
  EXPECT_EQ(entries(), (std::set<std::string>{"m.json", "plain.x", "real.x", "link.x"}));
}

TEST_F(Faults, TargetWithTwoHardLinksIsWrittenInPlace) {
  const std::string scene = write("m.json", kSeveralMeshes);
  ASSERT_EQ(run({scene, "-o", "plain", "--options", busy_options()}).exit_status, 0);
  make_earlier_export(scene, "one");
  ASSERT_EQ(::link(path("one.x").c_str(), path("two.x").c_str()), 0);
  struct stat before {};
  ASSERT_EQ(::stat(path("one.x").c_str(), &before), 0);
  auto r = run({scene, "-o", "one", "--options", busy_options()});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  struct stat after {};
  ASSERT_EQ(::stat(path("one.x").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced, the links parted";
  EXPECT_EQ(after.st_nlink, 2u);
  EXPECT_EQ(read("two.x"), read("plain.x")) << "the other link lost the new content";
  EXPECT_EQ(entries(), (std::set<std::string>{"m.json", "plain.x", "one.x", "two.x"}));
}

// Targets written in place keep their earlier bytes too: the run goes to a
// temporary file and is copied in only when complete.
TEST_F(Faults, HardLinkedTargetSurvivesAFullDiskAndACancel) {
  const std::string scene = write("m.json", kSeveralMeshes);
  make_earlier_export(scene, "one");
  ASSERT_EQ(::link(path("one.x").c_str(), path("two.x").c_str()), 0);
  before_ = entries();
  auto full = run_limited({scene, "-o", "one", "--options", busy_options()}, 100);
  expect_write_failure(full, "one.x", "full disk");
  expect_left_alone("one", "full disk");
  EXPECT_TRUE(read("two.x") == earlier_);
  auto cancelled = run({scene, "-o", "one", "--options", busy_options(), "--cancel-at-poll", "5"});
  EXPECT_EQ(cancelled.exit_status, 1) << cancelled.err;
  expect_left_alone("one", "cancel");
  EXPECT_TRUE(read("two.x") == earlier_);
  struct stat st {};
  ASSERT_EQ(::stat(path("one.x").c_str(), &st), 0);
  EXPECT_EQ(st.st_nlink, 2u);
}

TEST_F(Faults, WritableTargetInALockedFolderIsWrittenInPlaceOnlyWhenComplete) {
  const std::string scene = write("m.json", kSeveralMeshes);
  ASSERT_EQ(run({scene, "-o", "plain", "--options", busy_options()}).exit_status, 0);
  make_earlier_export(scene, "m");
  // The folder is root's; the target and the plug-in folder are nobody's,
  // and so is the temporary folder the run may use instead.
  ASSERT_EQ(::chmod(work_.c_str(), 0755), 0);
  ASSERT_EQ(::chown(path("m.x").c_str(), qel_test::nobody_uid(), qel_test::nobody_gid()), 0);
  qel_test::give_to_nobody(plugin_.path());
  const qel_test::TempDir temp_dir("faults_tmp");
  const std::string &temp = temp_dir.path();
  qel_test::give_to_nobody(temp);
  struct stat before {};
  ASSERT_EQ(::stat(path("m.x").c_str(), &before), 0);
  qel_test::RunOptions nobody;
  if (!as_nobody(&nobody)) return;
  nobody.env = {{"TMPDIR", temp}};

  nobody.file_size_limit = 100;
  auto full = run({scene, "--options", busy_options()}, nobody);
  expect_write_failure(full, "m.x", "full disk");
  expect_left_alone("m", "full disk");
  nobody.file_size_limit = -1;
  auto cancelled = run({scene, "--options", busy_options(), "--cancel-at-poll", "5"}, nobody);
  EXPECT_EQ(cancelled.exit_status, 1) << cancelled.err;
  expect_left_alone("m", "cancel");

  auto ok = run({scene, "--options", busy_options()}, nobody);
  EXPECT_EQ(ok.exit_status, 0) << ok.err;
  EXPECT_EQ(read("m.x"), read("plain.x"));
  struct stat after {};
  ASSERT_EQ(::stat(path("m.x").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_TRUE(fs::is_empty(temp)) << "a temporary file was left behind";
}

// A file the user may write but not replace, in a sticky folder or
// another's in a shared one, is written in place and keeps its owner; an
// extended attribute stays where the new file can have it.
TEST_F(Faults, WhatTheUserSetOnTheTargetIsKept) {
  const std::string scene = write("m.json", kSeveralMeshes);
  ASSERT_EQ(run({scene, "-o", "plain", "--options", busy_options()}).exit_status, 0);
  qel_test::give_to_nobody(plugin_.path());
  qel_test::RunOptions nobody;
  if (!as_nobody(&nobody)) return;
  for (const mode_t folder : {mode_t{01777}, mode_t{0777}}) {
    ASSERT_EQ(run({scene, "--options", kDefaults}).exit_status, 0);  // root's m.x
    ASSERT_EQ(::chmod(path("m.x").c_str(), 0666), 0);
    ASSERT_EQ(::chmod(work_.c_str(), folder), 0);
    struct stat before {}, after {};
    ASSERT_EQ(::stat(path("m.x").c_str(), &before), 0);
    auto r = run({scene, "--options", busy_options()}, nobody);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(read("m.x"), read("plain.x"));
    ASSERT_EQ(::stat(path("m.x").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << std::oct << folder;
    EXPECT_EQ(after.st_uid, 0u) << std::oct << folder;
  }
  if (::setxattr(path("m.x").c_str(), "user.origin", "scan", 4, 0) != 0)
    GTEST_SKIP() << "no extended attributes here";
  ASSERT_EQ(run({scene, "--options", kDefaults}).exit_status, 0);
  char value[8] = {};
  EXPECT_EQ(::getxattr(path("m.x").c_str(), "user.origin", value, sizeof value), 4);
}

// A disk that fills up before the complete run is copied into a target that
// must keep its inode (no free inode beside it) leaves the earlier content.
TEST_F(Faults, FullDiskBeforeTheCopyIntoTheTargetKeepsItsEarlierContent) {
  const std::string scene = write("big.json", big_scene());
  const std::string disk = path("disk");
  ASSERT_EQ(::mkdir(disk.c_str(), 0755), 0);
  const int rc = qel_test::run_in_child(false, [&] {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("qel", disk.c_str(), "tmpfs", 0, "size=64k,nr_inodes=3") != 0)
      return 77;
    qel_test::write_file(disk + "/m.x", "earlier");
    qel_test::write_file(disk + "/filler", std::string(1 << 20, 'f'));  // the rest of the space
    auto r = run({scene, "-o", disk + "/m"});
    const bool failed = r.exit_status == 1 &&
                        qel_test::final_status(r.err) == "molv: Can not write file '" + disk + "/m.x' !";
    return (failed ? 0 : 1) | (qel_test::read_file(disk + "/m.x") == "earlier" ? 0 : 2);
  });
  if (rc == 77) GTEST_SKIP() << "no file system can be mounted here";
  EXPECT_EQ(rc & 1, 0) << "the run did not fail with the write message";
  EXPECT_EQ(rc & 2, 0) << "the earlier content was lost";
}

// ---- the plug-in folder ---------------------------------------------------

TEST_F(Faults, PluginFolderThatCannotBeWrittenStillExportsWithoutSavingOptions) {
  const std::string scene = write("m.json", kSeveralMeshes);
  ASSERT_EQ(::chmod(plugin_.path().c_str(), 0755), 0);  // root's: nobody reads only
  qel_test::give_to_nobody(work_);
  qel_test::RunOptions nobody;
  if (!as_nobody(&nobody)) return;
  auto r = run({scene, "--options", busy_options()}, nobody);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(qel_test::final_status(r.err), "Ready !");
  EXPECT_EQ(r.err.find("molv:"), std::string::npos) << "a message was shown: " << r.err;
  EXPECT_FALSE(read("m.x").empty());
  EXPECT_FALSE(fs::exists(plugin_.options_file()));
}

TEST_F(Faults, PluginFolderWithAwkwardCharactersLoadsItsDialogScript) {
  const std::string scene = write("m.json", kSeveralMeshes);
  const std::string folder = path("my plug-ins \"x\" $HOME [exec touch pwned] {a} }b{ ;c");
  ASSERT_TRUE(fs::create_directory(folder));
  fs::copy_file(plugin_.file("qel_export.so"), folder + "/qel_export.so");
  // The copy of the dialog script leaves a mark beside itself when it is
  // sourced, so that the run shows which script was loaded.
  qel_test::write_file(folder + "/qel_export.tcl",
                       qel_test::read_file(plugin_.file("qel_export.tcl")) +
                           "\nclose [open [file join [file dirname [info script]] sourced] w]\n");
  auto r = run({scene, "--options", busy_options(), "--plugin-dir", folder});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_TRUE(fs::exists(folder + "/sourced")) << "the dialog script was not sourced";
  EXPECT_EQ(qel_test::read_file(folder + "/qel_export.opt"), busy_options());
  EXPECT_FALSE(fs::exists(path("pwned")));
  EXPECT_FALSE(fs::exists(folder + "/pwned"));
}

TEST_F(Faults, PluginFolderWithALongPathKeepsItsOptionsThere) {
  // About 3,000 characters: every text built from the folder grows with it.
  std::string folder = work_;
  for (int i = 0; i < 15; ++i) {
    folder += "/" + std::string(190, static_cast<char>('a' + i));
    ASSERT_TRUE(fs::create_directory(folder));
  }
  fs::copy_file(plugin_.file("qel_export.so"), folder + "/qel_export.so");
  qel_test::write_file(folder + "/qel_export.tcl",
                       qel_test::read_file(plugin_.file("qel_export.tcl")) +
                           "\nclose [open [file join [file dirname [info script]] sourced] w]\n");
  const std::string scene = write("m.json", kSeveralMeshes);
  auto r = run({scene, "--options", busy_options(), "--plugin-dir", folder});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_TRUE(fs::exists(folder + "/sourced"));
  EXPECT_EQ(qel_test::read_file(folder + "/qel_export.opt"), busy_options());
  // The next run reads them back from there.
  auto again = run({scene, "-o", "again", "--plugin-dir", folder});
  EXPECT_EQ(again.exit_status, 0) << again.err;
  EXPECT_EQ(read("again.x"), read("m.x"));
}

// Options files of every shape: the dialog gets the built-in string with
// the file's first 50 bytes over it, nothing in the file runs, and a
// complete run saves the 50 characters it used.
TEST_F(Faults, OptionsFilesOfEveryShape) {
  const std::string scene = write("m.json", kSeveralMeshes);
  struct Case {
    const char *what;
    std::string bytes;
    std::string used;  // the option string the run uses and saves
  };
  std::string tcl_code = "[exec touch pwned]$env(HOME)\"{}\\ ;#";
  tcl_code += std::string(50 - tcl_code.size(), '1');
  std::string longer = busy_options();
  longer[49] = '3';
  const std::vector<Case> cases = {
      {"empty", "", kDefaults},
      {"short", "11", "11" + kDefaults.substr(2)},
      {"longer than 50 bytes", longer + "and some more bytes\n", longer},
      {"binary", std::string("1\0\x01\n\x7f\xff\xc3\xa9\x80", 9),
       std::string("10\x01\n\x7f\xff\xc3\xa9\x80", 9) + kDefaults.substr(9)},
      {"Tcl code", tcl_code, tcl_code},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    qel_test::write_file(plugin_.options_file(), c.bytes);
    auto r = run({scene, "-o", "from_file"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(qel_test::read_file(plugin_.options_file()), c.used);
    EXPECT_FALSE(fs::exists(path("pwned")));
    EXPECT_FALSE(fs::exists(plugin_.file("pwned")));
    // The same export from a file of all 50 characters (the command line
    // takes only switches and a digit, so odd bytes come through a file).
    qel_test::PluginDir fresh;
    qel_test::write_file(fresh.options_file(), c.used);
    auto given = run({scene, "-o", "given", "--plugin-dir", fresh.path()});
    EXPECT_EQ(given.exit_status, 0) << given.err;
    EXPECT_EQ(read("from_file.x"), read("given.x"));
  }
}

// A link, a dangling link, a pipe or a device where the options file lies: the start
// never waits, the save replaces it, nothing is written through it; a save
// that cannot be made leaves the old file, even one that could be written.
TEST_F(Faults, OptionsFileIsReplacedNeverWrittenThroughNorWaitedFor) {
  const std::string scene = write("m.json", kSeveralMeshes);
  write("victim", "precious");
  const std::string file = plugin_.options_file();
  const std::vector<std::function<int()>> kinds = {
      [&] { return ::symlink(path("victim").c_str(), file.c_str()); },
      [&] { return ::symlink(path("created").c_str(), file.c_str()); },
      [&] { return ::mkfifo(file.c_str(), 0666); }};
  for (size_t kind = 0; kind < kinds.size(); ++kind) {
    ::unlink(file.c_str());
    ASSERT_EQ(kinds[kind](), 0);
    qel_test::RunOptions options;
    options.timeout_seconds = 30;
    auto r = run({scene, "--options", busy_options()}, options);
    EXPECT_EQ(r.exit_status, 0) << kind << ": " << r.err;
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file))) << kind;
    EXPECT_EQ(qel_test::read_file(file), busy_options()) << kind;
  }
  // A device there is never read: the run starts from the built-in
  // defaults, where /dev/zero would have cleared every option.
  ::unlink(file.c_str());
  ASSERT_EQ(::symlink("/dev/zero", file.c_str()), 0);
  EXPECT_EQ(run({scene, "-o", "device"}).exit_status, 0);
  EXPECT_EQ(qel_test::read_file(file), kDefaults);
  // Side by side, the workers' options go back the same way.
  ::unlink(file.c_str());
  ASSERT_EQ(::symlink(path("victim").c_str(), file.c_str()), 0);
  write("n.json", kSeveralMeshes);
  auto jobs = run({scene, path("n.json"), "-o", path("out") + "/", "--jobs", "2", "--options",
                   busy_options()});
  EXPECT_EQ(jobs.exit_status, 0) << jobs.err;
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file)));
  EXPECT_EQ(qel_test::read_file(file), busy_options());
  EXPECT_EQ(read("victim"), "precious");
  EXPECT_FALSE(fs::exists(path("created")));

  ASSERT_EQ(::chown(file.c_str(), qel_test::nobody_uid(), qel_test::nobody_gid()), 0);
  ASSERT_EQ(::chmod(plugin_.path().c_str(), 0755), 0);
  qel_test::give_to_nobody(work_);
  qel_test::RunOptions nobody;
  if (!as_nobody(&nobody)) return;
  EXPECT_EQ(run({scene, "--options", kDefaults}, nobody).exit_status, 0);
  EXPECT_EQ(qel_test::read_file(file), busy_options());
}

// ---- cancels --------------------------------------------------------------

TEST_F(Faults, CancelAtEveryPollOfSeveralMeshesLeavesNothingBehind) {
  const std::string scene = write("m.json", kSeveralMeshes);
  const std::string options = busy_options();
  make_earlier_export(scene, "m");
  int cancelled = 0;
  int poll = 2;  // the first update shows the dialog again
  for (; poll < 400; ++poll) {
    const std::string context = "poll " + std::to_string(poll);
    // With an earlier file of the name, and without one.
    auto r = run({scene, "--options", options, "--cancel-at-poll", std::to_string(poll)});
    if (r.exit_status == 0) break;  // past the last poll
    ++cancelled;
    EXPECT_EQ(r.exit_status, 1) << context << ": " << r.err;
    EXPECT_EQ(qel_test::final_status(r.err), "*** Abort by User ! ***") << context;
    expect_left_alone("m", context);
    auto fresh =
        run({scene, "-o", "new", "--options", options, "--cancel-at-poll", std::to_string(poll)});
    EXPECT_EQ(fresh.exit_status, 1) << context;
    EXPECT_FALSE(fs::exists(path("new.x"))) << context;
    EXPECT_EQ(entries(), before_) << context;
  }
  EXPECT_GE(cancelled, 10) << "too few polls reached";
  EXPECT_LT(poll, 400);
}

// Where no nameless file can be made (as on a file system without them),
// the run's file has its hidden name from the start: a cancel, a failed
// allocation and a failed write must each remove it again.
TEST_F(Faults, WithoutNamelessFilesACancelOrFailureLeavesOnlyTheEarlierExport) {
  if (!qel_test::can_hide_proc()) GTEST_SKIP() << "no file system can be mounted here";
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "a sanitizer build reads its options and runs its leak check through /proc";
#endif
  qel_test::RunOptions hidden;
  hidden.hide_proc = true;
  // The name is there from the start: a run killed in a mesh leaves it.
  const std::string big = write("big.json", big_scene());
  qel_test::RunOptions killed = hidden;
  killed.interrupt_on = "Export X File - Mesh Vertices ...\n";
  killed.interrupt_signals = {SIGKILL};
  auto k = run({big, "--options", busy_options()}, killed);
  ASSERT_EQ(k.signal, SIGKILL) << k.err;
  std::vector<std::string> left;
  for (const std::string &name : entries())
    if (name.rfind(".qel_export.", 0) == 0) left.push_back(name);
  ASSERT_EQ(left.size(), 1u) << "the run had no hidden name: nameless files were made";
  ::unlink(path(left[0]).c_str());
  ::unlink(big.c_str());

  const std::string scene = write("m.json", kSeveralMeshes);
  make_earlier_export(scene, "m");
  auto cancelled = run({scene, "--options", busy_options(), "--cancel-at-poll", "5"}, hidden);
  EXPECT_EQ(cancelled.exit_status, 1) << cancelled.err;
  EXPECT_EQ(qel_test::final_status(cancelled.err), "*** Abort by User ! ***") << cancelled.err;
  expect_left_alone("m", "cancel");
  auto no_memory =
      run({scene, "--options", busy_options(), "--fail-alloc-after", "20"}, hidden);
  EXPECT_EQ(no_memory.exit_status, 1) << no_memory.err;
  EXPECT_EQ(count_of(qel_test::text_lines(no_memory.err), "molv: Out of memory !"), 1)
      << no_memory.err;
  expect_left_alone("m", "out of memory");
  hidden.file_size_limit = 100;
  expect_write_failure(run({scene, "--options", busy_options()}, hidden), "m.x", "full disk");
  expect_left_alone("m", "full disk");
}

TEST_F(Faults, CtrlCAtEachPhaseOfAMeshCancelsAndLeavesNothingBehind) {
  // A small first mesh and two large ones: a Ctrl-C in any phase of the
  // first is seen at a later poll, however late the signal arrives (the
  // large meshes keep polling for far longer than a signal takes).
  const std::string scene = write(
      "g.json",
      scene_of({grid_object("a", 60, 0), grid_object("b", 200, 1), grid_object("c", 200, 2)}));
  make_earlier_export(scene, "g");
  const std::vector<std::string> phases = {
      "Export X File ...",
      "Export X File - Create Vertex List ...",
      "Export X File - Optimize Vertices ( 0 % ) ...",
      "Export X File - Mesh Vertices ...",
      "Export X File - Mesh Surfaces ...",
      "Export X File - Mesh Materials ...",
      "Export X File - Mesh Normals ...",
      "Export X File - Mesh Vert. Duplication Indices ...",
  };
  for (const std::string &phase : phases) {
    qel_test::RunOptions options;
    options.interrupt_on = phase + "\n";
    auto r = run({scene, "--options", busy_options()}, options);
    ASSERT_TRUE(r.interrupted) << phase << ": " << r.err;
    EXPECT_EQ(r.signal, 0) << phase;
    EXPECT_EQ(r.exit_status, 1) << phase << ": " << r.err;
    EXPECT_EQ(qel_test::final_status(r.err), "*** Abort by User ! ***") << phase;
    expect_left_alone("g", phase);
  }
}

TEST_F(Faults, TermAndHangUpCancelTheExportBeforeMolvEnds) {
  const std::string scene = write("g.json", scene_of({grid_object("a", 60, 0),
                                                      grid_object("b", 200, 1),
                                                      grid_object("c", 200, 2)}));
  make_earlier_export(scene, "g");
  for (const int number : {SIGTERM, SIGHUP}) {
    qel_test::RunOptions options;
    options.interrupt_on = "Export X File - Mesh Vertices ...\n";
    options.interrupt_signals = {number};
    auto r = run({scene, "--options", busy_options()}, options);
    ASSERT_TRUE(r.interrupted) << r.err;
    EXPECT_EQ(r.signal, number) << r.err;
    // Named as the signal, not as the user's cancel.
    EXPECT_NE(r.err.find(std::string("\nmolv: stopped by SIG") + sigabbrev_np(number) + "\n"),
              std::string::npos) << r.err;
    expect_left_alone("g", strsignal(number));
  }
  // Sent to standard output, the export leaves nothing in the temporary
  // folder either, and a run sweeps what a killed one left there.
  const std::string tmp = path("tmp");
  ASSERT_TRUE(fs::create_directory(tmp));
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
  const std::string left = tmp + "/molv-stream-" + std::to_string(gone) + "-AbCdEf";
  ASSERT_TRUE(fs::create_directory(left));
  write("tmp/molv-stream-" + std::to_string(gone) + "-AbCdEf/stdout.x", "a killed run's");
  qel_test::RunOptions options;
  options.interrupt_on = "Export X File - Mesh Vertices ...\n";
  options.interrupt_signals = {SIGTERM};
  options.env = {{"TMPDIR", tmp}};
  auto r = run({scene, "-o", "-", "--options", busy_options()}, options);
  ASSERT_TRUE(r.interrupted) << r.err;
  EXPECT_EQ(r.signal, SIGTERM) << r.err;
  EXPECT_TRUE(fs::is_empty(tmp)) << fs::directory_iterator(tmp)->path();
}

TEST_F(Faults, JobsEndLikeTheirWorkersAndNameAModelWhoseWorkerDied) {
  // The workers are found through the kernel's list of a process's children.
  const std::string tid = std::to_string(::getpid());
  if (!fs::exists("/proc/self/task/" + tid + "/children"))
    GTEST_SKIP() << "the kernel lists no child processes";
  const std::string grids = scene_of({grid_object("b", 200, 1), grid_object("c", 200, 2)});
  const std::string scene = write("g.json", grids);
  write("h.json", grids);
  make_earlier_export(scene, "g");
  write("h.x", earlier_);
  before_ = entries();
  auto jobs = [&](const std::vector<int> &signals, bool to_workers) {
    qel_test::RunOptions options;
    options.interrupt_on = "Export X File - Mesh Vertices ...\n";
    options.interrupt_signals = signals;
    options.interrupt_children = to_workers;
    return run({scene, path("h.json"), "-o", work_ + "/", "-j", "2", "--verbose", "--options",
                busy_options(), "--report", "-"},
               options);
  };
  // SIGTERM or SIGHUP to molv reaches both workers: each cancels its
  // export, and molv ends by the signal, its private folders gone.
  for (const int number : {SIGTERM, SIGHUP}) {
    auto ended = jobs({number}, false);
    ASSERT_TRUE(ended.interrupted) << ended.err;
    EXPECT_EQ(ended.signal, number) << ended.err;
    EXPECT_EQ(ended.err.find("the export's process was ended"), std::string::npos) << ended.err;
    EXPECT_NE(ended.out.find(std::string(R"("status":"cancelled","exit":1,"reason":")") +
                             scene + ": stopped by SIG" + sigabbrev_np(number)),
              std::string::npos) << ended.out;
    expect_left_alone("g", strsignal(number));
    expect_left_alone("h", strsignal(number));
  }
  // SIGINT sent to molv alone (a supervisor, not the terminal) stops the
  // workers as a Ctrl-C does: each cancels its export.
  auto interrupt = jobs({SIGINT}, false);
  ASSERT_TRUE(interrupt.interrupted) << interrupt.err;
  EXPECT_EQ(interrupt.exit_status, 1) << interrupt.err;
  EXPECT_EQ(interrupt.err.find("Ready !"), std::string::npos) << interrupt.err;
  expect_left_alone("g", "SIGINT");
  expect_left_alone("h", "SIGINT");
  // A worker killed outright fails its model, which is named; the earlier
  // files stay as they were, and its unfinished file had no name to leave
  // behind.
  auto killed = jobs({SIGKILL}, true);
  ASSERT_TRUE(killed.interrupted) << killed.err;
  EXPECT_EQ(killed.signal, 0) << killed.err;
  EXPECT_EQ(killed.exit_status, 1) << killed.err;
  EXPECT_NE(killed.err.find("g.json: the export's process was ended by signal 9"),
            std::string::npos)
      << killed.err;
  // The report names it too: a line per model, the killed one failed.
  const auto lines = qel_test::text_lines(killed.out);
  EXPECT_EQ(lines.size(), 3u) << killed.out;  // and the total
  EXPECT_NE(killed.out.find(R"("status":"failed","exit":1,"reason":"the export's process was ended by signal 9)"),
            std::string::npos) << killed.out;
  EXPECT_TRUE(read("g.x") == earlier_);
  EXPECT_TRUE(read("h.x") == earlier_);
  if (qel_test::makes_nameless_files(work_)) {
    EXPECT_EQ(entries(), before_);
  }
  // SIGKILL to molv itself: its workers end with it and write nothing.
  auto whole = jobs({SIGKILL}, false);
  ASSERT_TRUE(whole.interrupted) << whole.err;
  EXPECT_EQ(whole.signal, SIGKILL) << whole.err;
  ASSERT_EQ(whole.children.size(), 2u) << whole.err;
  for (const int worker : whole.children) EXPECT_TRUE(qel_test::process_ends(worker));
  EXPECT_TRUE(read("g.x") == earlier_);
  EXPECT_TRUE(read("h.x") == earlier_);
}

// ---- the same faults in the test process: host memory ---------------------

class FaultsInProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    qel_test::load_scene(kSeveralMeshes);
    dir_ = qel_test::make_temp_dir("faults_ip");
    ::unlink(qel::options_path().c_str());
    qel::options_take_over(qel::kDefaultOptions);
    molv::hooks().choose_file = nullptr;
  }
  void TearDown() override {
    molv::set_fail_alloc_after(-1);
    molv::set_cancel_at_poll(0);
    ::unlink(qel::options_path().c_str());
    qel_test::remove_tree(dir_);
  }
  // One qel_save as the dialog sends it.
  void save(const std::string &name) {
    molv::clear_recording();
    const std::string script = "molv qel_save export " + qel::tcl_word(dir_ + "/" + name) + " " +
                               qel::tcl_word(busy_options());
    std::string result;
    ASSERT_EQ(molv::tcl_eval(script, &result), 0) << result;
  }
  std::string last_status() const {
    const auto &lines = molv::recording().status_lines;
    return lines.empty() ? std::string() : lines.back();
  }
  std::string dir_;
};

TEST_F(FaultsInProcess, EveryFailedAllocationGivesBackAllHostMemory) {
  const long start = molv::live_allocations();
  save("full");
  ASSERT_EQ(last_status(), "Ready !");
  ASSERT_EQ(molv::live_allocations(), start);
  qel_test::write_file(qel::options_path(), "saved before");
  qel_test::write_file(dir_ + "/m.x", "earlier");
  int n = 0;
  for (; n < 200; ++n) {
    molv::set_fail_alloc_after(n);
    save("m");
    molv::set_fail_alloc_after(-1);
    EXPECT_EQ(molv::live_allocations(), start) << "allocation " << n;
    if (last_status() == "Ready !") break;
    EXPECT_EQ(last_status(), "*** Export failed ! ***") << "allocation " << n;
    EXPECT_EQ(molv::recording().messages, std::vector<std::string>{"Out of memory !"});
    EXPECT_EQ(qel_test::read_file(dir_ + "/m.x"), "earlier") << "allocation " << n;
    EXPECT_EQ(qel_test::read_file(qel::options_path()), "saved before");
  }
  EXPECT_GT(n, 5);
  EXPECT_LT(n, 200);
}

TEST_F(FaultsInProcess, EveryCancelGivesBackAllHostMemory) {
  const long start = molv::live_allocations();
  // A complete run makes this many event passes; a cancel at any of them
  // ends the run (the first, which shows the dialog again, is seen at the
  // first poll).
  const long first = molv::update_count();
  save("full");
  const long passes = molv::update_count() - first;
  ASSERT_GT(passes, 10);
  qel_test::write_file(qel::options_path(), "saved before");
  for (long poll = 1; poll <= passes + 1; ++poll) {
    molv::set_cancel_at_poll(poll);
    save("m");
    molv::set_cancel_at_poll(0);
    EXPECT_EQ(molv::live_allocations(), start) << "poll " << poll;
    if (poll == passes + 1) {
      EXPECT_EQ(last_status(), "Ready !") << "a cancel after the last pass";
      break;
    }
    EXPECT_EQ(last_status(), "*** Abort by User ! ***") << "poll " << poll;
    EXPECT_FALSE(fs::exists(dir_ + "/m.x")) << "poll " << poll;
    EXPECT_EQ(qel_test::read_file(qel::options_path()), "saved before");
    // A cancel is no failure: no message.
    EXPECT_TRUE(molv::recording().messages.empty()) << "poll " << poll;
  }
}

TEST_F(FaultsInProcess, AFailedWriteGivesBackAllHostMemory) {
  // A node of the full device: every write fails with "no space".
  if (!make_device(dir_ + "/full.x", 7)) GTEST_SKIP() << "no device nodes can be made here";
  const long start = molv::live_allocations();
  save("full");
  EXPECT_EQ(last_status(), "*** Export failed ! ***");
  EXPECT_EQ(molv::recording().messages,
            std::vector<std::string>{"Can not write file '" + dir_ + "/full.x' !"});
  EXPECT_EQ(molv::live_allocations(), start);
}

TEST_F(FaultsInProcess, ACompleteRunAfterFaultsIsTheSameAsBefore) {
  save("first");
  const std::string first = qel_test::read_file(dir_ + "/first.x");
  for (int n : {3, 9}) {
    molv::set_fail_alloc_after(n);
    save("x");
    molv::set_fail_alloc_after(-1);
    molv::set_cancel_at_poll(n);
    save("x");
    molv::set_cancel_at_poll(0);
  }
  save("again");
  EXPECT_EQ(last_status(), "Ready !");
  EXPECT_EQ(qel_test::read_file(dir_ + "/again.x"), first)
      << "a fault left state behind that changed a later export";
}

// Two Ctrl-C before the export's next poll (no other process could time
// them so): the export is cancelled, then molv ends by the signal.
TEST_F(FaultsInProcess, ASecondCtrlCCancelsTheExportBeforeItEndsMolv) {
  qel_test::write_file(dir_ + "/m.x", "earlier");
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    molv::catch_ending_signals();
    molv::begin_export();
    std::raise(SIGINT);
    std::raise(SIGINT);
    save("m");
    molv::end_export();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << "status " << status;
  EXPECT_EQ(qel_test::read_file(dir_ + "/m.x"), "earlier");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

}  // namespace
