/*
 * The one choice of loader, for the command line and the window alike: a
 * name stands for the built-in sample (none given), a JSON scene file
 * (".json", in any case) or a model that Assimp reads (everything else).
 * Adding an input format means a loader of its own beside scene_file.h
 * and assimp_import.h, one kind of source here, and its extension in
 * readable_extensions.
 */
#ifndef MOLV_IMPORT_LOAD_H
#define MOLV_IMPORT_LOAD_H

#include <string>
#include <vector>

namespace molv {

enum class Source { kSample, kScene, kModel };

// The extension of PATH's file name in lower case, with its dot (".json"
// of "a/b.JSON"); empty when the name has none.
std::string file_extension(const std::string &path);

// What FILE stands for, by its name alone (empty: the sample).
Source source_of(const std::string &file);

// Replaces the current model with FILE (empty: the sample).  False with the
// one-line *error "FILE: ..." on a file that cannot be read or is no
// regular file.
bool load_source(const std::string &file, std::string *error);

// The extensions File > Open offers, ".json" first, then every one the
// model loader reads (".obj" and the rest).
std::vector<std::string> readable_extensions();

}  // namespace molv

#endif  // MOLV_IMPORT_LOAD_H
