/*
 * Assimp's reader in a child process, the scene handed back as assbin.
 */
#include "import/isolated_read.h"

#include <assimp/scene.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <assimp/Exporter.hpp>
#include <assimp/ProgressHandler.hpp>
#include <cerrno>
#include <cstdint>
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

// The child's answer: words of the read, then the scene's bytes.
class Answer {
 public:
  explicit Answer(int fd) : fd_(fd) {}
  bool number(std::uint64_t n) { return write_all(fd_, &n, sizeof n); }
  bool text(const std::string &s) { return number(s.size()) && write_all(fd_, s.data(), s.size()); }
  bool bytes(const void *data, std::size_t size) { return number(size) && write_all(fd_, data, size); }

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

// The child: reads the model and writes the answer to FD.  Its exit status.
int read_in_child(const std::string &path, const std::function<void(int)> &progress, int fd) {
  // A crash leaves no core file behind.
  const struct rlimit none = {0, 0};
  (void)::setrlimit(RLIMIT_CORE, &none);
  try {
    Assimp::Importer importer;
    auto *files = new ModelFiles;  // the importer owns it
    importer.SetIOHandler(files);
    ReadProgress report(importer, progress);
    const aiScene *scene = importer.ReadFile(path, 0);
    Answer answer(fd);
    bool ok = answer.number(files->opened().size());
    for (const std::string &opened : files->opened()) ok = ok && answer.text(opened);
    ok = ok && answer.text(files->refusal()) && answer.text(importer.GetErrorString());
    if (!ok) return 3;
    // 0: nothing read (the reason is the refusal or the error), 2: no
    // scene in it, 1: the scene follows.
    if (scene == nullptr || !files->refusal().empty()) return answer.number(0) ? 0 : 3;
    if (scene->mRootNode == nullptr) return answer.number(2) ? 0 : 3;
    // The names of embedded textures (a .zae's or an .fbx's) are no part
    // of Assimp's binary form here: they go alongside.
    ok = answer.number(1) && answer.number(scene->mNumTextures);
    for (unsigned i = 0; ok && i < scene->mNumTextures; ++i)
      ok = answer.text(scene->mTextures[i]->mFilename.C_Str());
    // Nor are the meshes' names.
    ok = ok && answer.number(scene->mNumMeshes);
    for (unsigned i = 0; ok && i < scene->mNumMeshes; ++i)
      ok = answer.text(scene->mMeshes[i]->mName.C_Str());
    if (!ok) return 3;
    // The read is over and said so: a scene the binary form cannot take
    // (Assimp's copy of it asserts on some) is read again by the parent.
    // Assimp's own complaints there are no concern of the user's.
    const int quiet = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (quiet >= 0) ::dup2(quiet, 2);
    Assimp::Exporter exporter;
    const aiExportDataBlob *blob = exporter.ExportToBlob(scene, "assbin");
    if (blob == nullptr) return 4;
    return answer.bytes(blob->data, blob->size) ? 0 : 3;
  } catch (const std::bad_alloc &) {
    return 5;
  } catch (...) {
    return 3;
  }
}

std::string child_end(int status) {
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    return "the model's reader crashed on it (signal " + std::to_string(signal) + ", " +
           strsignal(signal) + ")";
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 5) return "too large: out of memory";
  return "the model's reader ended without an answer (exit status " +
         std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
}

// The scene from the child's answer (the MAP of SIZE bytes).
void take_answer(Assimp::Importer &importer, const char *map, std::size_t size,
                 IsolatedRead *read) {
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
    return;
  }
  if (state != 1) {
    read->reason = state == 2 ? "the file holds no scene" : error.empty() ? "Assimp cannot read it" : error;
    return;
  }
  auto texts = [&in](std::vector<std::string> *list) {
    std::uint64_t n = 0;
    if (!in.number(&n)) return false;
    for (std::uint64_t i = 0; i < n; ++i) {
      list->emplace_back();
      if (!in.text(&list->back())) return false;
    }
    return true;
  };
  std::vector<std::string> names, mesh_names;
  ok = texts(&names) && texts(&mesh_names);
  const char *blob = nullptr;
  std::size_t blob_size = 0;
  if (!ok) {
    read->reason = "the model's reader ended without an answer";
    return;
  }
  if (!in.bytes(&blob, &blob_size)) {
    // Read, but not handed over: the reader is safe on this file.
    read->read_again = true;
    return;
  }
  const aiScene *scene = importer.ReadFileFromMemory(blob, blob_size, 0, "assbin");
  if (scene == nullptr || scene->mNumTextures != names.size() ||
      scene->mNumMeshes != mesh_names.size()) {
    read->reason = std::string("the model could not be handed over: ") + importer.GetErrorString();
    return;
  }
  for (unsigned i = 0; i < scene->mNumTextures; ++i) scene->mTextures[i]->mFilename.Set(names[i]);
  for (unsigned i = 0; i < scene->mNumMeshes; ++i) scene->mMeshes[i]->mName.Set(mesh_names[i]);
  read->scene = scene;
}

}  // namespace

IsolatedRead read_isolated(Assimp::Importer &importer, const std::string &path,
                           const std::function<void(int)> &progress) {
  IsolatedRead read;
  const int fd = ::memfd_create("molv-read", MFD_CLOEXEC);
  if (fd < 0) {
    read.reason = std::string("cannot read it apart: ") + std::strerror(errno);
    return read;
  }
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(read_in_child(path, progress, fd));
  int status = 0;
  if (pid < 0) {
    read.reason = std::string("cannot read it apart: ") + std::strerror(errno);
  } else {
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  struct stat st;
  if (pid > 0 && (WIFEXITED(status) || WIFSIGNALED(status)) && ::fstat(fd, &st) == 0 &&
      st.st_size > 0) {
    const std::size_t size = static_cast<std::size_t>(st.st_size);
    void *map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map != MAP_FAILED) {
      take_answer(importer, static_cast<const char *>(map), size, &read);
      ::munmap(map, size);
    } else {
      read.reason = std::string("cannot read it apart: ") + std::strerror(errno);
    }
  }
  // A child that did not end well says why in how it ended.
  if (pid > 0 && read.scene == nullptr && !read.read_again &&
      !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
    read.reason = child_end(status);
  ::close(fd);
  if (read.read_again) {
    read.opened.clear();
    auto *files = new ModelFiles;  // the importer owns it
    importer.SetIOHandler(files);
    {
      ReadProgress report(importer, progress);
      read.scene = importer.ReadFile(path, 0);
    }
    read.opened = files->opened();
    read.refusal = files->refusal();
    if (read.scene == nullptr) read.reason = importer.GetErrorString();
  }
  return read;
}

}  // namespace molv
