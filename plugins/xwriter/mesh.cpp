/*
 * The mesh writer: the body of one Mesh block.
 *
 * It works on the mesh surfaces (mesh_surfaces.cpp): the object's
 * polygons, triangulated and with flipped two-sided copies as the run's
 * options say.  Texture coordinates and normals are read as the run's
 * options settle them (a VertexForm).  A vertex table lists the surface vertices and merges equal
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
 * Ownership: everything a mesh holds belongs to its MeshWork
 * (mesh_work.h), which gives it back on every path.
 */
#include "xwriter/mesh.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/export_run.h"
#include "core/output.h"
#include "xwriter/material_list.h"
#include "xwriter/mesh_work.h"
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

void show(const char *text) { display_message("%s", text); }

// The share of the run's surface vertices handled so far, 0 to 100.
int progress_percent(const ExportRun &run) {
  if (run.surface_vertex_total <= 0) return 100;
  const int64_t percent =
      static_cast<int64_t>(run.surface_vertex_done) * 100 / run.surface_vertex_total;
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
void write_faces(Output &out, const SurfaceArray &mesh, const VertexTable &table, bool winding) {
  constexpr int32_t kFaceInOneGo = 8;
  static_assert((kFaceInOneGo + 1) * (Output::kIntegerMax + 1) + 2 <= Output::kMaxDirect,
                "a small face fits one reservation");
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

bool poll_duplication(ExportRun &run, int32_t number) {
  char text[96];
  std::snprintf(text, sizeof text, "Export X File - Mesh Vert. Duplication Indices ( %d ) ...",
                static_cast<int>(number));
  return run.cancel_poll(text);
}

// The vertex table, merged under opt_optimize_vertices.  The places of the
// object's vertices, when they stand at equal steps, spare the merge and
// the duplication list their hashes.  False when the run stopped.
bool list_vertices(MeshWork &mesh) {
  ExportRun &run = mesh.run;
  mesh.optimize = run.options.is_set(opt_optimize_vertices);
  mesh.duplication = run.options.is_set(opt_duplication_indices);
  mesh.placed = (mesh.optimize || mesh.duplication) &&
                mesh.places.measure(mesh.contents.vertices, mesh.contents.vertex_count);
  if (!vertex_table_build(run, mesh.table, mesh.surfaces.items, mesh.surfaces.count,
                          static_cast<int32_t>(mesh.row_count), mesh.vertex_form,
                          mesh.placed ? &mesh.places : nullptr)) {
    run.fail_out_of_memory();
    return false;
  }
  // A cancel seen while building is still set and is seen again here.  A
  // table cut short is never written from, whatever the poll says.
  if (run.cancel_poll(nullptr) || mesh.table.cut_short) {
    run.abort_sequence();
    return false;
  }
  return true;
}

// Everything before the first block: the mesh surfaces, the trace line
// and the vertex table.  False when the run stopped.
bool prepare_mesh(MeshWork &mesh) {
  object_calc_normals_force(mesh.object);
  mesh.contents = contents_of(mesh.object);
  if (!build_mesh_surfaces(mesh)) {
    mesh.run.fail_out_of_memory();
    return false;
  }
  const char *indent = indent_text(mesh.run.hierarchy_level);
  // The trace keeps the name it has always given the mesh body.
  debugf(
      "\n%s   'x_output_surface_vertices' :\n"
      "%s      Objekt : %d Vertices, %d Kids, %d Surfaces -> %d S-Vertices\n",
      indent, indent, mesh.contents.vertex_count, mesh.contents.child_count, mesh.surfaces.count,
      static_cast<int>(mesh.row_count));
  mesh.z_sign = mesh.run.options.is_set(opt_z_axis) ? 1.0f : -1.0f;
  return list_vertices(mesh);
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
      mesh.run.fail_out_of_memory();
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
bool write_vertices(MeshWork &mesh) {
  ExportRun &run = mesh.run;
  Output &out = run.out;
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
        ++run.written_vertex_total;
        if (duplication && !mesh.first_written.note(v, row.written_index)) {
          run.fail_out_of_memory();
          return false;
        }
      }
      if (++run.surface_vertex_done % 1000 == 0) {
        set_progress_bar(progress_percent(run));
        if (run.cancel_poll(kMeshVerticesText)) {
          run.abort_sequence();
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
void write_faces_block(const MeshWork &mesh) {
  Output &out = mesh.run.out;
  show(kMeshSurfacesText);
  int faces = 0;
  for (int32_t s = 0; s < mesh.surfaces.count; ++s) faces += mesh.surfaces.items[s].polygon ? 1 : 0;
  out.printf("\n%d;\n", faces);
  write_faces(out, mesh.surfaces, mesh.table, mesh.run.options.is_set(opt_winding));
}

// The MeshMaterialList block.  False when the run failed.
bool write_material_block(const MeshWork &mesh) {
  show(kMeshMaterialsText);
  return write_mesh_material_list(mesh.run, mesh.object, mesh.surfaces.items, mesh.surfaces.count);
}

// The MeshTextureCoords block: u and v of every written surface vertex,
// repeated and offset as the object's texture says, v counted from the top.
void write_texture_coords(const MeshWork &mesh) {
  Output &out = mesh.run.out;
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
void write_normals(const MeshWork &mesh) {
  Output &out = mesh.run.out;
  const Options &options = mesh.run.options;
  show(kMeshNormalsText);
  const float normal_sign = (options.is_set(opt_flip_normals) ? -1.0f : 1.0f) *
                            (options.is_set(opt_winding) ? -1.0f : 1.0f);
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
  write_faces(out, mesh.surfaces, mesh.table, options.is_set(opt_winding));
  out.puts("}\n\n");
}

// The VertexDuplicationIndices block: for every written surface vertex the
// first written index of its host vertex.  The count of distinct host
// vertices is polled first as the walk of the list would poll (every 100
// entries, with the entries left), then the walk polls every 100 surfaces.
// False when the run stopped.
bool write_duplication_indices(const MeshWork &mesh) {
  ExportRun &run = mesh.run;
  Output &out = run.out;
  show(kDuplicationText);
  const FirstWritten &first_written = mesh.first_written;
  const int32_t length = first_written.length();
  for (int32_t j = 0; j < length; j += 100) {
    if (poll_duplication(run, length - j)) {
      run.abort_sequence();
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
      [&] { return ++surfaces_done % 100 != 0 || !poll_duplication(run, surfaces_done); });
  if (!completed) {
    run.abort_sequence();
    return false;
  }
  out.puts(";\n}\n");
  return true;
}

}  // namespace

void write_mesh_body(ExportRun &run, mo_object *object, const float offset[3]) {
  if (object == nullptr || !run.running()) return;
  MeshWork mesh(run, written_form(object, run.options), offset);
  if (!prepare_mesh(mesh) || !write_vertices(mesh)) return;
  write_faces_block(mesh);
  if (run.options.is_set(opt_materials) && !write_material_block(mesh)) return;
  if (mesh.with_textures) write_texture_coords(mesh);
  if (mesh.with_normals) write_normals(mesh);
  if (mesh.duplication) write_duplication_indices(mesh);
}

}  // namespace qel
