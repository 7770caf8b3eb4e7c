/*
 * The choice of loader by file name.
 */
#include "import/load.h"

#include <sys/stat.h>

#include <string>
#include <vector>

#include "import/assimp_import.h"
#include "import/scene_file.h"

namespace molv {
std::string file_extension(const std::string &path) {
  const size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return std::string();
  std::string ext = name.substr(dot);
  for (char &c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext;
}

Source source_of(const std::string &file) {
  if (file.empty()) return Source::kSample;
  return file_extension(file) == ".json" ? Source::kScene : Source::kModel;
}

bool load_source(const std::string &file, std::string *error) {
  const Source source = source_of(file);
  if (source == Source::kSample) return load_scene_text(sample_scene_json(), "sample", error);
  // A folder is no model (Assimp would read it as an empty one), and a pipe
  // or a device would be read without end.
  struct stat info {};
  if (stat(file.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    *error = file + ": not a regular file";
    return false;
  }
  // Assimp names the file and its reason when it cannot read it.
  if (source == Source::kModel) return load_model_file(file, error);
  return load_scene_file(file, error);
}

std::vector<std::string> readable_extensions() {
  std::vector<std::string> extensions{".json"};
  const std::string patterns = assimp_extension_list();  // "*.3ds;*.obj;..."
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
