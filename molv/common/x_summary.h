/*
 * What an exported .x file holds, for the line `molv export` prints after a
 * complete export: its size and how many meshes, vertices and faces it
 * holds, as the file states them (the counts ahead of each mesh's vertex
 * and face lists).  One pass over the file that looks only at the line
 * starts it needs: a file of 100 MB is read in a few tens of milliseconds,
 * straight from the page cache the export has just filled.
 */
#ifndef MOLV_COMMON_X_SUMMARY_H
#define MOLV_COMMON_X_SUMMARY_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace molv {

struct XFileCounts {
  std::uint64_t bytes = 0;
  std::uint64_t meshes = 0;
  std::uint64_t vertices = 0;
  std::uint64_t faces = 0;
};

// Counts the Mesh blocks of a text .x file as this plug-in writes them:
// "Mesh NAME {" at the start of a line, the vertex count on the next line,
// one vertex per line, then (after blank lines) the face count.  False
// with *error when the file cannot be read or a mesh is not of that form.
bool count_x_text(const char *text, std::size_t size, XFileCounts *counts, std::string *error);
bool count_x_file(const std::string &path, XFileCounts *counts, std::string *error);

// "Wrote FILE (1.4 MB): 1 mesh, 8 vertices, 6 faces": the window's line
// after a complete export.  False with *error when FILE cannot be counted.
bool wrote_line(const std::string &file, std::string *line, std::string *error);

// "1.4 MB", "812 bytes": a size as people read it (powers of 1000).
std::string size_text(std::uint64_t bytes);

}  // namespace molv

#endif  // MOLV_COMMON_X_SUMMARY_H
