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
 * Ownership: everything written is appended to the run's output; the
 * index code of the object on the walk is part of the run, the identifier
 * text is static and used at once.  The data comment's working buffer
 * comes from the host allocator and goes back before the comment's line
 * ends.
 */
#include "xwriter/frames.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "core/export_run.h"
#include "core/output.h"
#include "xwriter/host_object.h"
#include "xwriter/mesh.h"
#include "xwriter/names.h"
#include "xwriter/numbers.h"

namespace qel {

namespace {

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

void write_label(ExportRun &run, mo_object *object, int type, LabelKind kind) {
  Output &out = run.out;
  bool names = run.options.is_set(opt_object_names);
  bool index = run.options.is_set(opt_index_names);
  if (names) {
    // Only polygon objects have meshes, so the world is always WORLD.
    out.puts(type == MO_OBJ_WORLD
                 ? "WORLD"
                 : x_identifier(name_of(object), run.options.is_set(opt_digit_prefix)));
  }
  if (names && index) out.puts("__");
  if (index) {
    if (kind == LabelKind::frame) out.puts("FRM_");
    if (kind == LabelKind::mesh) out.puts("MSH_");
    out.puts(run.index_code);
  }
}

void trace_header(const ExportRun &run, int type, mo_object *object, int vertex_count,
                  int surface_count, int child_count) {
  const char *indent = indent_text(run.hierarchy_level);
  const char *index_code = run.index_code;
  // The name is host text: always an argument, never part of a format.
  switch (type) {
    case MO_OBJ_WORLD:
      debugf(
          "\n\n%s*****  >>> WORLD <<<  -  Index : %s  -  ( %d Vertices, %d Surfaces, %d Kids )  "
          "*****\n",
          indent, index_code, vertex_count, surface_count, child_count);
      break;
    case MO_OBJ_POLYGON:
      if (child_count == 0) {
        debugf(
            "\n\n%s**  Normal - '%s'  -  Index : %s  -  ( %d Vertices, %d Surfaces, %d Kids )  "
            "**\n",
            indent, name_of(object), index_code, vertex_count, surface_count, child_count);
      } else {
        debugf(
            "\n\n%s****  >> Group << - ** Objekt 'Normal' ** - '%s'  -  Index : %s  -  "
            "( %d Vertices, %d Surfaces, %d Kids )  ****\n",
            indent, name_of(object), index_code, vertex_count, surface_count, child_count);
      }
      break;
    case MO_OBJ_GROUP:
      debugf(
          "\n\n%s****  >> Group << -  '%s'  -  Index : %s  -  ( %d Vertices, %d Surfaces, %d Kids "
          ")  ****\n",
          indent, name_of(object), index_code, vertex_count, surface_count, child_count);
      break;
    case MO_OBJ_LIGHT:
      debugf(
          "\n\n%s****  >> Light << -  '%s'  -  ( Index : %s )  -  ( %d Vertices, %d Surfaces, %d "
          "Kids )  ****\n",
          indent, name_of(object), index_code, vertex_count, surface_count, child_count);
      break;
    default:
      break;  // a type the host did not tell us about gets no header
  }
}

// The data text on one comment line: leading control bytes (and bytes from
// 128 on) skipped, each line feed as " # ", other such bytes dropped, and
// trailing spaces and '#' cut.
void write_data_comment(ExportRun &run, mo_object *object, int type, const char *data) {
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

  Output &out = run.out;
  out.puts("\n\n// DATA *");
  write_label(run, object, type, LabelKind::comment);
  out.puts("  ## ");
  out.write(text, static_cast<std::size_t>(end - text));
  out.puts(" ##\n");
  myfree(text);
}

void write_line_comment(ExportRun &run, mo_object *object, int type, mo_surface *surface,
                        float z_sign) {
  Output &out = run.out;
  const NumberForm form(run.options);
  out.puts("// LINE *");
  write_label(run, object, type, LabelKind::comment);
  int count = surface->vertex_count;
  out.printf("  # %d", count);
  for (int k = 0; k < count; ++k) {
    const mo_vertex *v = surface_get_svertex_at(surface, k)->vertex;
    // Where the host holds it: no offset.
    out.printf("  :  %s %s %s", format_number(v->x, form).c_str(),
               format_number(v->y, form).c_str(), format_number(z_sign * v->z, form).c_str());
  }
  out.puts("\n");
}

void write_matrix(Output &out, const NumberForm &form, const float centre[3],
                  const float offset[3], float z_sign) {
  float x = centre[0] - offset[0];
  float y = centre[1] - offset[1];
  float dz = centre[2] - offset[2];
  float z = z_sign * dz;
  // The first three rows are the identity rotation.
  NumberText text[16];
  for (int i = 0; i < 12; ++i) text[i] = format_number(i % 5 == 0 ? 1.0f : 0.0f, form);
  text[12] = format_number(x, form);
  text[13] = format_number(y, form);
  text[14] = format_number(z, form);
  text[15] = format_number(1.0f, form);
  const char *m[16];
  for (int i = 0; i < 16; ++i) m[i] = text[i].c_str();
  out.printf(
      "\nFrameTransformMatrix {\n  %s, %s, %s, %s,\n  %s, %s, %s, %s,\n  %s, %s, %s, %s,\n"
      "  %s, %s, %s, %s;;\n}\n",
      m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8], m[9], m[10], m[11], m[12], m[13], m[14],
      m[15]);
}

// Whether the mesh writer will find a face a reader can load: a polygon
// surface of three or more vertices in the object's written form.
bool has_loadable_face(mo_object *object, const Options &options) {
  for (mo_list node = contents_of(written_form(object, options)).surfaces; node != nullptr;
       node = node->next) {
    auto *surface = static_cast<mo_surface *>(node->item);
    if (surface_get_type(surface) == MO_SURF_POLYGON && surface->vertex_count >= 3) return true;
  }
  return false;
}

// The surfaces of an object, counted by kind; the line comments are written
// on the way under opt_line_comments.
struct SurfaceKinds {
  int polygons = 0;
  int lines = 0;
};

SurfaceKinds count_surfaces(ExportRun &run, mo_object *object, int type, mo_list surfaces,
                            float z_sign) {
  SurfaceKinds kinds;
  const bool line_comments = run.options.is_set(opt_line_comments);
  for (mo_list node = surfaces; node != nullptr; node = node->next) {
    auto *surface = static_cast<mo_surface *>(node->item);
    const int surface_type = surface_get_type(surface);
    if (surface_type == MO_SURF_POLYGON) {
      ++kinds.polygons;
    } else if (surface_type == MO_SURF_LINE || surface_type == MO_SURF_CLOSED_LINE) {
      if (line_comments) {
        if (kinds.lines == 0) run.out.puts("\n");
        write_line_comment(run, object, type, surface, z_sign);
      }
      ++kinds.lines;
    }
  }
  return kinds;
}

// Whether the object writes a Frame of its own: not under opt_no_frames,
// not a light, not an object of lines only, and not a leaf polygon object
// under opt_no_leaf_frames.
bool writes_frame(const Options &options, int type, int child_count, const SurfaceKinds &kinds) {
  if (options.is_set(opt_no_frames) || type == MO_OBJ_LIGHT) return false;
  if (kinds.lines > 0 && kinds.polygons == 0) return false;
  return !(options.is_set(opt_no_leaf_frames) && type == MO_OBJ_POLYGON && child_count == 0);
}

// The Mesh of a polygon object, its positions relative to the innermost
// enclosing Frame.  False when the run stopped inside it.
bool write_mesh(ExportRun &run, mo_object *object, int type, bool leaf, const float offset[3]) {
  Output &out = run.out;
  out.puts("\nMesh ");
  write_label(run, object, type, LabelKind::mesh);
  out.puts(" {\n");
  float mesh_offset[3] = {0.0f, 0.0f, 0.0f};
  if (!run.options.is_set(opt_no_frames)) {
    const float *c = mo_object_get_centre(object);
    float now[3] = {0.0f, 0.0f, 0.0f};
    if (c != nullptr) std::memcpy(now, c, sizeof now);
    for (int i = 0; i < 3; ++i) {
      if (run.options.is_set(opt_no_leaf_frames) && leaf) {
        // The parent's Frame origin, by the same float steps as always.
        float relative = now[i] - offset[i];
        mesh_offset[i] = now[i] - relative;
      } else {
        mesh_offset[i] = now[i];
      }
    }
  }
  write_mesh_body(run, object, mesh_offset);
  if (!run.running()) return false;
  out.puts("\n}\n");
  return true;
}

// The object's place in the tree: its level, the object counter (lights
// not counted) and the index code of its names.
void number_object(ExportRun &s, int type, int own_number, int parent_number) {
  ++s.hierarchy_level;
  if (type != MO_OBJ_LIGHT) ++s.object_counter;
  std::snprintf(s.index_code, sizeof s.index_code, "%d_%d_%d_%d", s.hierarchy_level,
                parent_number, own_number, s.object_counter);
}

// Everything of one object before its children.  Fills `open` for the
// children; false when the run stopped.
bool enter_object(ExportRun &run, mo_object *object, const float offset[3], int own_number,
                  int parent_number, OpenObject *open) {
  const Options &options = run.options;
  const ObjectContents contents = contents_of(object);
  const int type = mo_object_get_type(object);
  number_object(run, type, own_number, parent_number);
  trace_header(run, type, object, contents.vertex_count, contents.surface_count,
               contents.child_count);

  const float z_sign = options.is_set(opt_z_axis) ? 1.0f : -1.0f;
  float centre[3] = {0.0f, 0.0f, 0.0f};
  if (const float *c = mo_object_get_centre(object)) std::memcpy(centre, c, sizeof centre);
  debugf("%s   local object centre : %f %f %f\n", indent_text(run.hierarchy_level),
         static_cast<double>(centre[0]), static_cast<double>(centre[1]),
         static_cast<double>(centre[2]));

  if (options.is_set(opt_data_comments)) {
    if (const char *data = mo_object_get_data(object)) write_data_comment(run, object, type, data);
  }
  const SurfaceKinds kinds = count_surfaces(run, object, type, contents.surfaces, z_sign);

  // The Frame and its matrix, relative to the enclosing Frame.
  const bool has_frame = writes_frame(options, type, contents.child_count, kinds);
  if (has_frame) {
    run.out.puts("\nFrame ");
    write_label(run, object, type, LabelKind::frame);
    run.out.puts(" {\n");
    write_matrix(run.out, NumberForm(options), centre, offset, z_sign);
  }
  if (type == MO_OBJ_POLYGON && contents.vertex_count > 0 && kinds.polygons > 0 &&
      has_loadable_face(object, options) &&
      !write_mesh(run, object, type, contents.child_count == 0, offset)) {
    return false;
  }

  // What the children need.  Without a Frame of its own (lines only, a
  // light) the innermost enclosing Frame is still the one this object was
  // placed in, so its children are placed there too.
  const float *child_offset = (!options.is_set(opt_no_frames) && !has_frame) ? offset : centre;
  std::memcpy(open->child_offset, child_offset, sizeof open->child_offset);
  open->next_child = contents.children;
  open->own_number = own_number;
  open->child_number = 0;
  open->has_frame = has_frame;
  return true;
}

void walk(ExportRun &run, mo_object *root, const float offset[3], int own_number,
          int parent_number) {
  std::vector<OpenObject> open;
  OpenObject entered;
  if (!enter_object(run, root, offset, own_number, parent_number, &entered)) return;
  open.push_back(entered);

  while (!open.empty()) {
    OpenObject &top = open.back();
    if (top.next_child != nullptr) {
      // The next child, with this object's own number as its parent's.
      auto *child = static_cast<mo_object *>(top.next_child->item);
      top.next_child = top.next_child->next;
      int number = top.child_number;
      if (mo_object_get_type(child) != MO_OBJ_LIGHT) ++top.child_number;
      float child_offset[3];
      std::memcpy(child_offset, top.child_offset, sizeof child_offset);
      if (!enter_object(run, child, child_offset, number, top.own_number, &entered)) return;
      open.push_back(entered);  // `top` is not used after this
      continue;
    }
    // The object is done.
    if (top.has_frame) run.out.puts("\n}\n");
    --run.hierarchy_level;
    open.pop_back();
    // Back in the parent, after its child: a cancel or a failure stops
    // every level at once.
    if (!run.running()) return;
  }
}

}  // namespace

void write_object(ExportRun &run, mo_object *object, const float offset[3], int own_number,
                  int parent_number) {
  try {
    walk(run, object, offset, own_number, parent_number);
  } catch (const std::bad_alloc &) {
    // Only the walk's own stack allocates; the host is never left in a call.
    run.fail_out_of_memory();
  }
}

}  // namespace qel
