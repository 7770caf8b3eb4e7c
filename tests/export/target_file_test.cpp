/*
 * The export file: written beside the target and renamed over it only when
 * complete, so an earlier file survives every cancelled or failed run.
 */
#include "export/target_file.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/child_process.h"
#include "support/export_harness.h"

namespace {

using qel::TargetFile;
using qel_test::read_file;
using qel_test::write_file;

class TargetFileTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = qel_test::make_temp_dir("target"); }
  void TearDown() override { qel_test::remove_tree(dir_); }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }

  static void put(TargetFile &file, const std::string &text) {
    ASSERT_EQ(::write(file.fd(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  int entries() const {
    int n = 0;
    std::string cmd = "ls -A '" + dir_ + "' | wc -l";
    FILE *p = ::popen(cmd.c_str(), "r");
    if (p != nullptr) {
      if (std::fscanf(p, "%d", &n) != 1) n = -1;
      ::pclose(p);
    }
    return n;
  }
  std::string dir_;
};

TEST_F(TargetFileTest, NewFileAppearsOnlyWhenCommitted) {
  TargetFile file;
  ASSERT_TRUE(file.open(path("a.x")));
  EXPECT_FALSE(file.in_place());
  put(file, "data");
  EXPECT_NE(::access(path("a.x").c_str(), F_OK), 0) << "target visible before the run ended";
  // Where the file system allows, the run's file has no name yet: a run
  // that dies leaves nothing.
  if (qel_test::makes_nameless_files(dir_)) {
    EXPECT_EQ(entries(), 0) << "the run's file has a name";
  }
  ASSERT_TRUE(file.commit());
  EXPECT_EQ(read_file(path("a.x")), "data");
  EXPECT_EQ(entries(), 1) << "a temporary file was left behind";
}

TEST_F(TargetFileTest, NewFileGetsDefaultModeLessUmask) {
  mode_t old = ::umask(027);
  TargetFile file;
  ASSERT_TRUE(file.open(path("m.x")));
  ASSERT_TRUE(file.commit());
  ::umask(old);
  struct stat st;
  ASSERT_EQ(::stat(path("m.x").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(TargetFileTest, ExistingTargetKeepsItsMode) {
  write_file(path("k.x"), "old");
  ASSERT_EQ(::chmod(path("k.x").c_str(), 0604), 0);
  TargetFile file;
  ASSERT_TRUE(file.open(path("k.x")));
  put(file, "new");
  ASSERT_TRUE(file.commit());
  struct stat st;
  ASSERT_EQ(::stat(path("k.x").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  EXPECT_EQ(read_file(path("k.x")), "new");
}

TEST_F(TargetFileTest, DiscardLeavesEarlierFileIntact) {
  write_file(path("e.x"), "earlier");
  {
    TargetFile file;
    ASSERT_TRUE(file.open(path("e.x")));
    put(file, "partial");
    file.discard();
  }
  EXPECT_EQ(read_file(path("e.x")), "earlier");
  EXPECT_EQ(entries(), 1);
  {
    // Dropped without commit (an early return): the same.
    TargetFile file;
    ASSERT_TRUE(file.open(path("e.x")));
    put(file, "partial");
  }
  EXPECT_EQ(read_file(path("e.x")), "earlier");
  EXPECT_EQ(entries(), 1);
}

TEST_F(TargetFileTest, DiscardOfNewFileLeavesNothing) {
  TargetFile file;
  ASSERT_TRUE(file.open(path("n.x")));
  put(file, "partial");
  file.discard();
  EXPECT_EQ(entries(), 0);
}

TEST_F(TargetFileTest, SymbolicLinkIsFollowedAndStays) {
  write_file(path("real.x"), "old");
  ASSERT_EQ(::symlink("real.x", path("link.x").c_str()), 0);
  TargetFile file;
  ASSERT_TRUE(file.open(path("link.x")));
  put(file, "new");
  ASSERT_TRUE(file.commit());
  struct stat st;
  ASSERT_EQ(::lstat(path("link.x").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(read_file(path("real.x")), "new");
}

TEST_F(TargetFileTest, DanglingLinkCreatesTheFileItNames) {
  ASSERT_EQ(::symlink("made.x", path("dangling.x").c_str()), 0);
  TargetFile file;
  ASSERT_TRUE(file.open(path("dangling.x")));
  put(file, "new");
  ASSERT_TRUE(file.commit());
  EXPECT_EQ(read_file(path("made.x")), "new");
}

TEST_F(TargetFileTest, HardLinkedTargetIsWrittenInPlace) {
  write_file(path("h1.x"), "old");
  ASSERT_EQ(::link(path("h1.x").c_str(), path("h2.x").c_str()), 0);
  TargetFile file;
  ASSERT_TRUE(file.open(path("h1.x")));
  EXPECT_TRUE(file.in_place());
  put(file, "new");
  ASSERT_TRUE(file.commit());
  EXPECT_EQ(read_file(path("h2.x")), "new") << "the other link lost the new content";
}

TEST_F(TargetFileTest, DirectoryIsRefused) {
  ASSERT_EQ(::mkdir(path("d.x").c_str(), 0755), 0);
  TargetFile file;
  EXPECT_FALSE(file.open(path("d.x")));
}

TEST_F(TargetFileTest, MissingFolderIsRefused) {
  TargetFile file;
  EXPECT_FALSE(file.open(path("no/such/folder.x")));
}

TEST_F(TargetFileTest, ReadOnlyTargetIsRefusedForAnUnprivilegedUser) {
  write_file(path("ro.x"), "keep");
  qel_test::give_to_nobody(dir_);
  ASSERT_EQ(::chmod(path("ro.x").c_str(), 0444), 0);
  std::string target = path("ro.x");
  int rc = qel_test::run_in_child(true, [&] {
    TargetFile file;
    return file.open(target) ? 1 : 0;
  });
  EXPECT_EQ(rc, 0) << "a read-only file was opened for writing";
  EXPECT_EQ(read_file(target), "keep");
}

TEST_F(TargetFileTest, FolderWithoutWriteRightIsRefusedForANewFile) {
  ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);  // root's, not nobody's
  std::string target = path("new.x");
  int rc = qel_test::run_in_child(true, [&] {
    TargetFile file;
    return file.open(target) ? 1 : 0;
  });
  EXPECT_EQ(rc, 0);
}

TEST_F(TargetFileTest, WritableTargetInLockedFolderIsWrittenInPlace) {
  write_file(path("w.x"), "old");
  ASSERT_EQ(::chown(path("w.x").c_str(), qel_test::nobody_uid(), qel_test::nobody_gid()), 0);
  ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
  std::string target = path("w.x");
  int rc = qel_test::run_in_child(true, [&] {
    TargetFile file;
    if (!file.open(target)) return 2;
    if (!file.in_place()) return 3;
    if (::write(file.fd(), "new", 3) != 3) return 4;
    return file.commit() ? 0 : 5;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(read_file(target), "new");
}

// A nameless run whose name cannot be given at the end (here /proc is gone
// after the open) is copied in: a new target is made, an existing one keeps
// its inode, and nothing else is left in the folder.
TEST_F(TargetFileTest, ARunThatCannotBeNamedIsCopiedIn) {
  if (!qel_test::makes_nameless_files(dir_)) GTEST_SKIP() << "no nameless files here";
  write_file(path("old.x"), "earlier content");
  struct stat before {};
  ASSERT_EQ(::stat(path("old.x").c_str(), &before), 0);
  const int rc = qel_test::run_in_child(false, [&] {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      return 77;
    TargetFile fresh, old;
    if (!fresh.open(path("new.x")) || !old.open(path("old.x"))) return 1;
    if (::mount("qel", "/proc", "tmpfs", 0, "size=16k") != 0) return 77;
    if (::write(fresh.fd(), "new", 3) != 3 || ::write(old.fd(), "replaced", 8) != 8) return 2;
    return fresh.commit() && old.commit() ? 0 : 3;
  });
  if (rc == 77) GTEST_SKIP() << "no file system can be mounted here";
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(read_file(path("new.x")), "new");
  EXPECT_EQ(read_file(path("old.x")), "replaced");
  struct stat after {};
  ASSERT_EQ(::stat(path("old.x").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(entries(), 2);
}

}  // namespace
