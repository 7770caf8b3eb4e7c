/*
 * Assimp's reader in a child process, the scene handed back as assbin.
 */
#include "import/isolated_read.h"

#include <assimp/config.h>
#include <assimp/scene.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <assimp/ProgressHandler.hpp>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "common/file_beside.h"
#include "import/model_files.h"

namespace molv {
namespace {

// Assimp's progress of reading the file, as a percentage, to REPORT.  Set
// on the importer only for one ReadFile and taken off again before the
// importer goes (it does not own it).
class ReadProgress : public Assimp::ProgressHandler {
 public:
  ReadProgress(Assimp::Importer &importer, const std::function<void(int)> &report)
      : importer_(importer), report_(report) {
    if (report_) importer_.SetProgressHandler(this);
  }
  ~ReadProgress() override {
    if (report_) importer_.SetProgressHandler(nullptr);
  }
  ReadProgress(const ReadProgress &) = delete;
  ReadProgress &operator=(const ReadProgress &) = delete;

  bool Update(float) override { return true; }
  void UpdateFileRead(int step, int steps) override {
    if (steps > 0 && step >= 0) report_(static_cast<int>(100LL * step / steps));
  }

 private:
  Assimp::Importer &importer_;
  const std::function<void(int)> &report_;
};

// The reader as both reads take it: the files through our file system
// (regular files only, never blocking), and none of the meshes Assimp makes
// up to show the bones of a file without geometry (a BVH motion, a Collada
// of lights), which are not the model.
ModelFiles *prepare_reader(Assimp::Importer &importer) {
  auto *files = new ModelFiles;  // the importer owns it
  importer.SetIOHandler(files);
  importer.SetPropertyBool(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, true);
  return files;
}

// The child's answer: what the reader opened, refused and said, and whether it read the model.
class Answer {
 public:
  explicit Answer(int fd) : fd_(fd) {}
  bool number(std::uint64_t n) { return write_all(fd_, &n, sizeof n); }
  bool text(const std::string &s) { return number(s.size()) && write_all(fd_, s.data(), s.size()); }

 private:
  int fd_;
};

class AnswerReader {
 public:
  AnswerReader(const char *data, std::size_t size) : data_(data), left_(size) {}
  bool number(std::uint64_t *n) {
    if (left_ < sizeof *n) return false;
    std::memcpy(n, data_, sizeof *n);
    data_ += sizeof *n;
    left_ -= sizeof *n;
    return true;
  }
  bool bytes(const char **at, std::size_t *size) {
    std::uint64_t n;
    if (!number(&n) || n > left_) return false;
    *at = data_;
    *size = static_cast<std::size_t>(n);
    data_ += n;
    left_ -= n;
    return true;
  }
  bool text(std::string *s) {
    const char *at;
    std::size_t size;
    if (!bytes(&at, &size)) return false;
    s->assign(at, size);
    return true;
  }

 private:
  const char *data_;
  std::size_t left_;
};

// The child: reads the model, lets go of it, and only then writes the
// answer to FD, so that a crash anywhere in the reader (freeing a deep
// scene included) leaves no answer.  Its exit status.
int read_in_child(const std::string &path, const std::function<void(int)> &progress, int fd) {
  // A crash leaves no core file behind, and ends the child by its signal
  // whatever handler the process had (a sanitizer build's would print a
  // report of its own and exit).
  const struct rlimit none = {0, 0};
  (void)::setrlimit(RLIMIT_CORE, &none);
  for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) std::signal(signal, SIG_DFL);
  std::vector<std::string> opened;
  std::string refusal, error;
  int state = 0;
  try {
    Assimp::Importer importer;
    ModelFiles *files = prepare_reader(importer);
    ReadProgress report(importer, progress);
    const aiScene *scene = importer.ReadFile(path, 0);
    opened = files->opened();
    refusal = files->refusal();
    error = importer.GetErrorString();
    // 0: nothing read (the reason is the refusal or the error), 2: no
    // scene in it, 1: read.
    state = scene == nullptr || !refusal.empty() ? 0 : scene->mRootNode == nullptr ? 2 : 1;
  } catch (const std::bad_alloc &) {
    return 5;
  } catch (...) {
    return 3;
  }
  Answer answer(fd);
  bool ok = answer.number(opened.size());
  for (const std::string &name : opened) ok = ok && answer.text(name);
  ok = ok && answer.text(refusal) && answer.text(error) && answer.number(state);
  return ok ? 0 : 3;
}

std::string child_end(int status) {
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    // Ended from outside (a signal that ends molv too), not by the file.
    const bool stopped =
        signal == SIGINT || signal == SIGTERM || signal == SIGHUP || signal == SIGKILL;
    return std::string(stopped ? "the model's reader was stopped"
                               : "the model's reader crashed on it") +
           " (signal " + std::to_string(signal) + ", " + strsignal(signal) + ")";
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 5) return "too large: out of memory";
  return "the model's reader ended without an answer (exit status " +
         std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
}

// The child's answer (the MAP of SIZE bytes).  True when the reader read
// the model; else the reason is in *read.
bool take_answer(const char *map, std::size_t size, IsolatedRead *read) {
  AnswerReader in(map, size);
  std::uint64_t count = 0, state = 0;
  bool ok = in.number(&count);
  for (std::uint64_t i = 0; ok && i < count; ++i) {
    read->opened.emplace_back();
    ok = in.text(&read->opened.back());
  }
  std::string error;
  ok = ok && in.text(&read->refusal) && in.text(&error) && in.number(&state);
  if (!ok) {
    read->reason = "the model's reader ended without an answer";
  } else if (state == 2) {
    read->reason = "the file holds no scene";
  } else if (state != 1) {
    read->reason = error.empty() ? "Assimp cannot read it" : error;
  }
  return ok && state == 1;
}

// The answer of the child that ended with STATUS, from FD.
bool child_read(int fd, int status, IsolatedRead *read) {
  // A child that did not end well says why in how it ended.
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    read->reason = child_end(status);
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || st.st_size <= 0) {
    read->reason = "the model's reader ended without an answer";
    return false;
  }
  const std::size_t size = static_cast<std::size_t>(st.st_size);
  void *map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (map == MAP_FAILED) {
    read->reason = std::string("cannot read it apart: ") + std::strerror(errno);
    return false;
  }
  const bool ok = take_answer(static_cast<const char *>(map), size, read);
  ::munmap(map, size);
  return ok;
}

}  // namespace

int read_apart(const char *path, const char *fd_text) {
  return read_in_child(path, {}, std::atoi(fd_text));
}

IsolatedRead read_isolated(Assimp::Importer &importer, const std::string &path,
                           const std::function<void(int)> &progress) {
  IsolatedRead read;
  const int fd = ::memfd_create("molv-read", MFD_CLOEXEC);
  if (fd < 0) {
    read.reason = std::string("cannot read it apart: ") + std::strerror(errno);
    return read;
  }
  // The progress: the first half is the child's read, the second ours.
  std::function<void(int)> first, second;
  if (progress) {
    first = [&progress](int percent) { progress(percent / 2); };
    second = [&progress](int percent) { progress(50 + percent / 2); };
  }
  // Off the main thread (the window's load) the child is a new molv: a
  // forked copy of a process with threads may find a lock (the allocator's,
  // Tcl's) held by a thread it does not have, and wait on it for ever.
  char exe[4096];
  const ssize_t exe_length =
      ::gettid() != ::getpid() ? ::readlink("/proc/self/exe", exe, sizeof exe - 1) : -1;
  const std::string fd_text = std::to_string(fd);
  const char *const argv[] = {"molv", kReadApartCommand, path.c_str(), fd_text.c_str(), nullptr};
  if (exe_length > 0) exe[exe_length] = '\0';
  const pid_t pid = ::fork();
  if (pid == 0 && exe_length > 0) {
    (void)::fcntl(fd, F_SETFD, 0);
    ::execv(exe, const_cast<char *const *>(argv));
    ::_exit(127);
  }
  if (pid == 0) ::_exit(read_in_child(path, first, fd));
  int status = 0;
  if (pid < 0) {
    read.reason = std::string("cannot read it apart: ") + std::strerror(errno);
  } else {
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  const bool safe = pid > 0 && child_read(fd, status, &read);
  ::close(fd);
  if (!safe) return read;
  // The reader survives this file: it is read here for the model.
  ModelFiles *files = prepare_reader(importer);
  {
    ReadProgress report(importer, second);
    read.scene = importer.ReadFile(path, 0);
  }
  read.opened = files->opened();
  read.refusal = files->refusal();
  if (read.scene == nullptr) read.reason = importer.GetErrorString();
  if (read.scene == nullptr && read.reason.empty()) read.reason = "Assimp cannot read it";
  return read;
}

}  // namespace molv
