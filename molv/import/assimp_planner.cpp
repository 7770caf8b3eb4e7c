/*
 * Assimp's planner: the read with our file system and Assimp's progress,
 * then the walk over its scene into the plan.
 */
#include "import/assimp_planner.h"

#include <assimp/config.h>
#include <assimp/scene.h>

#include <assimp/Importer.hpp>
#include <assimp/ProgressHandler.hpp>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "import/assimp_builder.h"
#include "import/import_error.h"
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
  // Up to 99 while Assimp reads: 100 once its scene is whole (Assimp
  // still makes the scene from what it parsed after the last step).
  void UpdateFileRead(int step, int steps) override {
    if (steps > 0 && step >= 0) report_(static_cast<int>(std::min(99LL, 100LL * step / steps)));
  }

 private:
  Assimp::Importer &importer_;
  const std::function<void(int)> &report_;
};

}  // namespace

void plan_with_assimp(const std::string &path, const std::function<void(int)> &progress,
                      PlannedRead *read) {
  Assimp::Importer importer;
  // The files through our file system (regular files only, never
  // blocking), and none of the meshes Assimp makes up to show the bones of
  // a file without geometry (a BVH motion, a Collada of lights), which are
  // not the model.
  auto *files = new ModelFiles;  // the importer owns it
  importer.SetIOHandler(files);
  importer.SetPropertyBool(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, true);
  ReadProgress report(importer, progress);
  const aiScene *scene = importer.ReadFile(path, 0);
  if (scene != nullptr && progress) progress(100);
  read->opened = files->opened();
  read->refusal = files->refusal();
  read->error = importer.GetErrorString();
  if (scene != nullptr && read->refusal.empty()) {
    read->state = scene->mRootNode == nullptr ? PlannedRead::kNoScene : PlannedRead::kPlanned;
    try {
      if (read->state == PlannedRead::kPlanned) read->plan = plan_model(*scene);
    } catch (const ImportError &e) {
      read->state = PlannedRead::kRefused;
      read->error = e.what;
    }
  }
  if (read->error.empty()) read->error = "Assimp cannot read it";
}

std::vector<std::string> assimp_extensions() {
  std::string patterns;  // "*.3ds;*.obj;..."
  Assimp::Importer().GetExtensionList(patterns);
  std::vector<std::string> extensions;
  size_t start = 0;
  while (start < patterns.size()) {
    size_t end = patterns.find(';', start);
    if (end == std::string::npos) end = patterns.size();
    std::string pattern = patterns.substr(start, end - start);
    if (pattern.compare(0, 1, "*") == 0) pattern.erase(0, 1);
    if (pattern.size() > 1 && pattern[0] == '.') extensions.push_back(pattern);
    start = end + 1;
  }
  return extensions;
}

}  // namespace molv
