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
#include "gui/view_outline.h"

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
  bool mirror_z = false;  // whether the export mirrors z (the gizmo's z is the .x's)
};

View g_view;

// The texture files, and the images a model embeds (BYTES), as Tk photos
// read them (PNG, GIF, PPM; more with Img).
GLuint load_texture(Tcl_Interp *interp, const std::string &file, const std::string &bytes) {
  Tcl_Obj *words[4] = {Tcl_NewStringObj("image", -1), Tcl_NewStringObj("create", -1),
                       Tcl_NewStringObj("photo", -1),
                       Tcl_NewStringObj(bytes.empty() ? "-file" : "-data", -1)};
  Tcl_Obj *command = Tcl_NewListObj(4, words);
  Tcl_ListObjAppendElement(
      nullptr, command,
      bytes.empty() ? Tcl_NewStringObj(file.c_str(), -1)
                    : Tcl_NewByteArrayObj(reinterpret_cast<const unsigned char *>(bytes.data()),
                                          static_cast<int>(bytes.size())));
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
    const std::vector<std::uint32_t> &indices = drawn->mesh.indices;
    glGenBuffers(1, &drawn->index_buffer);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, drawn->index_buffer);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER,
                 static_cast<GLsizeiptr>(indices.size() * sizeof(std::uint32_t)), indices.data(),
                 GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
  }
  // The buffers hold them now.
  std::vector<ViewVertex>().swap(drawn->mesh.vertices);
  std::vector<std::uint32_t>().swap(drawn->mesh.indices);
  for (size_t i = 0; i < drawn->mesh.textures.size(); ++i)
    drawn->textures.push_back(load_texture(
        interp, drawn->mesh.textures[i],
        i < drawn->mesh.texture_bytes.size() ? drawn->mesh.texture_bytes[i] : std::string()));
  std::vector<std::string>().swap(drawn->mesh.texture_bytes);
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

// The triangles [FIRST, FIRST + COUNT) of the index buffer, each run of
// MARKS with its value in the stencil buffer where it is seen, the rest 0.
void draw_marked(std::size_t first, std::size_t count, const std::vector<Mark> &marks) {
  const std::size_t end = first + count;
  std::size_t at = first;
  auto mark = std::upper_bound(marks.begin(), marks.end(), first,
                               [](std::size_t f, const Mark &m) { return f < m.end; });
  for (; mark != marks.end() && mark->first < end; ++mark) {
    const std::size_t a = std::max(mark->first, at), b = std::min(mark->end, end);
    glStencilFunc(GL_ALWAYS, 0, 0xff);
    draw_range(GL_TRIANGLES, at, a - at);
    glStencilFunc(GL_ALWAYS, mark->value, 0xff);
    draw_range(GL_TRIANGLES, a, b - a);
    at = std::max(at, b);
  }
  glStencilFunc(GL_ALWAYS, 0, 0xff);
  draw_range(GL_TRIANGLES, at, end - at);
}

// The triangles of the chosen object and everything below it (none for
// the world, which is everything, or nothing chosen).
TriangleRun chosen_run(const Drawn *drawn) {
  const auto &subtree = drawn->mesh.subtree;
  if (g_view.selected <= 0 || static_cast<size_t>(g_view.selected) >= subtree.size()) return {0, 0};
  return subtree[g_view.selected];
}

// Draws DRAWN, its objects marked in the stencil buffer as MARKS says.
void draw_mesh(const Drawn *drawn, const FrameMarks &marks) {
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
  glEnable(GL_STENCIL_TEST);
  for (const ViewPart &part : drawn->mesh.parts) {
    const GLuint texture =
        part.texture >= 0 && static_cast<size_t>(part.texture) < drawn->textures.size()
            ? drawn->textures[part.texture]
            : 0;
    if (texture != 0) {
      glEnable(GL_TEXTURE_2D);
      glBindTexture(GL_TEXTURE_2D, texture);
    }
    draw_marked(part.first, part.count, marks.marks);
    if (texture != 0) glDisable(GL_TEXTURE_2D);
  }
  glDisable(GL_STENCIL_TEST);
  glDisable(GL_POLYGON_OFFSET_FILL);
  glDisableClientState(GL_VERTEX_ARRAY);
  glDisableClientState(GL_NORMAL_ARRAY);
  glDisableClientState(GL_COLOR_ARRAY);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
}

// The last frame without the outline, and its stencil values where the
// model is drawn: choosing another object redraws from these.
struct KeptFrame {
  bool valid = false;
  int width = 0, height = 0;      // the whole view
  int model_x = 0, model_width = 0;  // where the model is drawn
  FrameMarks marks;
  std::vector<std::uint32_t> colour;
  std::vector<unsigned char> values;
};
KeptFrame g_kept;
// Whether anything but the chosen object changed since the last frame.
bool g_changed = true;

void keep_frame(int width, int height, int model_x, int model_width, FrameMarks marks) {
  g_kept.valid = model_width > 0;
  g_kept.width = width;
  g_kept.height = height;
  g_kept.model_x = model_x;
  g_kept.model_width = model_width;
  g_kept.marks = std::move(marks);
  g_kept.colour.resize(static_cast<size_t>(width) * height);
  g_kept.values.resize(static_cast<size_t>(std::max(model_width, 0)) * height);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, g_kept.colour.data());
  if (g_kept.valid)
    glReadPixels(model_x, 0, model_width, height, GL_STENCIL_INDEX, GL_UNSIGNED_BYTE,
                 g_kept.values.data());
}

// The chosen object's outline (kOutline pixels wide, light orange) over
// the back buffer, from the kept frame.
constexpr int kOutline = 2;

void draw_outline(TriangleRun chosen) {
  if (!g_kept.valid || chosen.second <= chosen.first) return;
  const std::vector<unsigned char> covered = chosen_pixels(g_kept.values, g_kept.marks, chosen);
  std::vector<std::uint32_t> rgba;
  const unsigned char orange[4] = {255, 184, 51, 255};
  std::uint32_t colour;
  std::memcpy(&colour, orange, sizeof colour);
  if (!outline_image(covered, g_kept.model_width, g_kept.height, kOutline, colour, &rgba)) return;
  glViewport(0, 0, g_kept.width, g_kept.height);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_LIGHTING);
  glEnable(GL_ALPHA_TEST);
  glAlphaFunc(GL_GREATER, 0.5f);
  glWindowPos2i(g_kept.model_x, 0);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glDrawPixels(g_kept.model_width, g_kept.height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  glDisable(GL_ALPHA_TEST);
  glEnable(GL_LIGHTING);
  glEnable(GL_DEPTH_TEST);
}

// The kept frame back in the back buffer, for a new outline over it.
bool restore_frame(int width, int height) {
  if (!g_kept.valid || g_kept.width != width || g_kept.height != height) return false;
  const Drawn *model = g_view.model.get();
  if (model == nullptr || !marks_show(g_kept.marks, chosen_run(model))) return false;
  glViewport(0, 0, width, height);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_LIGHTING);
  glWindowPos2i(0, 0);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glDrawPixels(width, height, GL_RGBA, GL_UNSIGNED_BYTE, g_kept.colour.data());
  draw_outline(chosen_run(model));
  return true;
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
  glStencilOp(GL_KEEP, GL_KEEP, GL_REPLACE);
  glClearStencil(0);
}

// A step of 1, 2 or 5 times a power of ten: about ten cells over SIZE.
double grid_step(double size) {
  const double raw = std::max(size, 1e-6) / 10;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0})
    if (m * power >= raw * 0.999) return m * power;
  return 10 * power;
}

// The ground under MESH (at its lowest y): lines a grid step apart over
// its box and a cell beyond.  Behind everything the mesh covers.
void draw_ground(const ViewMesh &mesh) {
  if (mesh.max[0] < mesh.min[0]) return;
  const double step = grid_step(std::max(mesh.max[0] - mesh.min[0], mesh.max[2] - mesh.min[2]));
  const double x0 = (std::floor(mesh.min[0] / step) - 1) * step;
  const double x1 = (std::ceil(mesh.max[0] / step) + 1) * step;
  const double z0 = (std::floor(mesh.min[2] / step) - 1) * step;
  const double z1 = (std::ceil(mesh.max[2] / step) + 1) * step;
  const double y = mesh.min[1];
  glDisable(GL_LIGHTING);
  glDepthMask(GL_FALSE);
  glColor3f(0.42f, 0.46f, 0.52f);
  glBegin(GL_LINES);
  for (double x = x0; x <= x1 + step * 0.5; x += step) {
    glVertex3d(x, y, z0);
    glVertex3d(x, y, z1);
  }
  for (double z = z0; z <= z1 + step * 0.5; z += step) {
    glVertex3d(x0, y, z);
    glVertex3d(x1, y, z);
  }
  glEnd();
  glDepthMask(GL_TRUE);
  glEnable(GL_LIGHTING);
}

// A letter of the gizmo as strokes in a unit square, centred at X Y.
void draw_letter(char letter, double x, double y, double size) {
  static const float kX[] = {-1, -1, 1, 1, -1, 1, 1, -1};
  static const float kY[] = {-1, 1, 0, 0, 1, 1, 0, 0, 0, 0, 0, -1};
  static const float kZ[] = {-1, 1, 1, 1, 1, 1, -1, -1, -1, -1, 1, -1};
  const float *strokes = letter == 'X' ? kX : letter == 'Y' ? kY : kZ;
  const int count = letter == 'X' ? 4 : 6;
  glBegin(GL_LINES);
  for (int i = 0; i < count; ++i)
    glVertex2d(x + strokes[2 * i] * size * 0.5, y + strokes[2 * i + 1] * size * 0.5);
  glEnd();
}

// The axes as the camera sees them, in the bottom left corner of the
// viewport from X0: x red, y green, z blue, z the .x's (Z_SIGN -1: along
// the model's -z, the export mirrors z).
void draw_axes(int x0, double z_sign) {
  const int size = 80;
  glViewport(x0 + 4, 4, size, size);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(-1.5, 1.5, -1.5, 1.5, -2, 2);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_LIGHTING);
  const double yaw = g_view.camera.yaw * kPi / 180.0, pitch = g_view.camera.pitch * kPi / 180.0;
  // Each axis on the screen: the camera's rotation (set_camera) applied.
  const double axes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, z_sign}};
  const float colours[3][3] = {{0.95f, 0.35f, 0.3f}, {0.45f, 0.9f, 0.35f}, {0.4f, 0.6f, 1.0f}};
  for (int i = 0; i < 3; ++i) {
    const double *a = axes[i];
    const double rx = std::cos(yaw) * a[0] - std::sin(yaw) * a[2];
    const double rz = std::sin(yaw) * a[0] + std::cos(yaw) * a[2];
    const double sx = rx, sy = std::cos(pitch) * a[1] - std::sin(pitch) * rz;
    glColor3fv(colours[i]);
    glBegin(GL_LINES);
    glVertex2d(0, 0);
    glVertex2d(sx, sy);
    glEnd();
    draw_letter("XYZ"[i], sx * 1.3, sy * 1.3, 0.36);
  }
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_LIGHTING);
}

// DRAWN in the viewport from X0, WIDTH x HEIGHT: the ground, the mesh
// (marked as MARKS says) and the axes.  Assimp's .x reader turns a
// mirrored file back, so the .x as read back lies as the model does, and
// the axes' z is the .x's in both.
void draw_scene(const Drawn *drawn, const FrameMarks &marks, int x0, int width, int height) {
  glViewport(x0, 0, width, height);
  set_camera(width, height);
  if (drawn != nullptr) draw_ground(drawn->mesh);
  draw_mesh(drawn, marks);
  draw_axes(x0, g_view.mirror_z ? -1.0 : 1.0);
}

// The line between the model and the file side by side.
void draw_divider(int width, int height, int half) {
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
}

// Draws the view into the back buffer; OUTLINE_ONLY: only the chosen
// object's outline changed since the last frame.
void render(Tcl_Interp *interp, bool outline_only = false) {
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
  if (outline_only && restore_frame(width, height)) return;
  g_changed = false;
  glViewport(0, 0, width, height);
  glClearColor(kBackground[0], kBackground[1], kBackground[2], 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
  const Drawn *model = g_view.model.get();
  const TriangleRun chosen = model != nullptr ? chosen_run(model) : TriangleRun(0, 0);
  FrameMarks marks = model != nullptr ? frame_marks(model->mesh.subtree, chosen) : FrameMarks();
  const FrameMarks unmarked;
  int model_width = width;
  if (g_view.showing == "both" && g_view.file != nullptr) {
    model_width = width / 2;
    draw_scene(model, marks, 0, model_width, height);
    draw_scene(g_view.file.get(), unmarked, model_width, width - model_width, height);
    draw_divider(width, height, model_width);
  } else if (g_view.showing == "export" && g_view.file != nullptr) {
    model_width = 0;
    draw_scene(g_view.file.get(), unmarked, 0, width, height);
  } else {
    draw_scene(model, marks, 0, width, height);
  }
  keep_frame(width, height, 0, model_width, std::move(marks));
  draw_outline(chosen);
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
  render(interp, !g_changed);
  Togl_SwapBuffers(g_view.togl);
  return TCL_OK;
}

// A new frame at the next idle time; OUTLINE_ONLY when only the chosen
// object changed (the frame kept, a new outline over it).
void redraw(bool outline_only = false) {
  if (!outline_only) g_changed = true;
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
  // As the window draws it: a new choice over the kept frame.
  render(interp, !g_changed);
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
  redraw(true);
  Tcl_ResetResult(interp);
  return Then::kDone;
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

// {DX DY DZ}: the size of the model's box; {} when it has no faces.
Then size_in_view(Tcl_Interp *interp, int, Tcl_Obj *const[]) {
  Tcl_Obj *size = Tcl_NewListObj(0, nullptr);
  const Drawn *model = g_view.model.get();
  if (model != nullptr && model->mesh.triangles() != 0)
    for (int i = 0; i < 3; ++i)
      Tcl_ListObjAppendElement(nullptr, size,
                               Tcl_NewDoubleObj(static_cast<double>(model->mesh.max[i]) -
                                                model->mesh.min[i]));
  Tcl_SetObjResult(interp, size);
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
      {"size", size_in_view},
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

void set_view_mirror_z(bool mirror) {
  if (g_view.mirror_z == mirror) return;
  g_view.mirror_z = mirror;
  redraw();
}

void reset_view() {
  // The context goes with the widget; the buffers with it.
  g_kept = KeptFrame();
  g_changed = true;
  g_view.model.reset();
  g_view.file.reset();
  g_view.retired.clear();
  g_view.togl = nullptr;
  g_view.camera = Camera();
  g_view.showing = "model";
  g_view.selected = -1;
  g_view.mirror_z = false;
}

}  // namespace gui
}  // namespace molv
