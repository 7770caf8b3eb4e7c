/*
 * The frame hierarchy writer: the host's object tree, depth first in the
 * order of the host's child lists, as nested Frame blocks with a Mesh for
 * every polygon object that has something a reader can load, plus the data
 * and line comments and the trace of the tree.
 *
 * The walk keeps its own stack of open objects instead of recursing, so a
 * tree is as deep as memory allows (a chain of ten thousand groups costs a
 * few hundred kilobytes of heap, not the host's call stack).  What each open
 * object needs after its children is small: whether it wrote a Frame, the
 * offset its children receive, its own number and the next child.
 *
 * Ownership: everything written is appended to the caller's Output; the
 * index code buffer and the number and identifier texts are static and used
 * at once.  The data comment's working buffer comes from the host allocator
 * and goes back before the comment's line ends.
 */
#include "xwriter/frames.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "binding/options.h"
#include "export/export_state.h"
#include "export/output.h"
#include "xwriter/mesh.h"
#include "xwriter/names.h"
#include "xwriter/numbers.h"

namespace qel {

namespace {

// Four 11-character numbers and three '_' at most.
char g_index_code[64];

// What an open object keeps while its children are written.
struct OpenObject {
  mo_list next_child;     // node of the next child to write, null at the end
  float child_offset[3];  // the offset every child receives
  int own_number;         // this object's own number: its children's parent number
  int child_number;       // own number of the next child (lights not counted)
  bool has_frame;         // a closing brace is owed
};

const char *name_of(mo_object *object) {
  const char *name = mo_object_get_name(object);
  return name != nullptr ? name : "";
}

// Index part of a name: frames, meshes, or the bare code of the comments.
enum class LabelKind { frame, mesh, comment };

void write_label(Output &out, mo_object *object, int type, LabelKind kind) {
  bool names = option_is_set(opt_object_names);
  bool index = option_is_set(opt_index_names);
  if (names) {
    // Only polygon objects have meshes, so the world is always WORLD.
    out.puts(type == MO_OBJ_WORLD ? "WORLD" : x_identifier(name_of(object)));
  }
  if (names && index) out.puts("__");
  if (index) {
    if (kind == LabelKind::frame) out.puts("FRM_");
    if (kind == LabelKind::mesh) out.puts("MSH_");
    out.puts(g_index_code);
  }
}

void trace_header(int type, mo_object *object, int vertex_count, int surface_count,
                  int child_count) {
  const char *indent = indent_text(export_state().hierarchy_level);
  // The name is host text: always an argument, never part of a format.
  switch (type) {
    case MO_OBJ_WORLD:
      debugf(
          "\n\n%s*****  >>> WORLD <<<  -  Index : %s  -  ( %d Vertices, %d Surfaces, %d Kids )  "
          "*****\n",
          indent, g_index_code, vertex_count, surface_count, child_count);
      break;
    case MO_OBJ_POLYGON:
      if (child_count == 0) {
        debugf(
            "\n\n%s**  Normal - '%s'  -  Index : %s  -  ( %d Vertices, %d Surfaces, %d Kids )  "
            "**\n",
            indent, name_of(object), g_index_code, vertex_count, surface_count, child_count);
      } else {
        debugf(
            "\n\n%s****  >> Group << - ** Objekt 'Normal' ** - '%s'  -  Index : %s  -  "
            "( %d Vertices, %d Surfaces, %d Kids )  ****\n",
            indent, name_of(object), g_index_code, vertex_count, surface_count, child_count);
      }
      break;
    case MO_OBJ_GROUP:
      debugf(
          "\n\n%s****  >> Group << -  '%s'  -  Index : %s  -  ( %d Vertices, %d Surfaces, %d Kids "
          ")  ****\n",
          indent, name_of(object), g_index_code, vertex_count, surface_count, child_count);
      break;
    case MO_OBJ_LIGHT:
      debugf(
          "\n\n%s****  >> Light << -  '%s'  -  ( Index : %s )  -  ( %d Vertices, %d Surfaces, %d "
          "Kids )  ****\n",
          indent, name_of(object), g_index_code, vertex_count, surface_count, child_count);
      break;
    default:
      break;  // a type the host did not tell us about gets no header
  }
}

// The data text on one comment line: leading control bytes (and bytes from
// 128 on) skipped, each line feed as " # ", other such bytes dropped, and
// trailing spaces and '#' cut.
void write_data_comment(Output &out, mo_object *object, int type, const char *data) {
  std::size_t length = std::strlen(data);
  if (length > (SIZE_MAX - 1) / 3) return;
  char *text = static_cast<char *>(myalloc(3 * length + 1));
  if (text == nullptr) return;  // no buffer, no comment: the export goes on

  const char *p = data;
  while (*p != '\0' && static_cast<signed char>(*p) < 32) ++p;
  char *end = text;
  for (; *p != '\0'; ++p) {
    if (*p == '\n') {
      *end++ = ' ';
      *end++ = '#';
      *end++ = ' ';
    } else if (static_cast<signed char>(*p) >= 32) {
      *end++ = *p;
    }
  }
  while (end > text && (end[-1] == ' ' || end[-1] == '#')) --end;
  *end = '\0';

  out.puts("\n\n// DATA *");
  write_label(out, object, type, LabelKind::comment);
  out.puts("  ## ");
  out.write(text, static_cast<std::size_t>(end - text));
  out.puts(" ##\n");
  myfree(text);
}

void write_line_comment(Output &out, mo_object *object, int type, mo_surface *surface,
                        float z_sign) {
  out.puts("// LINE *");
  write_label(out, object, type, LabelKind::comment);
  int count = surface->vertex_count;
  out.printf("  # %d", count);
  for (int k = 0; k < count; ++k) {
    const mo_vertex *v = surface_get_svertex_at(surface, k)->vertex;
    // Where the host holds it: no offset.
    out.printf("  :  %s %s %s", format_number(v->x), format_number(v->y),
               format_number(z_sign * v->z));
  }
  out.puts("\n");
}

void write_matrix(Output &out, const float centre[3], const float offset[3], float z_sign) {
  float x = centre[0] - offset[0];
  float y = centre[1] - offset[1];
  float dz = centre[2] - offset[2];
  float z = z_sign * dz;
  // Sixteen ring results held at once; the ring holds twenty.  The first
  // three rows are the identity rotation.
  const char *m[16];
  for (int i = 0; i < 12; ++i) m[i] = format_number(i % 5 == 0 ? 1.0f : 0.0f);
  m[12] = format_number(x);
  m[13] = format_number(y);
  m[14] = format_number(z);
  m[15] = format_number(1.0f);
  out.printf(
      "\nFrameTransformMatrix {\n  %s, %s, %s, %s,\n  %s, %s, %s, %s,\n  %s, %s, %s, %s,\n"
      "  %s, %s, %s, %s;;\n}\n",
      m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8], m[9], m[10], m[11], m[12], m[13], m[14],
      m[15]);
}

// Whether the mesh writer will find a face a reader can load: a polygon
// surface of three or more vertices in the object as the mesh writer takes
// it (its subdivided form under option 28).
bool has_loadable_face(mo_object *object) {
  if (option_is_set(opt_subdivision) && mo_object_is_subdivided(object)) {
    mo_object *subdivision = mo_object_get_subdivision(object);
    if (subdivision != nullptr) object = subdivision;
  }
  int vertex_count = 0, surface_count = 0, child_count = 0;
  mo_list vertices = nullptr, surfaces = nullptr, children = nullptr;
  mo_object_get_contents(object, &vertex_count, &surface_count, &child_count, &vertices, &surfaces,
                         &children);
  for (mo_list node = surfaces; node != nullptr; node = node->next) {
    auto *surface = static_cast<mo_surface *>(node->item);
    if (surface_get_type(surface) == MO_SURF_POLYGON && surface->vertex_count >= 3) return true;
  }
  return false;
}

// Everything of one object before its children.  Fills `open` for the
// children; false when the export status stopped the walk.
bool enter_object(Output &out, mo_object *object, const float offset[3], int own_number,
                  int parent_number, OpenObject *open) {
  ExportState &s = export_state();

  // 1-4: level, contents, counter, index code.
  ++s.hierarchy_level;
  int vertex_count = 0, surface_count = 0, child_count = 0;
  mo_list vertices = nullptr, surfaces = nullptr, children = nullptr;
  mo_object_get_contents(object, &vertex_count, &surface_count, &child_count, &vertices, &surfaces,
                         &children);
  int type = mo_object_get_type(object);
  if (type != MO_OBJ_LIGHT) ++s.object_counter;
  std::snprintf(g_index_code, sizeof g_index_code, "%d_%d_%d_%d", s.hierarchy_level, parent_number,
                own_number, s.object_counter);

  // 5-7: trace, z sign, centre.
  trace_header(type, object, vertex_count, surface_count, child_count);
  float z_sign = option_is_set(opt_z_axis) ? 1.0f : -1.0f;
  float centre[3] = {0.0f, 0.0f, 0.0f};
  if (const float *c = mo_object_get_centre(object)) std::memcpy(centre, c, sizeof centre);
  debugf("%s   local object centre : %f %f %f\n", indent_text(s.hierarchy_level),
         static_cast<double>(centre[0]), static_cast<double>(centre[1]),
         static_cast<double>(centre[2]));

  // 8: data comment.
  if (option_is_set(opt_data_comments)) {
    if (const char *data = mo_object_get_data(object)) write_data_comment(out, object, type, data);
  }

  // 9: surface pass.
  int polygon_count = 0;
  int line_count = 0;
  bool line_comments = option_is_set(opt_line_comments);
  for (mo_list node = surfaces; node != nullptr; node = node->next) {
    auto *surface = static_cast<mo_surface *>(node->item);
    int surface_type = surface_get_type(surface);
    if (surface_type == MO_SURF_POLYGON) {
      ++polygon_count;
    } else if (surface_type == MO_SURF_LINE || surface_type == MO_SURF_CLOSED_LINE) {
      if (line_comments) {
        if (line_count == 0) out.puts("\n");
        write_line_comment(out, object, type, surface, z_sign);
      }
      ++line_count;
    }
  }

  // 10: frame decision.
  bool no_frames = option_is_set(opt_no_frames);
  bool leaf_polygon = type == MO_OBJ_POLYGON && child_count == 0;
  bool has_frame = !no_frames && type != MO_OBJ_LIGHT && !(line_count > 0 && polygon_count == 0);
  if (option_is_set(opt_no_leaf_frames) && leaf_polygon) has_frame = false;

  // 11: Frame and its matrix, relative to the enclosing Frame.
  if (has_frame) {
    out.puts("\nFrame ");
    write_label(out, object, type, LabelKind::frame);
    out.puts(" {\n");
    write_matrix(out, centre, offset, z_sign);
  }

  // 12: Mesh, positions relative to the innermost enclosing Frame.
  if (type == MO_OBJ_POLYGON && vertex_count > 0 && polygon_count > 0 &&
      has_loadable_face(object)) {
    out.puts("\nMesh ");
    write_label(out, object, type, LabelKind::mesh);
    out.puts(" {\n");
    float mesh_offset[3] = {0.0f, 0.0f, 0.0f};
    if (!no_frames) {
      const float *c = mo_object_get_centre(object);
      float now[3] = {0.0f, 0.0f, 0.0f};
      if (c != nullptr) std::memcpy(now, c, sizeof now);
      for (int i = 0; i < 3; ++i) {
        if (option_is_set(opt_no_leaf_frames) && leaf_polygon) {
          // The parent's Frame origin, by the same float steps as always.
          float relative = now[i] - offset[i];
          mesh_offset[i] = now[i] - relative;
        } else {
          mesh_offset[i] = now[i];
        }
      }
    }
    x_output_surface_vertices(out, object, mesh_offset);
    if (s.status != kExportRunning) return false;
    out.puts("\n}\n");
  }

  // 13: what the children need.  Without a Frame of its own (lines only, a
  // light) the innermost enclosing Frame is still the one this object was
  // placed in, so its children are placed there too.
  const float *child_offset = (!no_frames && !has_frame) ? offset : centre;
  std::memcpy(open->child_offset, child_offset, sizeof open->child_offset);
  open->next_child = children;
  open->own_number = own_number;
  open->child_number = 0;
  open->has_frame = has_frame;
  return true;
}

void walk(Output &out, mo_object *root, const float offset[3], int own_number, int parent_number) {
  ExportState &s = export_state();
  std::vector<OpenObject> open;
  OpenObject entered;
  if (!enter_object(out, root, offset, own_number, parent_number, &entered)) return;
  open.push_back(entered);

  while (!open.empty()) {
    OpenObject &top = open.back();
    if (top.next_child != nullptr) {
      // 13: the next child, with this object's own number as its parent's.
      auto *child = static_cast<mo_object *>(top.next_child->item);
      top.next_child = top.next_child->next;
      int number = top.child_number;
      if (mo_object_get_type(child) != MO_OBJ_LIGHT) ++top.child_number;
      float child_offset[3];
      std::memcpy(child_offset, top.child_offset, sizeof child_offset);
      if (!enter_object(out, child, child_offset, number, top.own_number, &entered)) return;
      open.push_back(entered);  // `top` is not used after this
      continue;
    }
    // 14-15: the object is done.
    if (top.has_frame) out.puts("\n}\n");
    --s.hierarchy_level;
    open.pop_back();
    // Back in the parent, after its child: a cancel or a failure stops
    // every level at once.
    if (s.status != kExportRunning) return;
  }
}

}  // namespace

void write_object(Output &out, mo_object *object, const float offset[3], int own_number,
                  int parent_number) {
  try {
    walk(out, object, offset, own_number, parent_number);
  } catch (const std::bad_alloc &) {
    // Only the walk's own stack allocates; the host is never left in a call.
    export_fail_out_of_memory();
  }
}

}  // namespace qel
