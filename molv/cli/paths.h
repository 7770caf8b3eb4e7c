/*
 * File names as the command line's outputs write them: without "./"
 * segments, doubled slashes or "folder/.." detours, as compilers write
 * the names of a depfile, and the place of a name below a folder.
 */
#ifndef MOLV_CLI_PATHS_H
#define MOLV_CLI_PATHS_H

#include <string>

namespace molv {
namespace cli {

// PATH without "." segments and empty ones, and each "NAME/.." taken out
// where NAME is no link (through a link ".." leads elsewhere, so that
// detour stays).  "." for a relative PATH that comes to nothing.
std::string normal_path(const std::string &path);

// PATH's place below FOLDER ("sub/x.obj"), both made absolute from the
// current folder and normal; false when PATH is not below FOLDER.
bool path_below(const std::string &path, const std::string &folder, std::string *below);

}  // namespace cli
}  // namespace molv

#endif  // MOLV_CLI_PATHS_H
