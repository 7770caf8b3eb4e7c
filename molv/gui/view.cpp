/*
 * The 3D view's OpenGL side: the camera, the buffers on the GL side and the
 * Tcl commands of view.h.  Fixed-function OpenGL with vertex buffers: what
 * Mesa's software renderer and every driver since OpenGL 1.5 draw.
 */
#include "gui/view.h"

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <tk.h>
#include <togl.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gui/view_mesh.h"

namespace molv {
namespace gui {
namespace {

// The background of an empty view and around the model.
constexpr float kBackground[3] = {0.30f, 0.33f, 0.38f};
constexpr double kFieldOfView = 35.0;  // degrees, vertical
constexpr double kPi = 3.14159265358979323846;

// A mesh on the GL side: uploaded at the first redraw after it is set.
struct Drawn {
  ViewMesh mesh;             // the vertices are dropped once uploaded
  std::size_t vertex_count = 0;
  std::size_t edge_offset = 0;  // where the edges begin in the index buffer
  GLuint buffer = 0;
  GLuint index_buffer = 0;
  std::vector<GLuint> textures;  // per mesh.textures; 0 when it did not load
  bool uploaded = false;

  void release() {
    if (buffer != 0) glDeleteBuffers(1, &buffer);
    if (index_buffer != 0) glDeleteBuffers(1, &index_buffer);
    if (!textures.empty()) glDeleteTextures(static_cast<GLsizei>(textures.size()), textures.data());
    buffer = 0;
    index_buffer = 0;
    textures.clear();
  }
};

struct Camera {
  double target[3] = {0, 0, 0};
  double yaw = 30;     // degrees about the vertical axis
  double pitch = 20;   // degrees above the horizon
  double distance = 5;
  double radius = 1;   // of the model, for the clipping planes
};

struct View {
  Togl *togl = nullptr;
  std::unique_ptr<Drawn> model;
  std::unique_ptr<Drawn> file;
  // Buffers to free at the next redraw (the context is current only then).
  std::vector<std::unique_ptr<Drawn>> retired;
  Camera camera;
  std::string showing = "model";
  long selected = -1;
};

View g_view;

// The texture files as Tk photos read them (PNG, GIF, PPM; more with Img).
GLuint load_texture(Tcl_Interp *interp, const std::string &file) {
  Tcl_Obj *words[4] = {Tcl_NewStringObj("image", -1), Tcl_NewStringObj("create", -1),
                       Tcl_NewStringObj("photo", -1), Tcl_NewStringObj("-file", -1)};
  Tcl_Obj *command = Tcl_NewListObj(4, words);
  Tcl_ListObjAppendElement(nullptr, command, Tcl_NewStringObj(file.c_str(), -1));
  Tcl_IncrRefCount(command);
  const int code = Tcl_EvalObjEx(interp, command, TCL_EVAL_GLOBAL);
  Tcl_DecrRefCount(command);
  if (code != TCL_OK) {
    Tcl_ResetResult(interp);
    return 0;
  }
  const std::string photo = Tcl_GetStringResult(interp);
  GLuint texture = 0;
  Tk_PhotoHandle handle = Tk_FindPhoto(interp, photo.c_str());
  Tk_PhotoImageBlock block;
  if (handle != nullptr && Tk_PhotoGetImage(handle, &block) && block.width > 0 &&
      block.height > 0) {
    std::vector<unsigned char> rgba(static_cast<size_t>(block.width) * block.height * 4);
    // Rows from the bottom of the image up: t grows up the image.
    for (int y = 0; y < block.height; ++y) {
      const unsigned char *row = block.pixelPtr + (block.height - 1 - y) * block.pitch;
      for (int x = 0; x < block.width; ++x) {
        const unsigned char *pixel = row + x * block.pixelSize;
        unsigned char *out = &rgba[(static_cast<size_t>(y) * block.width + x) * 4];
        for (int c = 0; c < 4; ++c)
          out[c] = block.offset[c] < block.pixelSize ? pixel[block.offset[c]] : 255;
      }
    }
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, GL_TRUE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, block.width, block.height, 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, rgba.data());
  }
  Tcl_Eval(interp, ("image delete " + photo).c_str());
  Tcl_ResetResult(interp);
  return texture;
}

void upload(Tcl_Interp *interp, Drawn *drawn) {
  drawn->uploaded = true;
  drawn->vertex_count = drawn->mesh.vertices.size();
  if (drawn->vertex_count != 0) {
    glGenBuffers(1, &drawn->buffer);
    glBindBuffer(GL_ARRAY_BUFFER, drawn->buffer);
    glBufferData(GL_ARRAY_BUFFER,
                 static_cast<GLsizeiptr>(drawn->vertex_count * sizeof(ViewVertex)),
                 drawn->mesh.vertices.data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    // The triangles, then the edges of the outline.
    const std::vector<std::uint32_t> &indices = drawn->mesh.indices;
    const std::vector<std::uint32_t> &edges = drawn->mesh.edges;
    drawn->edge_offset = indices.size();
    glGenBuffers(1, &drawn->index_buffer);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, drawn->index_buffer);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER,
                 static_cast<GLsizeiptr>((indices.size() + edges.size()) * sizeof(std::uint32_t)),
                 nullptr, GL_STATIC_DRAW);
    glBufferSubData(GL_ELEMENT_ARRAY_BUFFER, 0,
                    static_cast<GLsizeiptr>(indices.size() * sizeof(std::uint32_t)),
                    indices.data());
    glBufferSubData(GL_ELEMENT_ARRAY_BUFFER,
                    static_cast<GLintptr>(indices.size() * sizeof(std::uint32_t)),
                    static_cast<GLsizeiptr>(edges.size() * sizeof(std::uint32_t)), edges.data());
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
  }
  // The buffers hold them now.
  std::vector<ViewVertex>().swap(drawn->mesh.vertices);
  std::vector<std::uint32_t>().swap(drawn->mesh.indices);
  std::vector<std::uint32_t>().swap(drawn->mesh.edges);
  for (const std::string &file : drawn->mesh.textures)
    drawn->textures.push_back(load_texture(interp, file));
}

void frame_camera(const Drawn *drawn) {
  Camera &c = g_view.camera;
  if (drawn == nullptr || (drawn->mesh.empty() && drawn->vertex_count == 0)) return;
  const ViewMesh &m = drawn->mesh;
  double radius = 0;
  for (int i = 0; i < 3; ++i) {
    c.target[i] = 0.5 * (static_cast<double>(m.min[i]) + m.max[i]);
    radius += std::pow(0.5 * (static_cast<double>(m.max[i]) - m.min[i]), 2);
  }
  radius = std::max(std::sqrt(radius), 1e-6);
  c.radius = radius;
  c.distance = radius / std::sin(kFieldOfView * kPi / 360.0) * 1.05;
}

void set_camera(int width, int height) {
  const Camera &c = g_view.camera;
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  const double aspect = height > 0 ? static_cast<double>(width) / height : 1.0;
  const double near_plane = std::max(c.distance - 2.5 * c.radius, c.distance * 1e-3);
  const double far_plane = c.distance + 2.5 * c.radius;
  // The whole model fits the shorter side.
  double top = near_plane * std::tan(kFieldOfView * kPi / 360.0);
  double right = top * aspect;
  if (aspect < 1.0) {
    right = top;
    top = right / aspect;
  }
  glFrustum(-right, right, -top, top, near_plane, far_plane);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  // A light from over the viewer's shoulder, fixed to the camera.
  const GLfloat light[4] = {0.35f, 0.5f, 1.0f, 0.0f};
  glLightfv(GL_LIGHT0, GL_POSITION, light);
  glTranslated(0, 0, -c.distance);
  glRotated(c.pitch, 1, 0, 0);
  glRotated(-c.yaw, 0, 1, 0);
  glTranslated(-c.target[0], -c.target[1], -c.target[2]);
}

void draw_range(GLenum what, std::size_t first, std::size_t count) {
  if (count != 0)
    glDrawElements(what, static_cast<GLsizei>(count), GL_UNSIGNED_INT,
                   reinterpret_cast<void *>(first * sizeof(std::uint32_t)));
}

void draw_mesh(const Drawn *drawn, bool highlight) {
  if (drawn == nullptr || drawn->buffer == 0) return;
  glBindBuffer(GL_ARRAY_BUFFER, drawn->buffer);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, drawn->index_buffer);
  const GLsizei stride = sizeof(ViewVertex);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_NORMAL_ARRAY);
  glEnableClientState(GL_COLOR_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glVertexPointer(3, GL_FLOAT, stride, reinterpret_cast<void *>(offsetof(ViewVertex, position)));
  glNormalPointer(GL_BYTE, stride, reinterpret_cast<void *>(offsetof(ViewVertex, normal)));
  glTexCoordPointer(2, GL_FLOAT, stride, reinterpret_cast<void *>(offsetof(ViewVertex, uv)));
  glColorPointer(4, GL_UNSIGNED_BYTE, stride, reinterpret_cast<void *>(offsetof(ViewVertex, colour)));
  glEnable(GL_POLYGON_OFFSET_FILL);
  glPolygonOffset(1.0f, 1.0f);
  for (const ViewPart &part : drawn->mesh.parts) {
    const GLuint texture =
        part.texture >= 0 && static_cast<size_t>(part.texture) < drawn->textures.size()
            ? drawn->textures[part.texture]
            : 0;
    if (texture != 0) {
      glEnable(GL_TEXTURE_2D);
      glBindTexture(GL_TEXTURE_2D, texture);
    }
    draw_range(GL_TRIANGLES, part.first, part.count);
    if (texture != 0) glDisable(GL_TEXTURE_2D);
  }
  glDisable(GL_POLYGON_OFFSET_FILL);
  const auto &subtree = drawn->mesh.subtree;
  if (highlight && g_view.selected > 0 &&
      static_cast<size_t>(g_view.selected) < subtree.size()) {
    // The selected object's edges in a light orange over its faces.
    const auto range = subtree[g_view.selected];
    glDisableClientState(GL_COLOR_ARRAY);
    glDisable(GL_LIGHTING);
    glColor3f(1.0f, 0.72f, 0.2f);
    draw_range(GL_LINES, drawn->edge_offset + range.first, range.second - range.first);
    glEnable(GL_LIGHTING);
  }
  glDisableClientState(GL_VERTEX_ARRAY);
  glDisableClientState(GL_NORMAL_ARRAY);
  glDisableClientState(GL_COLOR_ARRAY);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
}

void setup_state() {
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
  glEnable(GL_NORMALIZE);
  glEnable(GL_COLOR_MATERIAL);
  glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
  glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_TRUE);
  const GLfloat ambient[4] = {0.35f, 0.35f, 0.35f, 1.0f};
  const GLfloat diffuse[4] = {0.75f, 0.75f, 0.75f, 1.0f};
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
  glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
  glShadeModel(GL_SMOOTH);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
}

// Draws the view into the back buffer.
void render(Tcl_Interp *interp) {
  Togl *togl = g_view.togl;
  Togl_MakeCurrent(togl);
  for (auto &old : g_view.retired) old->release();
  g_view.retired.clear();
  // The export's buffers go up when it is first shown: a frame right
  // after its read-back would otherwise hold the window for the upload.
  Drawn *shown_file = g_view.showing != "model" ? g_view.file.get() : nullptr;
  for (Drawn *drawn : {g_view.model.get(), shown_file})
    if (drawn != nullptr && !drawn->uploaded) upload(interp, drawn);
  const int width = Togl_Width(togl);
  const int height = Togl_Height(togl);
  setup_state();
  glViewport(0, 0, width, height);
  glClearColor(kBackground[0], kBackground[1], kBackground[2], 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  if (g_view.showing == "both" && g_view.file != nullptr) {
    const int half = width / 2;
    glViewport(0, 0, half, height);
    set_camera(half, height);
    draw_mesh(g_view.model.get(), true);
    glViewport(half, 0, width - half, height);
    set_camera(width - half, height);
    draw_mesh(g_view.file.get(), false);
    // The line between the two.
    glViewport(0, 0, width, height);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glColor3f(0.85f, 0.85f, 0.85f);
    glBegin(GL_LINES);
    const float x = static_cast<float>(2.0 * half / width - 1.0);
    glVertex2f(x, -1.0f);
    glVertex2f(x, 1.0f);
    glEnd();
    return;
  }
  set_camera(width, height);
  const bool file = g_view.showing == "export" && g_view.file != nullptr;
  draw_mesh(file ? g_view.file.get() : g_view.model.get(), !file);
}

// ---- the widget's callbacks ---------------------------------------------------

int togl_of(Tcl_Interp *interp, Tcl_Obj *path) {
  Togl *togl = nullptr;
  if (Togl_GetToglFromObj(interp, path, &togl) != TCL_OK) return TCL_ERROR;
  g_view.togl = togl;
  return TCL_OK;
}

int create_callback(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc != 2) {
    Tcl_WrongNumArgs(interp, 1, objv, "togl");
    return TCL_ERROR;
  }
  return togl_of(interp, objv[1]);
}

int display_callback(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc != 2) {
    Tcl_WrongNumArgs(interp, 1, objv, "togl");
    return TCL_ERROR;
  }
  if (togl_of(interp, objv[1]) != TCL_OK) return TCL_ERROR;
  render(interp);
  Togl_SwapBuffers(g_view.togl);
  return TCL_OK;
}

void redraw() {
  if (g_view.togl != nullptr) Togl_PostRedisplay(g_view.togl);
}

// ---- ::molv::gui::view ---------------------------------------------------------

int numbers(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[], int count, double *out) {
  if (objc != 2 + count) {
    Tcl_WrongNumArgs(interp, 2, objv, count == 1 ? "value" : "dx dy");
    return TCL_ERROR;
  }
  for (int i = 0; i < count; ++i)
    if (Tcl_GetDoubleFromObj(interp, objv[2 + i], &out[i]) != TCL_OK) return TCL_ERROR;
  return TCL_OK;
}

// The view's pixels, top row first, RGB.
bool read_pixels(Tcl_Interp *interp, int *width, int *height, std::vector<unsigned char> *rgb) {
  if (g_view.togl == nullptr) return false;
  render(interp);
  *width = Togl_Width(g_view.togl);
  *height = Togl_Height(g_view.togl);
  std::vector<unsigned char> bottom_up(static_cast<size_t>(*width) * *height * 3);
  glFinish();
  glReadBuffer(GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, *width, *height, GL_RGB, GL_UNSIGNED_BYTE, bottom_up.data());
  Togl_SwapBuffers(g_view.togl);
  rgb->resize(bottom_up.size());
  const size_t row = static_cast<size_t>(*width) * 3;
  for (int y = 0; y < *height; ++y)
    std::memcpy(&(*rgb)[y * row], &bottom_up[(*height - 1 - y) * row], row);
  return true;
}

// What a subcommand of ::molv::gui::view asks for once it has run: an
// error (the result says it), nothing more (the result is set), or an
// empty result and a new frame.
enum class Then { kError, kDone, kRedraw };
using Subcommand = Then (*)(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]);

Then fail(Tcl_Interp *interp, const std::string &text) {
  Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
  return Then::kError;
}

Then build_view(Tcl_Interp *, int objc, Tcl_Obj *const objv[]) {
  std::string scene;
  if (objc == 3) scene = Tcl_GetString(objv[2]);
  if (g_view.model) g_view.retired.push_back(std::move(g_view.model));
  if (g_view.file) g_view.retired.push_back(std::move(g_view.file));
  g_view.model.reset(new Drawn);
  g_view.model->mesh = mesh_of_model(scene);
  g_view.showing = "model";
  g_view.selected = -1;
  frame_camera(g_view.model.get());
  return Then::kRedraw;
}

Then orbit_view(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  double v[2];
  if (numbers(interp, objc, objv, 2, v) != TCL_OK) return Then::kError;
  Camera &c = g_view.camera;
  c.yaw -= v[0] * 0.5;
  c.pitch = std::max(-90.0, std::min(90.0, c.pitch + v[1] * 0.5));
  return Then::kRedraw;
}

Then pan_view(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  double v[2];
  if (numbers(interp, objc, objv, 2, v) != TCL_OK) return Then::kError;
  Camera &c = g_view.camera;
  const int height = g_view.togl != nullptr ? std::max(1, Togl_Height(g_view.togl)) : 400;
  const double scale = 2.0 * c.distance * std::tan(kFieldOfView * kPi / 360.0) / height;
  const double yaw = c.yaw * kPi / 180.0, pitch = c.pitch * kPi / 180.0;
  // The camera's right and up directions in the model.
  const double right[3] = {std::cos(yaw), 0, -std::sin(yaw)};
  const double up[3] = {-std::sin(pitch) * std::sin(yaw), std::cos(pitch),
                        -std::sin(pitch) * std::cos(yaw)};
  for (int i = 0; i < 3; ++i) c.target[i] += (-v[0] * right[i] + v[1] * up[i]) * scale;
  return Then::kRedraw;
}

Then zoom_view(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  double v[1];
  if (numbers(interp, objc, objv, 1, v) != TCL_OK) return Then::kError;
  Camera &c = g_view.camera;
  if (v[0] > 0) c.distance = std::max(c.radius * 1e-3, c.distance * v[0]);
  return Then::kRedraw;
}

Then frame_view(Tcl_Interp *, int, Tcl_Obj *const[]) {
  const Drawn *shown =
      g_view.showing == "export" && g_view.file ? g_view.file.get() : g_view.model.get();
  frame_camera(shown);
  return Then::kRedraw;
}

Then select_in_view(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  long index = -1;
  if (objc != 3 || Tcl_GetLongFromObj(interp, objv[2], &index) != TCL_OK) {
    Tcl_WrongNumArgs(interp, 2, objv, "index");
    return Then::kError;
  }
  g_view.selected = index;
  return Then::kRedraw;
}

// The .x's picture goes: the export it showed is no longer the last.
Then forget_export(Tcl_Interp *interp, int, Tcl_Obj *const[]) {
  if (g_view.file) g_view.retired.push_back(std::move(g_view.file));
  if (g_view.showing == "model") {
    // Nothing shown changes: no frame to draw.
    Tcl_ResetResult(interp);
    return Then::kDone;
  }
  g_view.showing = "model";
  return Then::kRedraw;
}

Then show_in_view(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  const std::string mode = objc == 3 ? Tcl_GetString(objv[2]) : "";
  if (mode != "model" && mode != "export" && mode != "both")
    return fail(interp, "show model, export or both");
  g_view.showing = mode == "model" || g_view.file ? mode : "model";
  return Then::kRedraw;
}

// One whole frame now, finished: what a benchmark times.
Then redraw_view(Tcl_Interp *interp, int, Tcl_Obj *const[]) {
  if (g_view.togl != nullptr) {
    render(interp);
    glFinish();
    Togl_SwapBuffers(g_view.togl);
  }
  Tcl_ResetResult(interp);
  return Then::kDone;
}

Then showing_in_view(Tcl_Interp *interp, int, Tcl_Obj *const[]) {
  Tcl_SetObjResult(interp, Tcl_NewStringObj(g_view.showing.c_str(), -1));
  return Then::kDone;
}

// {R G B} of the view's pixel at X Y.
Then view_pixel(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  int width = 0, height = 0, x = 0, y = 0;
  std::vector<unsigned char> rgb;
  if (!read_pixels(interp, &width, &height, &rgb)) return fail(interp, "the view is not up");
  if (objc != 4 || Tcl_GetIntFromObj(interp, objv[2], &x) != TCL_OK ||
      Tcl_GetIntFromObj(interp, objv[3], &y) != TCL_OK || x < 0 || y < 0 || x >= width ||
      y >= height)
    return fail(interp, "pixel x y: inside the view");
  const unsigned char *p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
  Tcl_Obj *values[3] = {Tcl_NewIntObj(p[0]), Tcl_NewIntObj(p[1]), Tcl_NewIntObj(p[2])};
  Tcl_SetObjResult(interp, Tcl_NewListObj(3, values));
  return Then::kDone;
}

// The view as a PPM image in a new FILE.
Then view_ppm(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
  if (!read_pixels(interp, &width, &height, &rgb)) return fail(interp, "the view is not up");
  if (objc != 3) {
    Tcl_WrongNumArgs(interp, 2, objv, "file");
    return Then::kError;
  }
  FILE *out = std::fopen(Tcl_GetString(objv[2]), "wbx");
  if (out == nullptr) return fail(interp, "cannot write the image");
  std::fprintf(out, "P6\n%d %d\n255\n", width, height);
  const bool written = std::fwrite(rgb.data(), 1, rgb.size(), out) == rgb.size();
  if (std::fclose(out) != 0 || !written) return fail(interp, "cannot write the image");
  return Then::kDone;
}

int view_command(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  static const std::pair<const char *, Subcommand> kSubcommands[] = {
      {"build", build_view},        {"orbit", orbit_view},   {"pan", pan_view},
      {"zoom", zoom_view},          {"frame", frame_view},   {"select", select_in_view},
      {"show", show_in_view},       {"redraw", redraw_view}, {"forget_export", forget_export},
      {"showing", showing_in_view}, {"ppm", view_ppm},       {"pixel", view_pixel},
  };
  if (objc < 2) {
    Tcl_WrongNumArgs(interp, 1, objv, "subcommand ?arg ...?");
    return TCL_ERROR;
  }
  const std::string what = Tcl_GetString(objv[1]);
  for (const auto &subcommand : kSubcommands) {
    if (what != subcommand.first) continue;
    const Then then = subcommand.second(interp, objc, objv);
    if (then == Then::kError) return TCL_ERROR;
    if (then == Then::kRedraw) {
      Tcl_ResetResult(interp);
      redraw();
    }
    return TCL_OK;
  }
  fail(interp, "view: unknown subcommand " + what);
  return TCL_ERROR;
}

}  // namespace

void create_view_commands(Tcl_Interp *interp) {
  Tcl_CreateObjCommand(interp, "::molv::gui::view", view_command, nullptr, nullptr);
  Tcl_CreateObjCommand(interp, "::molv::gui::view_create", create_callback, nullptr, nullptr);
  Tcl_CreateObjCommand(interp, "::molv::gui::view_display", display_callback, nullptr, nullptr);
}

void show_export(ViewMesh mesh) {
  std::unique_ptr<Drawn> drawn(new Drawn);
  drawn->mesh = std::move(mesh);
  if (g_view.file) g_view.retired.push_back(std::move(g_view.file));
  g_view.file = std::move(drawn);
  // A frame of a large model drawn in software holds the window: none
  // when nothing shown changes.
  if (g_view.showing != "model") redraw();
}

void reset_view() {
  // The context goes with the widget; the buffers with it.
  g_view.model.reset();
  g_view.file.reset();
  g_view.retired.clear();
  g_view.togl = nullptr;
  g_view.camera = Camera();
  g_view.showing = "model";
  g_view.selected = -1;
}

}  // namespace gui
}  // namespace molv
