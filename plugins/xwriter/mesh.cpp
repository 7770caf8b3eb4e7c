/*
 * The mesh writer: the body of one Mesh block.
 *
 * It works on copies of the object's polygon surfaces (triangulated with
 * option 9, a flipped copy ahead of each two-sided piece with option 22),
 * lists their surface vertices in a vertex table that merges equal ones
 * with option 23, and writes the blocks in their fixed order: vertices,
 * faces, material list, texture coordinates, normals, duplication indices.
 * Each block is streamed while it is computed.
 *
 * Every per-vertex block walks the surfaces in list order and each surface's
 * positions from last to first.  The row of position k of a surface is its
 * base (the vertex counts of the surfaces before it) plus k, so the walks
 * read the surface vertices straight from the table's rows: no list walk,
 * no lookup per vertex.
 *
 * Ownership: the surface copies, the table and the map of first written
 * vertices belong to this one call and are freed by their owners' RAII on
 * every path: normal end, the four cancel points, and a failed allocation.
 */
#include "xwriter/mesh.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "binding/options.h"
#include "export/export_state.h"
#include "export/output.h"
#include "xwriter/first_written.h"
#include "xwriter/host_array.h"
#include "xwriter/material_list.h"
#include "xwriter/names.h"
#include "xwriter/numbers.h"
#include "xwriter/vertex_table.h"

namespace qel {

namespace {

const char kMeshVerticesText[] = "Export X File - Mesh Vertices ...";
const char kMeshSurfacesText[] = "Export X File - Mesh Surfaces ...";
const char kMeshMaterialsText[] = "Export X File - Mesh Materials ...";
const char kTextureCoordsText[] = "Export X File - Texture Coordinates ...";
const char kMeshNormalsText[] = "Export X File - Mesh Normals ...";
const char kDuplicationText[] = "Export X File - Mesh Vert. Duplication Indices ...";

// The step the normals are rounded to under option 12.
constexpr double kNormalStep = 0.000001;

// A host list of surface copies; the copies go with it.
class SurfaceList {
 public:
  SurfaceList() = default;
  ~SurfaceList() {
    if (head != nullptr) mo_surfacelist_free(head);
  }
  SurfaceList(const SurfaceList &) = delete;
  SurfaceList &operator=(const SurfaceList &) = delete;

  // Hands the list over (to list_append_list, which takes its nodes).
  mo_list release() {
    mo_list list = head;
    head = nullptr;
    return list;
  }

  mo_list head = nullptr;
};

// The mesh surfaces as read once, in host memory.
using SurfaceArray = HostArray<MeshSurface>;

// The surface vertices the vertex block wrote, in its order: the texture
// coordinate and normal blocks then read a short list instead of walking
// every row of the table again.  Only a speed aid: without memory for it
// (items null) those blocks walk the rows.
using WrittenList = HostArray<const mo_svertex *>;

void show(const char *text) { display_message("%s", text); }

float flip_sign(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  bits ^= 0x80000000u;
  std::memcpy(&value, &bits, sizeof bits);
  return value;
}

// The flipped copy of a two-sided piece: normals negated by their sign bit
// (so 0 becomes -0), vertex list reversed.  Texture coordinates stay.
void flip_surface(mo_surface *surface) {
  for (float &c : surface->normal) c = flip_sign(c);
  for (mo_list_node *node = surface->svertices; node != nullptr; node = node->next) {
    auto *sv = static_cast<mo_svertex *>(node->item);
    for (float &c : sv->normal) c = flip_sign(c);
  }
  list_reverse(&surface->svertices);
}

// Preparation step 3: the mesh surface list.  False when the host gave no
// copy (out of memory).
bool build_mesh_surfaces(mo_object *object, mo_list surfaces, SurfaceList &mesh) {
  const bool triangulate = option_is_set(opt_triangulate);
  const bool two_sided = option_is_set(opt_two_sided);
  for (mo_list_node *node = surfaces; node != nullptr; node = node->next) {
    auto *surface = static_cast<mo_surface *>(node->item);
    if (surface == nullptr || surface_get_type(surface) != MO_SURF_POLYGON) continue;
    if (surface->vertex_count < 3) continue;

    // 3.1 The pieces: triangles of a larger polygon, or one copy.  A lone
    // copy without a flipped one goes to the tail of the mesh list
    // straight away: the same list as appending a group of one.
    SurfaceList group;
    if (surface->vertex_count > 3 && triangulate) {
      group.head = surface_get_triangulations(surface);
    } else {
      mo_surface *copy = surface_clone(surface, object);
      if (copy == nullptr) return false;
      if (!two_sided || surface_get_twosided(copy) != 1) {
        list_add_item(&mesh.head, copy);
        continue;
      }
      list_add_item(&group.head, copy);
    }

    // 3.2 A flipped copy of each two-sided piece goes to the head of the
    // group; the walk goes on from the head the group had before.
    if (two_sided) {
      for (mo_list_node *piece = group.head; piece != nullptr; piece = piece->next) {
        auto *source = static_cast<mo_surface *>(piece->item);
        if (surface_get_twosided(source) != 1) continue;
        mo_surface *copy = surface_clone(source, object);
        if (copy == nullptr) return false;
        flip_surface(copy);
        list_add_item_head(&group.head, copy);
      }
    }

    // 3.3
    if (group.head != nullptr) list_append_list(&mesh.head, group.release());
  }
  return true;
}

// The share of the export's surface vertices handled so far, 0 to 100.
int progress_percent(const ExportState &state) {
  if (state.surface_vertex_total <= 0) return 100;
  const int64_t percent =
      static_cast<int64_t>(state.surface_vertex_done) * 100 / state.surface_vertex_total;
  return percent < 0 ? 0 : (percent > 100 ? 100 : static_cast<int>(percent));
}

// Calls vertex(surface, row) for every written surface vertex in the order
// of the vertex block, and after_surface() after each surface; the walk
// stops when after_surface returns false.
template <typename Vertex, typename AfterSurface>
bool walk_written(const SurfaceArray &mesh, const VertexTable &table, bool optimize, Vertex vertex,
                  AfterSurface after_surface) {
  int32_t base = 0;
  for (int32_t s = 0; s < mesh.count; ++s) {
    const MeshSurface &surface = mesh.items[s];
    const int32_t n = surface.vertex_count;
    for (int32_t k = n - 1; k >= 0; --k) {
      const VertexRow &row = table.rows[base + k];
      if (!optimize || row.merged_into == -1) vertex(surface, row);
    }
    base += n;
    if (!after_surface()) return false;
  }
  return true;
}

// The number form of the running export, read once per mesh: the
// per-vertex blocks lay out a whole line in the output buffer at once.
struct NumberForm {
  bool fixed;
  int places;

  NumberForm() : fixed(export_state().fixed_numbers != 0), places(export_state().decimal_places) {}
  char *put(char *p, float value) const { return format_number_to(p, value, fixed, places); }
};

static_assert(3 * kNumberTextMax + 8 <= Output::kMaxDirect, "a vertex line fits one reservation");

// Calls vertex(surface, sv) for every written surface vertex in the order
// of the vertex block: from the vertex block's list when there is one, else
// by walking the rows.  `surface` is the mesh surface of the vertex on the
// walk, null from the list.
template <typename Vertex>
void each_written(const WrittenList &written, const SurfaceArray &mesh, const VertexTable &table,
                  bool optimize, Vertex vertex) {
  if (written.items != nullptr) {
    for (int32_t w = 0; w < written.count; ++w) vertex(nullptr, written.items[w]);
    return;
  }
  walk_written(
      mesh, table, optimize,
      [&](const MeshSurface &surface, const VertexRow &row) { vertex(&surface, row.svertex); },
      [] { return true; });
}

// One line of a per-vertex block: "," before every item but the first,
// then "\n" and the numbers, each followed by ";".
template <std::size_t N>
void write_number_line(Output &out, const NumberForm &form, bool first, const float (&values)[N]) {
  static_assert(N * kNumberTextMax + 2 <= Output::kMaxDirect, "the line fits one reservation");
  char *const start = out.reserve_tail(N * kNumberTextMax + 2);
  char *p = start;
  if (!first) *p++ = ',';
  *p++ = '\n';
  for (const float value : values) {
    p = form.put(p, value);
    *p++ = ';';
  }
  out.commit_tail(static_cast<std::size_t>(p - start));
}

// One face per surface, by the face index rule: positions last to first,
// or first to last with option 11; each the written index of its row.
// Without option 23 that index is base + (n - 1 - k), which is what the
// vertex block gave the row.  A face of up to kFaceInOneGo corners is laid
// out in one reservation of the output buffer.
void write_faces(Output &out, const SurfaceArray &mesh, const VertexTable &table) {
  constexpr int32_t kFaceInOneGo = 8;
  static_assert((kFaceInOneGo + 1) * (Output::kIntegerMax + 1) + 2 <= Output::kMaxDirect,
                "a small face fits one reservation");
  const bool winding = option_is_set(opt_winding);
  int32_t base = 0;
  for (int32_t s = 0; s < mesh.count; ++s) {
    const bool last = s == mesh.count - 1;
    const int32_t n = mesh.items[s].vertex_count;
    const VertexRow *rows = table.rows + base;
    if (n <= kFaceInOneGo) {
      char *const start = out.reserve_tail(Output::kMaxDirect);
      char *p = Output::put_integer(start, n);
      *p++ = ';';
      for (int32_t i = 0; i < n; ++i) {
        const int32_t k = winding ? i : n - 1 - i;
        p = Output::put_integer(p, rows[k].written_index);
        *p++ = i == n - 1 ? ';' : ',';
      }
      *p++ = last ? ';' : ',';
      *p++ = '\n';
      out.commit_tail(static_cast<std::size_t>(p - start));
    } else {
      out.integer(n);
      out.put(';');
      for (int32_t i = 0; i < n; ++i) {
        const int32_t k = winding ? i : n - 1 - i;
        out.integer(rows[k].written_index);
        out.put(i == n - 1 ? ';' : ',');
      }
      out.puts(last ? ";\n" : ",\n");
    }
    base += n;
  }
}

bool poll_duplication(int32_t number) {
  char text[96];
  std::snprintf(text, sizeof text, "Export X File - Mesh Vert. Duplication Indices ( %d ) ...",
                static_cast<int>(number));
  return cancel_poll(text);
}

}  // namespace

void x_output_surface_vertices(Output &out, mo_object *object, const float offset[3]) {
  ExportState &state = export_state();
  if (object == nullptr || state.status != kExportRunning) return;

  // ---- Preparation ----

  // 1. The subdivided form stands in for the object throughout.
  if (option_is_set(opt_subdivision) && mo_object_is_subdivided(object)) {
    mo_object *subdivided = mo_object_get_subdivision(object);
    if (subdivided != nullptr) object = subdivided;
  }

  // 2.
  object_calc_normals_force(object);
  int vertex_count = 0;
  int object_surface_count = 0;
  int kid_count = 0;
  mo_list vertices = nullptr;
  mo_list surfaces = nullptr;
  mo_list kids = nullptr;
  mo_object_get_contents(object, &vertex_count, &object_surface_count, &kid_count, &vertices,
                         &surfaces, &kids);

  // 3.
  SurfaceList mesh;
  if (!build_mesh_surfaces(object, surfaces, mesh)) {
    export_fail_out_of_memory();
    return;
  }

  // 4.
  const int surface_count = list_count(mesh.head);
  SurfaceArray mesh_surfaces;
  if (!mesh_surfaces.allocate(surface_count > 0 ? static_cast<std::size_t>(surface_count) : 0)) {
    export_fail_out_of_memory();
    return;
  }

  // 5. to 7. Texture coordinates, shading, and the surface-vertex count.
  const int texture = object_texture_id(object);
  const bool with_textures =
      option_is_set(opt_textures) && option_is_set(opt_materials) && texture >= 0;
  const bool surface_shading = option_is_set(opt_surface_shading);
  const bool with_normals = option_is_set(opt_normals);
  int64_t row_count = 0;
  for (mo_list_node *node = mesh.head; node != nullptr; node = node->next) {
    auto *surface = static_cast<mo_surface *>(node->item);
    const bool flat_shaded = surface_shading && surface_get_shading(surface) == 0;
    const bool flat = flat_shaded && with_normals;
    if (mesh_surfaces.count < surface_count) {
      mesh_surfaces.items[mesh_surfaces.count++] =
          MeshSurface{surface, surface->vertex_count, surface->material,
                      surface_get_type(surface) == MO_SURF_POLYGON, flat_shaded};
    }
    for (mo_list_node *sv_node = surface->svertices; sv_node != nullptr; sv_node = sv_node->next) {
      auto *sv = static_cast<mo_svertex *>(sv_node->item);
      if (!with_textures) sv->u = sv->v = 0.0f;
      if (!surface_shading) continue;
      for (int c = 0; c < 3; ++c) {
        if (!with_normals) {
          sv->normal[c] = 0.0f;
        } else {
          const float component = flat ? surface->normal[c] : sv->normal[c];
          sv->normal[c] = static_cast<float>(round_to_step(component, kNormalStep));
        }
      }
    }
    row_count += surface->vertex_count;
  }
  if (row_count > INT32_MAX) {
    export_fail_out_of_memory();
    return;
  }

  // 8.
  const char *indent = indent_text(state.hierarchy_level);
  debugf(
      "\n%s   'x_output_surface_vertices' :\n"
      "%s      Objekt : %d Vertices, %d Kids, %d Surfaces -> %d S-Vertices\n",
      indent, indent, vertex_count, kid_count, surface_count, static_cast<int>(row_count));

  // 9.  The places of the object's vertices, when they stand at equal
  // steps, spare the merge and the duplication list their hashes.
  const bool optimize = option_is_set(opt_optimize_vertices);
  const bool duplication = option_is_set(opt_duplication_indices);
  VertexPlaces places;
  const bool placed = (optimize || duplication) && places.measure(vertices, vertex_count);
  VertexTable table;
  const VertexTableBuild built = vertex_table_build(table, mesh.head, static_cast<int32_t>(row_count),
                                                    placed ? &places : nullptr);
  if (built == VertexTableBuild::out_of_memory) {
    export_fail_out_of_memory();
    return;
  }

  // 10. A cancel seen while building is still set and is seen again here.
  // A table cut short is never written from, whatever the poll says.
  if (cancel_poll(nullptr) || built != VertexTableBuild::complete) {
    abort_sequence(out);
    return;
  }

  const float z_sign = option_is_set(opt_z_axis) ? 1.0f : -1.0f;
  const int32_t remaining = table.remaining_count;
  const NumberForm form;

  // ---- Vertex block ----
  show(kMeshVerticesText);
  out.integer(remaining);
  out.put(';');
  FirstWritten first_written;
  if (duplication) {
    const int32_t expected =
        vertex_count > 0 && vertex_count < remaining ? vertex_count : remaining;
    if (!first_written.reserve(expected, placed ? &places : nullptr)) {
      export_fail_out_of_memory();
      return;
    }
  }
  // The list for the later blocks, when they can use it: a surface that
  // writes its own normal needs the walk of the normals block.
  bool any_own_normal = false;
  for (int32_t s = 0; s < mesh_surfaces.count; ++s) {
    any_own_normal = any_own_normal || mesh_surfaces.items[s].own_normal;
  }
  WrittenList written_list;
  if ((with_textures || (with_normals && !any_own_normal)) && remaining > 0) {
    written_list.allocate(static_cast<std::size_t>(remaining));
  }
  int32_t written = 0;
  int32_t base = 0;
  for (int32_t s = 0; s < mesh_surfaces.count; ++s) {
    const int32_t n = mesh_surfaces.items[s].vertex_count;
    for (int32_t k = n - 1; k >= 0; --k) {
      VertexRow &row = table.rows[base + k];
      if (!optimize || row.merged_into == -1) {
        const mo_vertex *v = row.svertex->vertex;
        const float position[3] = {v->x - offset[0], v->y - offset[1], z_sign * (v->z - offset[2])};
        write_number_line(out, form, written == 0, position);
        if (written_list.items != nullptr && written < remaining) {
          written_list.items[written_list.count++] = row.svertex;
        }
        row.written_index = written++;
        ++state.written_vertex_total;
        if (duplication && !first_written.note(v, row.written_index)) {
          export_fail_out_of_memory();
          return;
        }
      }
      if (++state.surface_vertex_done % 1000 == 0) {
        set_progress_bar(progress_percent(state));
        if (cancel_poll(kMeshVerticesText)) {
          abort_sequence(out);
          return;
        }
      }
    }
    base += n;
  }
  out.puts(";\n");
  vertex_table_resolve(table);

  // ---- Faces ----
  show(kMeshSurfacesText);
  int faces = 0;
  for (int32_t s = 0; s < mesh_surfaces.count; ++s) faces += mesh_surfaces.items[s].polygon ? 1 : 0;
  out.printf("\n%d;\n", faces);
  write_faces(out, mesh_surfaces, table);

  // ---- Material list ----
  if (option_is_set(opt_materials)) {
    show(kMeshMaterialsText);
    if (!write_mesh_material_list(out, object, mesh_surfaces.items, mesh_surfaces.count)) return;
  }

  // ---- Texture coordinates ----
  if (with_textures) {
    show(kTextureCoordsText);
    const float repeat_x = mo_object_get_texture_repeat_x(object);
    const float repeat_y = mo_object_get_texture_repeat_y(object);
    const float offset_x = mo_object_get_texture_offset_x(object);
    const float offset_y = mo_object_get_texture_offset_y(object);
    out.printf("\nMeshTextureCoords {\n%d;", remaining);
    int32_t item = 0;
    each_written(written_list, mesh_surfaces, table, optimize,
                 [&](const MeshSurface *, const mo_svertex *sv) {
                   const float uv[2] = {offset_x + sv->u * repeat_x,
                                        offset_y + (1.0f - sv->v) * repeat_y};
                   write_number_line(out, form, item++ == 0, uv);
                 });
    out.puts(";\n}\n");
  }

  // ---- Normals ----
  if (with_normals) {
    show(kMeshNormalsText);
    const float normal_sign = (option_is_set(opt_flip_normals) ? -1.0f : 1.0f) *
                              (option_is_set(opt_winding) ? -1.0f : 1.0f);
    out.printf("\nMeshNormals{\n%d;", remaining);
    int32_t item = 0;
    const WrittenList walk_the_rows;
    const WrittenList &list = any_own_normal ? walk_the_rows : written_list;
    each_written(list, mesh_surfaces, table, optimize,
                 [&](const MeshSurface *surface, const mo_svertex *sv) {
                   // A flat surface under option 12 writes its own normal.
                   const float *normal = surface != nullptr && surface->own_normal
                                             ? surface->surface->normal
                                             : sv->normal;
                   const float written_normal[3] = {normal_sign * normal[0],
                                                    normal_sign * normal[1],
                                                    normal_sign * z_sign * normal[2]};
                   write_number_line(out, form, item++ == 0, written_normal);
                 });
    out.puts(";\n");
    out.printf("\n%d;\n", surface_count);
    write_faces(out, mesh_surfaces, table);
    out.puts("}\n\n");
  }

  // ---- Vertex duplication indices ----
  if (duplication) {
    show(kDuplicationText);
    // 2. The count of distinct host vertices, polled as the walk of the
    // list would poll: every 100 entries, with the entries left.
    const int32_t length = first_written.length();
    for (int32_t j = 0; j < length; j += 100) {
      if (poll_duplication(length - j)) {
        abort_sequence(out);
        return;
      }
    }
    // 3. and 4.
    out.printf("VertexDuplicationIndices {\n%d;\n%d;", remaining, first_written.count());
    int32_t item = 0;
    int32_t surfaces_done = 0;
    const bool completed = walk_written(
        mesh_surfaces, table, optimize,
        [&](const MeshSurface &, const VertexRow &row) {
          if (item++ > 0) out.put(',');
          out.put('\n');
          out.integer(first_written.find(row.svertex->vertex));
        },
        [&] { return ++surfaces_done % 100 != 0 || !poll_duplication(surfaces_done); });
    if (!completed) {
      abort_sequence(out);
      return;
    }
    // 5.
    out.puts(";\n}\n");
  }
}

}  // namespace qel
