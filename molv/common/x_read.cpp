/*
 * The .x text reader: a tokenizer that takes ';' and ',' for blanks (every
 * list of the format is counted ahead, so they carry nothing), and a walk
 * of the blocks with a stack of open frames, so that a chain of thousands
 * of nested frames costs heap, not the caller's stack (the window reads on
 * a thread of its own).
 */
#include "common/x_read.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <new>

namespace molv {
namespace {

enum class Token { kEnd, kName, kNumber, kString, kOpen, kClose, kOther };

using Matrix = std::array<double, 16>;  // row vectors: p' = p * M

Matrix identity() { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; }

Matrix multiply(const Matrix &a, const Matrix &b) {
  Matrix m{};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      for (int k = 0; k < 4; ++k) m[r * 4 + c] += a[r * 4 + k] * b[k * 4 + c];
  return m;
}

// Raised by the reader with the reason; caught once at the top.
struct Broken {
  std::string why;
};

class Reader {
 public:
  Reader(const char *text, std::size_t size, const XReadProgress &progress)
      : start_(text), p_(text), end_(text + size), progress_(progress) {}

  // The next token, its text in text_ (a name or string) or number_.
  Token next() {
    skip_blanks();
    if (p_ >= end_) return Token::kEnd;
    const char c = *p_;
    if (c == '{') return ++p_, Token::kOpen;
    if (c == '}') return ++p_, Token::kClose;
    if (c == '"') return string();
    if (c == '<') {  // a template's GUID
      const char *close = static_cast<const char *>(std::memchr(p_, '>', end_ - p_));
      p_ = close != nullptr ? close + 1 : end_;
      return Token::kOther;
    }
    if ((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.') return number();
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') return name();
    ++p_;
    return Token::kOther;
  }

  Token peek() {
    const char *at = p_;
    const Token token = next();
    p_ = at;
    return token;
  }

  double number_value() const { return number_; }
  const std::string &text() const { return text_; }

  // The next token, which must be a number.
  double expect_number(const char *what) {
    if (next() != Token::kNumber) fail(std::string("expected ") + what);
    return number_;
  }
  std::uint32_t expect_count(const char *what, std::uint64_t most) {
    const double n = expect_number(what);
    if (!(n >= 0 && n <= static_cast<double>(most) && n == std::floor(n)))
      fail(std::string("not a count: ") + what);
    return static_cast<std::uint32_t>(n);
  }
  // The count of a list that follows, each item at least two bytes: no
  // larger than the rest of the file (a broken count must not ask for all
  // memory).
  std::uint32_t expect_size(const char *what) {
    const std::uint32_t n = expect_count(what, UINT32_MAX);
    if (n > static_cast<std::size_t>(end_ - p_)) fail(std::string("a count past the file's end: ") + what);
    return n;
  }

  [[noreturn]] void fail(const std::string &why) const {
    const long line = 1 + std::count(start_, p_, '\n');
    throw Broken{"line " + std::to_string(line) + ": " + why};
  }

  // Skips the rest of a block whose '{' was read.
  void skip_block() {
    for (int depth = 1; depth > 0;) {
      const Token token = next();
      if (token == Token::kEnd) fail("a block is not closed");
      depth += token == Token::kOpen ? 1 : token == Token::kClose ? -1 : 0;
    }
  }

  // Tells the caller how far the read got, every few megabytes.
  void poll() {
    if (!progress_ || p_ < next_poll_) return;
    next_poll_ = p_ + (1 << 22);
    const double done = static_cast<double>(p_ - start_);
    const int percent = static_cast<int>(100.0 * done / static_cast<double>(end_ - start_ + 1));
    if (!progress_(percent)) throw Broken{"stopped"};
  }

 private:
  void skip_blanks() {
    while (p_ < end_) {
      const char c = *p_;
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ';' || c == ',') {
        ++p_;
      } else if (c == '#' || (c == '/' && p_ + 1 < end_ && p_[1] == '/')) {
        const char *eol = static_cast<const char *>(std::memchr(p_, '\n', end_ - p_));
        p_ = eol != nullptr ? eol : end_;
      } else {
        return;
      }
    }
  }
  Token string() {
    const char *close = static_cast<const char *>(std::memchr(p_ + 1, '"', end_ - p_ - 1));
    if (close == nullptr) fail("a string is not closed");
    text_.assign(p_ + 1, close);
    p_ = close + 1;
    return Token::kString;
  }
  Token number() {
    const char *from = *p_ == '+' ? p_ + 1 : p_;
    const auto result = std::from_chars(from, end_, number_);
    if (result.ec != std::errc()) fail("not a number");
    p_ = result.ptr;
    return Token::kNumber;
  }
  Token name() {
    const char *from = p_;
    while (p_ < end_ && (std::isalnum(static_cast<unsigned char>(*p_)) || *p_ == '_' || *p_ == '-'))
      ++p_;
    text_.assign(from, p_);
    return Token::kName;
  }

  const char *start_;
  const char *p_;
  const char *end_;
  const char *next_poll_ = nullptr;
  const XReadProgress &progress_;
  std::string text_;
  double number_ = 0;
};

// The block after a name (and the block's own name, when it has one):
// the '{' is read.  Returns the block's name.
std::string open_block(Reader &in) {
  Token token = in.next();
  std::string name;
  if (token == Token::kName) {
    name = in.text();
    token = in.next();
  }
  if (token != Token::kOpen) in.fail("expected '{'");
  return name;
}

// A Material block whose '{' is read.
XMaterial read_material(Reader &in, const std::string &name) {
  XMaterial m;
  m.name = name;
  for (float &c : m.colour) c = static_cast<float>(in.expect_number("a colour"));
  for (int i = 0; i < 7; ++i) in.expect_number("a material's power and colours");
  for (Token token; (token = in.next()) != Token::kClose;) {
    if (token == Token::kEnd) in.fail("a material is not closed");
    if (token != Token::kName) continue;
    const std::string kind = in.text();
    open_block(in);
    if (kind != "TextureFileName" && kind != "TextureFilename") {
      in.skip_block();
      continue;
    }
    if (in.next() != Token::kString) in.fail("a texture without a name");
    m.has_texture = true;
    m.texture = in.text();
    in.skip_block();
  }
  return m;
}

class SceneReader {
 public:
  SceneReader(Reader &in, XScene *scene) : in_(in), scene_(*scene) {}

  void read() {
    std::vector<Open> open;
    for (Token token; (token = in_.next()) != Token::kEnd;) {
      in_.poll();
      if (token == Token::kClose) {
        if (open.empty()) in_.fail("a '}' closes nothing");
        open.pop_back();
        continue;
      }
      if (token != Token::kName) in_.fail("expected a block");
      const std::string kind = in_.text();
      if (kind == "template") {
        open_block(in_);
        in_.skip_block();
        continue;
      }
      const std::string name = open_block(in_);
      const Matrix &world = open.empty() ? identity_ : open.back().world;
      if (kind == "Frame") {
        open.push_back({world, world, name});
      } else if (kind == "FrameTransformMatrix" && !open.empty()) {
        Matrix local;
        for (double &v : local) v = in_.expect_number("a matrix");
        if (in_.next() != Token::kClose) in_.fail("a matrix of more than 16 numbers");
        open.back().world = multiply(local, open.back().parent);
      } else if (kind == "Material") {
        global(read_material(in_, name));
      } else if (kind == "Mesh") {
        read_mesh(name, open.empty() ? "" : open.back().name, world);
      } else {
        in_.skip_block();
      }
    }
    if (!open.empty()) in_.fail("a frame is not closed");
  }

 private:
  struct Open {
    Matrix parent;
    Matrix world;
    std::string name;
  };

  void global(XMaterial m) {
    by_name_[m.name] = static_cast<int>(scene_.materials.size());
    scene_.materials.push_back(std::move(m));
  }

  // The faces of a mesh: per face its corners' vertex indices.
  void read_faces(std::uint32_t vertices, std::vector<std::uint32_t> *sizes,
                  std::vector<std::uint32_t> *indices) {
    const std::uint32_t faces = in_.expect_size("a face count");
    sizes->reserve(faces);
    for (std::uint32_t f = 0; f < faces; ++f) {
      const std::uint32_t n = in_.expect_count("a face's corner count", UINT32_MAX);
      sizes->push_back(n);
      for (std::uint32_t k = 0; k < n; ++k) {
        const std::uint32_t index = in_.expect_count("a vertex index", UINT32_MAX);
        if (index >= vertices)
          in_.fail("a face names vertex " + std::to_string(index) + " of " +
                   std::to_string(vertices));
        indices->push_back(index);
      }
      if (f % 4096 == 0) in_.poll();
    }
  }

  struct MeshData {
    std::vector<std::array<float, 3>> positions, normals;
    std::vector<std::uint32_t> sizes, indices, normal_sizes, normal_indices;
    std::vector<std::array<float, 2>> uv;
    std::vector<std::int32_t> face_material;
  };

  void read_mesh(const std::string &name, const std::string &frame, const Matrix &world);
  void read_mesh_child(const std::string &kind, MeshData *d, XMesh *mesh);
  void read_material_list(MeshData *d);
  void place_mesh(const MeshData &d, const Matrix &world);

  Reader &in_;
  XScene &scene_;
  std::map<std::string, int> by_name_;
  const Matrix identity_ = identity();
};

void read_vectors(Reader &in, std::uint32_t count, std::vector<std::array<float, 3>> *out) {
  out->resize(count);
  for (auto &v : *out) {
    for (float &c : v) c = static_cast<float>(in.expect_number("a vector"));
    if ((&v - out->data()) % 4096 == 0) in.poll();
  }
}

void SceneReader::read_mesh(const std::string &name, const std::string &frame,
                            const Matrix &world) {
  XMesh mesh;
  mesh.name = name;
  mesh.frame = frame;
  MeshData d;
  const std::uint32_t vertices = in_.expect_size("a vertex count");
  mesh.vertices = vertices;
  read_vectors(in_, vertices, &d.positions);
  read_faces(vertices, &d.sizes, &d.indices);
  for (Token token; (token = in_.next()) != Token::kClose;) {
    if (token != Token::kName) in_.fail("expected a block in a mesh");
    const std::string kind = in_.text();
    open_block(in_);
    read_mesh_child(kind, &d, &mesh);
  }
  if (mesh.normals && d.normal_sizes != d.sizes) in_.fail("the normals' faces are not the mesh's");
  if (mesh.uv && d.uv.size() != vertices) in_.fail("texture coordinates not one per vertex");
  scene_.meshes.push_back(mesh);
  place_mesh(d, world);
}

void SceneReader::read_mesh_child(const std::string &kind, MeshData *d, XMesh *mesh) {
  if (kind == "MeshNormals") {
    mesh->normals = true;
    read_vectors(in_, in_.expect_size("a normal count"), &d->normals);
    read_faces(static_cast<std::uint32_t>(d->normals.size()), &d->normal_sizes, &d->normal_indices);
    if (in_.next() != Token::kClose) in_.fail("more in MeshNormals than its faces");
  } else if (kind == "MeshTextureCoords") {
    mesh->uv = true;
    d->uv.resize(in_.expect_size("a coordinate count"));
    for (auto &t : d->uv)
      for (float &c : t) c = static_cast<float>(in_.expect_number("a coordinate"));
    if (in_.next() != Token::kClose) in_.fail("more in MeshTextureCoords than its coordinates");
  } else if (kind == "MeshMaterialList") {
    mesh->materials = true;
    read_material_list(d);
  } else {
    in_.skip_block();
  }
}

// The list's numbers, then its materials: references by name, or
// materials of its own.  A face past the list's end takes the last one,
// as the runtime does.
void SceneReader::read_material_list(MeshData *d) {
  const std::uint32_t count = in_.expect_size("a material count");
  const std::uint32_t listed = in_.expect_size("a face count");
  std::vector<std::uint32_t> local(listed);
  for (std::uint32_t &m : local) m = in_.expect_count("a face's material", UINT32_MAX);
  std::vector<std::int32_t> materials;
  for (Token token; (token = in_.next()) != Token::kClose;) {
    if (token == Token::kOpen) {
      if (in_.next() != Token::kName) in_.fail("a reference without a name");
      const auto found = by_name_.find(in_.text());
      if (found == by_name_.end()) in_.fail("no material named " + in_.text());
      materials.push_back(found->second);
      if (in_.next() != Token::kClose) in_.fail("a reference is not closed");
    } else if (token == Token::kName && in_.text() == "Material") {
      materials.push_back(static_cast<std::int32_t>(scene_.materials.size()));
      scene_.materials.push_back(read_material(in_, open_block(in_)));
    } else if (token == Token::kName) {
      open_block(in_);
      in_.skip_block();
    } else {
      in_.fail("expected a material");
    }
  }
  if (materials.size() != count)
    in_.fail("a material list of " + std::to_string(count) + " holds " +
             std::to_string(materials.size()));
  d->face_material.assign(d->sizes.size(), -1);
  for (std::size_t f = 0; f < d->sizes.size() && !local.empty(); ++f) {
    const std::uint32_t m = local[std::min(f, local.size() - 1)];
    if (m >= materials.size()) in_.fail("a face names material " + std::to_string(m));
    d->face_material[f] = materials[m];
  }
}

// The mesh's faces into the scene, in world space.
void SceneReader::place_mesh(const MeshData &d, const Matrix &m) {
  // Normals through the inverse transpose of the matrix's 3x3: its
  // cofactors, as the scale does not matter.
  double turn[9];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      const int r1 = (r + 1) % 3, r2 = (r + 2) % 3, c1 = (c + 1) % 3, c2 = (c + 2) % 3;
      turn[r * 3 + c] = m[r1 * 4 + c1] * m[r2 * 4 + c2] - m[r1 * 4 + c2] * m[r2 * 4 + c1];
    }
  const std::uint32_t mesh = static_cast<std::uint32_t>(scene_.meshes.size() - 1);
  std::size_t corner = 0;
  for (std::size_t f = 0; f < d.sizes.size(); ++f) {
    const std::int32_t material = d.face_material.empty() ? -1 : d.face_material[f];
    scene_.faces.push_back(
        {static_cast<std::uint32_t>(scene_.position.size()), d.sizes[f], material, mesh});
    for (std::uint32_t k = 0; k < d.sizes[f]; ++k, ++corner) {
      const auto &p = d.positions[d.indices[corner]];
      std::array<float, 3> w, n{0, 0, 0};
      for (int c = 0; c < 3; ++c)
        w[c] = static_cast<float>(p[0] * m[c] + p[1] * m[4 + c] + p[2] * m[8 + c] + m[12 + c]);
      if (!d.normals.empty()) {
        const auto &v = d.normals[d.normal_indices[corner]];
        double t[3], length = 0;
        for (int c = 0; c < 3; ++c) {
          t[c] = v[0] * turn[c] + v[1] * turn[3 + c] + v[2] * turn[6 + c];
          length += t[c] * t[c];
        }
        length = std::sqrt(length);
        for (int c = 0; c < 3; ++c) n[c] = length > 0 ? static_cast<float>(t[c] / length) : 0.0f;
      }
      scene_.position.push_back(w);
      scene_.normal.push_back(n);
      scene_.uv.push_back(d.uv.empty() ? std::array<float, 2>{0, 0} : d.uv[d.indices[corner]]);
      scene_.vertex.push_back(scene_.vertex_count + d.indices[corner]);
    }
  }
  scene_.vertex_count += static_cast<std::uint32_t>(d.positions.size());
}

}  // namespace

bool read_x_text(const char *text, std::size_t size, XScene *scene, std::string *error,
                 const XReadProgress &progress) {
  *scene = XScene();
  if (size < 16 || std::memcmp(text, "xof ", 4) != 0) {
    *error = "not a .x file (no \"xof\" header)";
    return false;
  }
  if (std::memcmp(text + 8, "txt ", 4) != 0) {
    *error = "a .x file in the " + std::string(text + 8, 3) + " form, not text";
    return false;
  }
  Reader in(text + 16, size - 16, progress);
  try {
    SceneReader(in, scene).read();
  } catch (const Broken &broken) {
    *error = broken.why;
    return false;
  } catch (const std::bad_alloc &) {
    *scene = XScene();
    *error = "not enough memory to read it back";
    return false;
  }
  return true;
}

bool read_x_file(const std::string &path, XScene *scene, std::string *error,
                 const XReadProgress &progress) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  std::string text;
  if (file) {
    text.resize(static_cast<std::size_t>(std::max<std::streamoff>(0, file.tellg())));
    file.seekg(0);
    file.read(&text[0], static_cast<std::streamsize>(text.size()));
  }
  if (!file) {
    *error = path + ": cannot be read";
    return false;
  }
  return read_x_text(text.data(), text.size(), scene, error, progress);
}

}  // namespace molv
