/*
 * Counting the meshes, vertices and faces of a written .x file.
 */
#include "common/x_summary.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace molv {
namespace {

// A file read through a mapping: the pages behind the scan are let go as
// it passes them, so that counting a file of hundreds of megabytes does
// not add them to the process's resident size (the page cache keeps
// them).  Idle when nothing is mapped.
struct Mapped {
  const char *released = nullptr;  // pages below are let go
};
Mapped g_mapped;

void release_behind(const char *p) {
  constexpr std::size_t kStep = std::size_t{1} << 20;
  if (g_mapped.released == nullptr || p < g_mapped.released + kStep) return;
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t to = reinterpret_cast<uintptr_t>(p) & ~(page - 1);
  const auto from = reinterpret_cast<uintptr_t>(g_mapped.released);
  madvise(reinterpret_cast<void *>(from), to - from, MADV_DONTNEED);
  g_mapped.released = reinterpret_cast<const char *>(to);
}

// The start of the line after P (END when P is on the last line).
const char *next_line(const char *p, const char *end) {
  const void *newline = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
  const char *next = newline == nullptr ? end : static_cast<const char *>(newline) + 1;
  release_behind(next);
  return next;
}

// Skips COUNT lines.
const char *skip_lines(const char *p, const char *end, std::uint64_t count) {
  for (; count > 0 && p < end; --count) p = next_line(p, end);
  return p;
}

// "N;" alone on a line ("0;;" for an empty list; spaces around allowed):
// N, and P moved past the line.
bool read_count(const char **p, const char *end, std::uint64_t *count) {
  const char *q = *p;
  while (q < end && (*q == ' ' || *q == '\t')) ++q;
  if (q == end || *q < '0' || *q > '9') return false;
  std::uint64_t n = 0;
  for (; q < end && *q >= '0' && *q <= '9'; ++q) {
    if (n > (UINT64_MAX - 9) / 10) return false;
    n = n * 10 + static_cast<std::uint64_t>(*q - '0');
  }
  if (q == end || *q != ';') return false;
  ++q;
  if (n == 0 && q < end && *q == ';') ++q;
  while (q < end && (*q == ' ' || *q == '\t' || *q == '\r')) ++q;
  if (q < end && *q != '\n') return false;
  *count = n;
  *p = next_line(q, end);
  return true;
}

const char *skip_blank_lines(const char *p, const char *end) {
  for (;;) {
    const char *q = p;
    while (q < end && (*q == ' ' || *q == '\t' || *q == '\r')) ++q;
    if (q == end || *q != '\n') return p;
    p = q + 1;
  }
}

// The start of the next line from P on that opens a mesh ("Mesh " after a
// newline), or END.  Searched a megabyte at a time, so that the pages
// passed over are let go as the search goes: most of a large file is the
// blocks of its meshes after their faces.
const char *next_mesh(const char *p, const char *end) {
  constexpr std::size_t kWindow = std::size_t{1} << 20;
  constexpr std::size_t kKey = 6;  // "\nMesh "
  while (static_cast<std::size_t>(end - p) >= kKey) {
    // Windows overlap by the key's length less one, so that no match is
    // cut in two.
    const std::size_t span = std::min(static_cast<std::size_t>(end - p), kWindow);
    const void *found = memmem(p, span, "\nMesh ", kKey);
    if (found != nullptr) {
      const char *next = static_cast<const char *>(found) + 1;
      release_behind(next);
      return next;
    }
    if (span < kWindow) break;
    p += span - (kKey - 1);
    release_behind(p);
  }
  return end;
}

}  // namespace

bool count_x_text(const char *text, std::size_t size, XFileCounts *counts, std::string *error) {
  XFileCounts found;
  found.bytes = size;
  const char *p = text;
  const char *const end = text + size;
  while (p < end) {
    // Only "Mesh " at a line start opens a mesh: the template of the same
    // name, comments and the blocks inside a mesh (MeshNormals, ...) do not.
    if (end - p < 5 || std::memcmp(p, "Mesh ", 5) != 0) {
      p = next_line(p, end);
      continue;
    }
    const std::uint64_t mesh = ++found.meshes;
    p = next_line(p, end);
    std::uint64_t vertices = 0, faces = 0;
    if (!read_count(&p, end, &vertices)) {
      *error = "mesh " + std::to_string(mesh) + ": no vertex count";
      return false;
    }
    p = skip_blank_lines(skip_lines(p, end, vertices), end);
    if (!read_count(&p, end, &faces)) {
      *error = "mesh " + std::to_string(mesh) + ": no face count after its vertices";
      return false;
    }
    found.vertices += vertices;
    found.faces += faces;
    // The rest of the mesh (its material list, normals, texture
    // coordinates) is passed over to the next line that opens a mesh.
    p = next_mesh(p, end);
  }
  *counts = found;
  return true;
}

bool count_x_file(const std::string &path, XFileCounts *counts, std::string *error) {
  // A pipe or a device at the name is not waited on, nor read.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    const bool opened = fd >= 0 && info.st_mode != 0;
    *error = path + ": " + (opened ? "not a regular file" : std::strerror(errno));
    if (fd >= 0) close(fd);
    return false;
  }
  const std::size_t size = static_cast<std::size_t>(info.st_size);
  if (size == 0) {
    close(fd);
    return count_x_text("", 0, counts, error);
  }
  void *map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  if (map == MAP_FAILED) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  madvise(map, size, MADV_SEQUENTIAL);
  g_mapped.released = static_cast<const char *>(map);  // page-aligned
  const bool ok = count_x_text(static_cast<const char *>(map), size, counts, error);
  g_mapped.released = nullptr;
  munmap(map, size);
  if (!ok) *error = path + ": " + *error;
  return ok;
}

std::string size_text(std::uint64_t bytes) {
  if (bytes < 1000) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  static const char *const kUnits[] = {"kB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1000.0;
  int unit = 0;
  while (value >= 999.95 && unit < 3) {
    value /= 1000.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

bool wrote_line(const std::string &file, std::string *line, std::string *error) {
  XFileCounts counts;
  if (!count_x_file(file, &counts, error)) return false;
  const auto plural = [](std::uint64_t n, const char *one, const char *many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  *line = "Wrote " + file + " (" + size_text(counts.bytes) + "): " +
          plural(counts.meshes, "mesh", "meshes") + ", " +
          plural(counts.vertices, "vertex", "vertices") + ", " + plural(counts.faces, "face", "faces");
  return true;
}

}  // namespace molv
