/*
 * The mesh writer: the body of one Mesh block.
 *
 * It works on the mesh surfaces: the object's polygons, each triangulated
 * under opt_triangulate and preceded by a flipped copy of each two-sided
 * piece under opt_two_sided.  Only pieces that must differ from the model
 * are copies (triangles, flipped pieces, and under opt_surface_shading a
 * flat piece whose surface vertices take its own normal); the others are
 * the model's own surfaces, read and never changed.  Texture coordinates
 * and normals are read as the export's options settle them (a
 * VertexForm).  A vertex table lists the surface vertices and merges equal
 * ones under opt_optimize_vertices, and the blocks are written in their
 * fixed order, one function each: write_vertices, write_faces_block, the
 * material list, write_texture_coords, write_normals and
 * write_duplication_indices, after prepare_mesh.  Each block is streamed
 * while it is computed; each step reports whether the export goes on.
 *
 * Every per-vertex block walks the surfaces in list order and each surface's
 * positions from last to first.  The row of position k of a surface is its
 * base (the vertex counts of the surfaces before it) plus k, so the walks
 * read the surface vertices straight from the table's rows: no list walk,
 * no lookup per vertex.
 *
 * Ownership: everything a mesh holds (the surface copies, the array, the
 * vertex table, the duplication list, the written list) belongs to its
 * MeshWork, whose members give it back on every path: normal end, the four
 * cancel points, and a failed allocation.
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
#include "xwriter/host_object.h"
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

// The mesh surfaces in mesh order, in host memory.
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
// or first to last under opt_winding; each the written index of its row.
// Without opt_optimize_vertices that index is base + (n - 1 - k), which is
// what the vertex block gave the row.  A face of up to kFaceInOneGo corners is laid
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

// Everything one mesh holds while its body is written, and the choices of
// the export it is written under.  The one owner of the mesh's memory:
// its members give every copy, list and table back on every path.
struct MeshWork {
  MeshWork(mo_object *written, const float *written_offset)
      : object(written), offset(written_offset) {}

  mo_object *object;     // the written form of the object
  const float *offset;   // subtracted from every position
  ObjectContents contents;
  bool with_textures = false;
  bool surface_shading = false;
  bool with_normals = false;
  bool any_own_normal = false;
  bool optimize = false;
  bool duplication = false;
  bool placed = false;  // `places` were measured
  int64_t row_count = 0;
  float z_sign = -1.0f;
  NumberForm form;

  SurfaceList copies;     // the surfaces the mesh made; the array points into them
  SurfaceArray surfaces;  // the mesh surfaces
  int64_t surface_room = 0;  // the items the array has room for
  VertexForm vertex_form;
  VertexPlaces places;
  VertexTable table;
  FirstWritten first_written;
  WrittenList written;
};

// A copy of `source` that the mesh owns; null when the host has no memory.
mo_surface *own_copy(MeshWork &mesh, mo_surface *source) {
  mo_surface *copy = surface_clone(source, mesh.object);
  if (copy != nullptr) list_add_item(&mesh.copies.head, copy);
  return copy;
}

// Room in the array for `more` surfaces beyond those in it.
bool make_room(MeshWork &mesh, int64_t more) {
  const int64_t needed = mesh.surfaces.count + more;
  if (needed <= mesh.surface_room) return true;
  if (needed > INT32_MAX) return false;
  const int64_t room = std::min<int64_t>(std::max(needed, 2 * mesh.surface_room), INT32_MAX);
  if (!mesh.surfaces.reallocate(static_cast<std::size_t>(room))) return false;
  mesh.surface_room = room;
  return true;
}

// Puts a piece in slot `slot` of the array.  Under opt_surface_shading and
// opt_normals a flat piece's surface vertices take its own normal, in a
// copy when the piece is the model's (not `owned`).
bool place(MeshWork &mesh, int32_t slot, mo_surface *piece, bool owned) {
  const bool own_normal = mesh.surface_shading && surface_get_shading(piece) == 0;
  if (own_normal && mesh.with_normals) {
    if (!owned && (piece = own_copy(mesh, piece)) == nullptr) return false;
    for (mo_list_node *node = piece->svertices; node != nullptr; node = node->next) {
      std::memcpy(static_cast<mo_svertex *>(node->item)->normal, piece->normal, sizeof piece->normal);
    }
  }
  mesh.surfaces.items[slot] = MeshSurface{piece, piece->vertex_count, piece->material,
                                          surface_get_type(piece) == MO_SURF_POLYGON, own_normal};
  return true;
}

// Calls piece(surface) for each piece of a polygon: each triangle of
// `triangles` when there are any, else the polygon itself; stops at the
// first false.
template <typename Piece>
bool each_piece(mo_surface *polygon, mo_list triangles, bool triangulated, Piece piece) {
  if (!triangulated) return piece(polygon);
  for (mo_list_node *node = triangles; node != nullptr; node = node->next) {
    auto *triangle = static_cast<mo_surface *>(node->item);
    if (triangle != nullptr && !piece(triangle)) return false;
  }
  return true;
}

// Appends the pieces of one polygon: its triangles under opt_triangulate
// (when it has more than three corners), else itself; under opt_two_sided
// each two-sided piece's flipped copy comes first, in reverse order (of
// two-sided pieces P1, P2: flipped P2, flipped P1, P1, P2).  False when the
// host has no memory.
bool add_pieces(MeshWork &mesh, mo_surface *polygon, bool triangulate, bool two_sided) {
  const bool triangulated = polygon->vertex_count > 3 && triangulate;
  SurfaceList triangles;  // handed to the mesh's copies at the end
  if (triangulated) triangles.head = surface_get_triangulations(polygon);
  int32_t pieces = 0;
  int32_t flipped = 0;
  each_piece(polygon, triangles.head, triangulated, [&](mo_surface *piece) {
    ++pieces;
    if (two_sided && surface_get_twosided(piece) == 1) ++flipped;
    return true;
  });
  if (!make_room(mesh, int64_t{pieces} + flipped)) return false;
  const int32_t start = mesh.surfaces.count;
  int32_t flips_placed = 0;
  int32_t pieces_placed = 0;
  const bool complete =
      each_piece(polygon, triangles.head, triangulated, [&](mo_surface *piece) {
        if (two_sided && surface_get_twosided(piece) == 1) {
          mo_surface *copy = own_copy(mesh, piece);
          if (copy == nullptr) return false;
          flip_surface(copy);
          if (!place(mesh, start + flipped - 1 - flips_placed++, copy, true)) return false;
        }
        return place(mesh, start + flipped + pieces_placed++, piece, triangulated);
      });
  if (!complete) return false;
  mesh.surfaces.count = start + flipped + pieces;
  if (triangles.head != nullptr) list_append_list(&mesh.copies.head, triangles.release());
  return true;
}

// A surface of the object that goes into the mesh: a polygon of three or
// more corners.
bool is_mesh_polygon(mo_surface *surface) {
  return surface != nullptr && surface_get_type(surface) == MO_SURF_POLYGON &&
         surface->vertex_count >= 3;
}

// The mesh surfaces, the vertex form and the row count.  False when the
// run failed (out of memory).
bool build_mesh_surfaces(MeshWork &mesh) {
  const bool triangulate = option_is_set(opt_triangulate);
  const bool two_sided = option_is_set(opt_two_sided);
  mesh.with_textures = option_is_set(opt_textures) && option_is_set(opt_materials) &&
                       object_texture_id(mesh.object) >= 0;
  mesh.surface_shading = option_is_set(opt_surface_shading);
  mesh.with_normals = option_is_set(opt_normals);
  mesh.vertex_form = VertexForm(
      !mesh.with_textures,
      !mesh.surface_shading
          ? VertexForm::Normals::as_held
          : (mesh.with_normals ? VertexForm::Normals::rounded : VertexForm::Normals::zeroed));

  // Room for what the polygons give when a triangulation gives n - 2
  // triangles; the array grows should it give more.
  int64_t expected = 0;
  for (mo_list_node *node = mesh.contents.surfaces; node != nullptr; node = node->next) {
    auto *surface = static_cast<mo_surface *>(node->item);
    if (!is_mesh_polygon(surface)) continue;
    const int64_t pieces = surface->vertex_count > 3 && triangulate ? surface->vertex_count - 2 : 1;
    expected += two_sided && surface_get_twosided(surface) == 1 ? 2 * pieces : pieces;
  }
  if (!make_room(mesh, expected)) return false;

  for (mo_list_node *node = mesh.contents.surfaces; node != nullptr; node = node->next) {
    auto *surface = static_cast<mo_surface *>(node->item);
    if (!is_mesh_polygon(surface)) continue;
    if (!add_pieces(mesh, surface, triangulate, two_sided)) return false;
  }
  for (int32_t s = 0; s < mesh.surfaces.count; ++s) {
    mesh.row_count += mesh.surfaces.items[s].vertex_count;
    mesh.any_own_normal = mesh.any_own_normal || mesh.surfaces.items[s].own_normal;
  }
  return mesh.row_count <= INT32_MAX;
}

// The vertex table, merged under opt_optimize_vertices.  The places of the
// object's vertices, when they stand at equal steps, spare the merge and
// the duplication list their hashes.  False when the run stopped.
bool list_vertices(Output &out, MeshWork &mesh) {
  mesh.optimize = option_is_set(opt_optimize_vertices);
  mesh.duplication = option_is_set(opt_duplication_indices);
  mesh.placed = (mesh.optimize || mesh.duplication) &&
                mesh.places.measure(mesh.contents.vertices, mesh.contents.vertex_count);
  if (!vertex_table_build(mesh.table, mesh.surfaces.items, mesh.surfaces.count,
                          static_cast<int32_t>(mesh.row_count), mesh.vertex_form,
                          mesh.placed ? &mesh.places : nullptr)) {
    export_fail_out_of_memory();
    return false;
  }
  // A cancel seen while building is still set and is seen again here.  A
  // table cut short is never written from, whatever the poll says.
  if (cancel_poll(nullptr) || mesh.table.cut_short) {
    abort_sequence(out);
    return false;
  }
  return true;
}

// Everything before the first block: the mesh surfaces, the trace line
// and the vertex table.  False when the run stopped.
bool prepare_mesh(Output &out, MeshWork &mesh) {
  object_calc_normals_force(mesh.object);
  mesh.contents = contents_of(mesh.object);
  if (!build_mesh_surfaces(mesh)) {
    export_fail_out_of_memory();
    return false;
  }
  const char *indent = indent_text(export_state().hierarchy_level);
  debugf(
      "\n%s   'x_output_surface_vertices' :\n"
      "%s      Objekt : %d Vertices, %d Kids, %d Surfaces -> %d S-Vertices\n",
      indent, indent, mesh.contents.vertex_count, mesh.contents.child_count, mesh.surfaces.count,
      static_cast<int>(mesh.row_count));
  mesh.z_sign = option_is_set(opt_z_axis) ? 1.0f : -1.0f;
  return list_vertices(out, mesh);
}

// Room for the duplication list and the written list, before the vertex
// block fills them.  The written list only serves the later blocks that can
// use it (a surface that writes its own normal needs the walk of the
// normals block); without memory for it they walk the rows.  False when
// the run failed.
bool reserve_vertex_lists(MeshWork &mesh) {
  const int32_t remaining = mesh.table.remaining_count;
  if (mesh.duplication) {
    const int32_t vertex_count = mesh.contents.vertex_count;
    const int32_t expected =
        vertex_count > 0 && vertex_count < remaining ? vertex_count : remaining;
    if (!mesh.first_written.reserve(expected, mesh.placed ? &mesh.places : nullptr)) {
      export_fail_out_of_memory();
      return false;
    }
  }
  if ((mesh.with_textures || (mesh.with_normals && !mesh.any_own_normal)) && remaining > 0) {
    mesh.written.allocate(static_cast<std::size_t>(remaining));
  }
  return true;
}

// The vertex block: the count, then the position of every written surface
// vertex, each row given its written index.  Polls every 1000 surface
// vertices.  False when the run stopped.
bool write_vertices(Output &out, MeshWork &mesh) {
  ExportState &state = export_state();
  show(kMeshVerticesText);
  const int32_t remaining = mesh.table.remaining_count;
  out.integer(remaining);
  out.put(';');
  if (!reserve_vertex_lists(mesh)) return false;
  const bool optimize = mesh.optimize;
  const bool duplication = mesh.duplication;
  const float *const offset = mesh.offset;
  const float z_sign = mesh.z_sign;
  const NumberForm form = mesh.form;
  WrittenList &written_list = mesh.written;
  const MeshSurface *const surfaces = mesh.surfaces.items;
  const int32_t surface_count = mesh.surfaces.count;
  VertexRow *const rows = mesh.table.rows;
  int32_t written = 0;
  int32_t base = 0;
  for (int32_t s = 0; s < surface_count; ++s) {
    const int32_t n = surfaces[s].vertex_count;
    for (int32_t k = n - 1; k >= 0; --k) {
      VertexRow &row = rows[base + k];
      if (!optimize || row.merged_into == -1) {
        const mo_vertex *v = row.svertex->vertex;
        const float position[3] = {v->x - offset[0], v->y - offset[1], z_sign * (v->z - offset[2])};
        write_number_line(out, form, written == 0, position);
        if (written_list.items != nullptr && written < remaining) {
          written_list.items[written_list.count++] = row.svertex;
        }
        row.written_index = written++;
        ++state.written_vertex_total;
        if (duplication && !mesh.first_written.note(v, row.written_index)) {
          export_fail_out_of_memory();
          return false;
        }
      }
      if (++state.surface_vertex_done % 1000 == 0) {
        set_progress_bar(progress_percent(state));
        if (cancel_poll(kMeshVerticesText)) {
          abort_sequence(out);
          return false;
        }
      }
    }
    base += n;
  }
  out.puts(";\n");
  vertex_table_resolve(mesh.table);
  return true;
}

// The faces block: the count of faces, then each face.
void write_faces_block(Output &out, const MeshWork &mesh) {
  show(kMeshSurfacesText);
  int faces = 0;
  for (int32_t s = 0; s < mesh.surfaces.count; ++s) faces += mesh.surfaces.items[s].polygon ? 1 : 0;
  out.printf("\n%d;\n", faces);
  write_faces(out, mesh.surfaces, mesh.table);
}

// The MeshMaterialList block.  False when the run failed.
bool write_material_block(Output &out, const MeshWork &mesh) {
  show(kMeshMaterialsText);
  return write_mesh_material_list(out, mesh.object, mesh.surfaces.items, mesh.surfaces.count);
}

// The MeshTextureCoords block: u and v of every written surface vertex,
// repeated and offset as the object's texture says, v counted from the top.
void write_texture_coords(Output &out, const MeshWork &mesh) {
  show(kTextureCoordsText);
  const float repeat_x = mo_object_get_texture_repeat_x(mesh.object);
  const float repeat_y = mo_object_get_texture_repeat_y(mesh.object);
  const float offset_x = mo_object_get_texture_offset_x(mesh.object);
  const float offset_y = mo_object_get_texture_offset_y(mesh.object);
  out.printf("\nMeshTextureCoords {\n%d;", mesh.table.remaining_count);
  int32_t item = 0;
  const NumberForm form = mesh.form;
  each_written(mesh.written, mesh.surfaces, mesh.table, mesh.optimize,
               [&](const MeshSurface *, const mo_svertex *sv) {
                 const float uv[2] = {offset_x + sv->u * repeat_x,
                                      offset_y + (1.0f - sv->v) * repeat_y};
                 write_number_line(out, form, item++ == 0, uv);
               });
  out.puts(";\n}\n");
}

// The MeshNormals block: the normal of every written surface vertex (a
// flat surface's own under opt_surface_shading), signed by opt_flip_normals
// and opt_winding, then the faces again.
void write_normals(Output &out, const MeshWork &mesh) {
  show(kMeshNormalsText);
  const float normal_sign = (option_is_set(opt_flip_normals) ? -1.0f : 1.0f) *
                            (option_is_set(opt_winding) ? -1.0f : 1.0f);
  const float z_sign = mesh.z_sign;
  const NumberForm form = mesh.form;
  const VertexForm vertex_form = mesh.vertex_form;
  out.printf("\nMeshNormals{\n%d;", mesh.table.remaining_count);
  int32_t item = 0;
  const WrittenList walk_the_rows;
  const WrittenList &list = mesh.any_own_normal ? walk_the_rows : mesh.written;
  each_written(list, mesh.surfaces, mesh.table, mesh.optimize,
               [&](const MeshSurface *surface, const mo_svertex *sv) {
                 float normal[3];
                 if (surface != nullptr && surface->own_normal) {
                   std::memcpy(normal, surface->surface->normal, sizeof normal);
                 } else {
                   for (int c = 0; c < 3; ++c) normal[c] = vertex_form.normal(sv, c);
                 }
                 const float written_normal[3] = {normal_sign * normal[0], normal_sign * normal[1],
                                                  normal_sign * z_sign * normal[2]};
                 write_number_line(out, form, item++ == 0, written_normal);
               });
  out.puts(";\n");
  out.printf("\n%d;\n", mesh.surfaces.count);
  write_faces(out, mesh.surfaces, mesh.table);
  out.puts("}\n\n");
}

// The VertexDuplicationIndices block: for every written surface vertex the
// first written index of its host vertex.  The count of distinct host
// vertices is polled first as the walk of the list would poll (every 100
// entries, with the entries left), then the walk polls every 100 surfaces.
// False when the run stopped.
bool write_duplication_indices(Output &out, const MeshWork &mesh) {
  show(kDuplicationText);
  const FirstWritten &first_written = mesh.first_written;
  const int32_t length = first_written.length();
  for (int32_t j = 0; j < length; j += 100) {
    if (poll_duplication(length - j)) {
      abort_sequence(out);
      return false;
    }
  }
  out.printf("VertexDuplicationIndices {\n%d;\n%d;", mesh.table.remaining_count,
             first_written.count());
  int32_t item = 0;
  int32_t surfaces_done = 0;
  const bool completed = walk_written(
      mesh.surfaces, mesh.table, mesh.optimize,
      [&](const MeshSurface &, const VertexRow &row) {
        if (item++ > 0) out.put(',');
        out.put('\n');
        out.integer(first_written.find(row.svertex->vertex));
      },
      [&] { return ++surfaces_done % 100 != 0 || !poll_duplication(surfaces_done); });
  if (!completed) {
    abort_sequence(out);
    return false;
  }
  out.puts(";\n}\n");
  return true;
}

}  // namespace

void x_output_surface_vertices(Output &out, mo_object *object, const float offset[3]) {
  if (object == nullptr || export_state().status != RunStatus::running) return;
  MeshWork mesh(written_form(object), offset);
  if (!prepare_mesh(out, mesh) || !write_vertices(out, mesh)) return;
  write_faces_block(out, mesh);
  if (option_is_set(opt_materials) && !write_material_block(out, mesh)) return;
  if (mesh.with_textures) write_texture_coords(out, mesh);
  if (mesh.with_normals) write_normals(out, mesh);
  if (mesh.duplication) write_duplication_indices(out, mesh);
}

}  // namespace qel
