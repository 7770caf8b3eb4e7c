/*
 * A scene Assimp read becomes the plan of the host's model (model_plan.h,
 * built with the same builder as a JSON scene).
 *
 * The mapping, as docs/models.md gives it: the root node is the world;
 * the node tree, depth first (a node before its children, children in
 * order), becomes groups, polygon objects and lights;
 * positions are in world coordinates; faces stay the polygons the file has
 * (one- and two-point faces become line surfaces), and equal positions of
 * one object are one host vertex, so neighbouring faces share vertices;
 * materials become the palette in order of first use, their diffuse
 * textures the texture table.
 *
 * Assimp reads the file with no post-processing: no triangulation, no
 * joining of vertices (which would keep corners apart that differ only in
 * normal or texture coordinates; positions are joined here instead), and
 * not its validation either, which refuses a whole model for one empty
 * mesh.  The walk checks what it reads itself: a broken structure (a face
 * naming a vertex the mesh lacks, a node naming a missing mesh) refuses
 * the file, while empty parts (a mesh without vertices or faces, a node
 * with nothing below it) are left out and counted for the warnings.  A
 * file from which nothing at all comes is refused.  The node tree is
 * walked with a stack of our own, so a deep tree costs heap, not the call
 * stack.
 */
#include "import/assimp_builder.h"

#include <assimp/material.h>
#include <assimp/scene.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/x_name.h"
#include "import/model_plan.h"
#include "import/embedded_textures.h"
#include "import/import_error.h"
#include "import/mesh_corners.h"
#include "import/position_index.h"

namespace molv {
namespace {

constexpr size_t kMaxSurfaceVertices = 65535;

class ModelBuilder {
 public:
  ModelBuilder(const aiScene &scene, ModelPlan &plan)
      : scene_(scene), model_(*plan.model), plan_(plan.objects), notes_(plan.notes) {
    if ((scene.mNumMeshes > 0 && scene.mMeshes == nullptr) ||
        (scene.mNumMaterials > 0 && scene.mMaterials == nullptr) ||
        (scene.mNumLights > 0 && scene.mLights == nullptr) ||
        (scene.mNumCameras > 0 && scene.mCameras == nullptr) ||
        (scene.mNumTextures > 0 && scene.mTextures == nullptr)) {
      throw ImportError{"the file's scene is broken"};
    }
    for (unsigned i = 0; i < scene.mNumTextures; ++i) {
      if (scene.mTextures[i] == nullptr || scene.mTextures[i]->pcData == nullptr) {
        throw ImportError{"an embedded texture of the file is missing"};
      }
    }
    for (unsigned i = 0; i < scene.mNumLights; ++i) {
      if (scene.mLights[i] != nullptr)
        lights_.emplace(scene.mLights[i]->mName.C_Str(), scene.mLights[i]);
    }
    for (unsigned i = 0; i < scene.mNumCameras; ++i) {
      if (scene.mCameras[i] != nullptr) {
        cameras_.emplace(scene.mCameras[i]->mName.C_Str(), scene.mCameras[i]);
      }
    }
  }

  // Takes all the model needs from the file's scene, which may go after
  // it; throws an ImportError when nothing in the file can be taken.
  void plan() {
    plan_walk();
    leave_out_empty_groups();
    name_apart();
    if (plan_[0].children.empty()) {
      std::string reason = "the model holds no faces, lines or lights to export";
      std::string left_out = empty_meshes_.empty() ? ""
                                                   : empty_meshes_warning(empty_meshes_.size(),
                                                                          notes_.empty_mesh_names);
      if (notes_.non_finite_faces > 0) {
        left_out += (left_out.empty() ? "" : "; ") + non_finite_warning(notes_.non_finite_faces);
      }
      if (!left_out.empty()) reason += " (" + left_out + ")";
      throw ImportError{reason};
    }
    place_centres(plan_);
    notes_.lights = scene_.mNumLights;
    notes_.cameras = scene_.mNumCameras;
    notes_.file = count_scene();
    notes_.empty_meshes = empty_meshes_.size();
  }

 private:
  // What the file holds, before anything is left out; the walk has
  // checked the meshes and nodes it counts.
  SceneCounts count_scene() const {
    SceneCounts counts;
    counts.meshes = scene_.mNumMeshes;
    for (unsigned m = 0; m < scene_.mNumMeshes; ++m) {
      const aiMesh *mesh = scene_.mMeshes[m];
      if (mesh == nullptr || (mesh->mNumFaces > 0 && mesh->mFaces == nullptr)) continue;
      counts.vertices += mesh->mNumVertices;
      counts.bones += mesh->mNumBones;
      counts.colour_meshes += mesh->mColors[0] != nullptr;
      for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
        const unsigned corners = mesh->mFaces[f].mNumIndices;
        ++(corners >= 3 ? counts.faces : corners == 2 ? counts.lines : counts.points);
        counts.triangles += corners == 3;
      }
    }
    std::vector<std::pair<const aiNode *, aiMatrix4x4>> todo = {{scene_.mRootNode, {}}};
    while (!todo.empty()) {
      const aiNode *node = todo.back().first;
      const aiMatrix4x4 parent = todo.back().second;
      todo.pop_back();
      if (node == nullptr) continue;
      const aiMatrix4x4 global = parent * node->mTransformation;
      ++counts.nodes;
      add_to_box(*node, global, &counts.box);
      for (unsigned c = 0; c < node->mNumChildren && node->mChildren != nullptr; ++c)
        todo.emplace_back(node->mChildren[c], global);
    }
    counts.materials = scene_.mNumMaterials;
    counts.embedded_textures = scene_.mNumTextures;
    counts.lights = scene_.mNumLights;
    counts.cameras = scene_.mNumCameras;
    counts.animations = scene_.mNumAnimations;
    return counts;
  }

  // The finite vertices of NODE's meshes, placed by GLOBAL, into *BOX.
  void add_to_box(const aiNode &node, const aiMatrix4x4 &global, Box *box) const {
    for (unsigned i = 0; i < node.mNumMeshes && node.mMeshes != nullptr; ++i) {
      if (node.mMeshes[i] >= scene_.mNumMeshes) continue;
      const aiMesh *mesh = scene_.mMeshes[node.mMeshes[i]];
      if (mesh == nullptr || mesh->mVertices == nullptr) continue;
      for (unsigned v = 0; v < mesh->mNumVertices; ++v) {
        const aiVector3D at = global * mesh->mVertices[v];
        const float point[3] = {at.x, at.y, at.z};
        if (std::isfinite(at.x) && std::isfinite(at.y) && std::isfinite(at.z)) box->add(point);
      }
    }
  }

  struct Visit {
    const aiNode *node;
    size_t parent;  // plan index of the object the node's objects go into
    aiMatrix4x4 parent_global;
  };

  size_t add_planned(int type, const std::string &name, size_t parent) {
    plan_.emplace_back();
    plan_.back().type = type;
    plan_.back().name = name;
    const size_t index = plan_.size() - 1;
    if (index != parent) plan_[parent].children.push_back(index);
    return index;
  }

  // Depth first, with a stack: a node's own objects (its light, its
  // meshes) before its children, children in order.
  void plan_walk() {
    const aiNode *root = scene_.mRootNode;
    const std::string root_name = root->mName.length > 0 ? root->mName.C_Str() : "world";
    add_planned(MO_OBJ_WORLD, root_name, 0);

    std::vector<Visit> stack;
    std::unordered_set<const aiNode *> seen;
    stack.push_back({root, 0, aiMatrix4x4()});
    while (!stack.empty()) {
      const Visit visit = stack.back();
      stack.pop_back();
      if (!seen.insert(visit.node).second) throw ImportError{"the node tree runs in a circle"};
      const aiNode &node = *visit.node;
      if ((node.mNumMeshes > 0 && node.mMeshes == nullptr) ||
          (node.mNumChildren > 0 && node.mChildren == nullptr)) {
        throw ImportError{"a node of the file is broken"};
      }
      const aiMatrix4x4 global = visit.parent_global * node.mTransformation;
      const bool is_root = visit.node == root;
      const size_t holder = plan_node(node, global, is_root, visit.parent);
      for (unsigned i = node.mNumChildren; i-- > 0;) {
        if (node.mChildren[i] != nullptr) stack.push_back({node.mChildren[i], holder, global});
      }
    }
  }

  // The objects of one node; returns the object its children go into.
  // The node's meshes without vertices or faces are left out: a node
  // whose other mesh is the only one left is that mesh's polygon object.
  size_t plan_node(const aiNode &node, const aiMatrix4x4 &global, bool is_root, size_t parent) {
    const std::string name = node.mName.C_Str();
    const auto light = lights_.find(name);
    const bool has_light = light != lights_.end();
    node_meshes_.clear();
    for (unsigned i = 0; i < node.mNumMeshes; ++i) {
      if (holds_faces(node.mMeshes[i])) node_meshes_.push_back({node.mMeshes[i], i});
    }
    const size_t meshes = node_meshes_.size();

    size_t holder = parent;
    if (is_root) {
      // The root node is the world; its light and meshes are children of it.
      if (has_light) plan_light(*light->second, global, name, parent);
    } else if (has_light) {
      holder = plan_light(*light->second, global, name, parent);
    } else if (meshes == 1) {
      holder = add_planned(MO_OBJ_POLYGON, name, parent);
      plan_mesh(node_meshes_[0].first, global, holder);
      return holder;
    } else if (node.mNumMeshes == 0 && node.mNumChildren == 0 && cameras_.count(name) != 0) {
      return parent;  // a camera and nothing else: left out
    } else {
      holder = add_planned(MO_OBJ_GROUP, name, parent);
      plan_[holder].empty_meshes = meshes == 0 && node.mNumMeshes > 0;
    }

    // Several meshes of one node: each object is named after the node and
    // its mesh (name_apart() keeps them apart).
    for (const auto &mesh : node_meshes_) {
      std::string object_name = name;
      if (meshes > 1) object_name += "_" + mesh_name(mesh.first, mesh.second);
      plan_mesh(mesh.first, global, add_planned(MO_OBJ_POLYGON, object_name, holder));
    }
    return holder;
  }

  // No two frames of the .x share a name, so that a reader that finds
  // frames by name finds each: a .x name holds fewer characters than a
  // model's (Cube.003 is written Cube_003), and nodes of different parents
  // may share a name (several "poly" of one model).  In the order of the
  // walk, each object kept is named NAME, or NAME_k with the least k >= 1,
  // whose .x name no object before it has, nor the world (written WORLD,
  // named after the root node in the model); the renamed ones are noted,
  // but for one that only had the root node's name, which no frame of the
  // .x has.  Objects left out, and those without a name (whose frames
  // have none either), take no name.
  void name_apart() {
    std::unordered_map<std::string, bool> taken = {{"WORLD", false}};  // true: the root's name
    std::string x_name;
    qel::mend_x_name(plan_[0].name.c_str(), true, &x_name);
    taken.emplace(x_name, true);
    for (size_t i = 1; i < plan_.size(); ++i) {
      Planned &object = plan_[i];
      if (!object.keep || object.name.empty()) continue;
      std::string kept = object.name;
      bool noted = false;
      for (size_t k = 1;; ++k) {
        qel::mend_x_name(kept.c_str(), true, &x_name);
        const auto entry = taken.emplace(x_name, false);
        if (entry.second) break;
        if (k == 1) noted = !entry.first->second;
        kept = object.name + "_" + std::to_string(k);
      }
      if (noted) notes_.renamed.push_back({one_line(object.name), one_line(kept)});
      object.name = std::move(kept);
    }
  }

  // Whether a mesh a node names has a vertex and a face with corners; the
  // first time one has not, it is counted as left out.  A mesh that is
  // broken (missing, faces without their array) refuses the file.
  bool holds_faces(unsigned mesh_index) {
    if (mesh_index >= scene_.mNumMeshes) throw ImportError{"a node names a mesh the file lacks"};
    const aiMesh *mesh = scene_.mMeshes[mesh_index];
    if (mesh == nullptr) throw ImportError{"a mesh of the file is missing"};
    if (mesh->mNumVertices > 0 && mesh->mVertices == nullptr) {
      throw ImportError{"a mesh of the file has no positions"};
    }
    if (mesh->mNumFaces > 0 && mesh->mFaces == nullptr) {
      throw ImportError{"a mesh of the file has no faces"};
    }
    if (mesh->mNumVertices > 0) {
      for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
        if (mesh->mFaces[f].mNumIndices > 0) return true;
      }
    }
    if (empty_meshes_.insert(mesh_index).second) {
      notes_.empty_mesh_names.push_back(one_line(mesh->mName.C_Str()));
    }
    return false;
  }

  // Groups with nothing below them (no polygons, lines or lights, however
  // deep) go, and are counted unless their node's meshes were; the world
  // stays.  Children come after their parents in the
  // plan, so going backwards every child is settled before its parent.
  void leave_out_empty_groups() {
    for (size_t i = plan_.size(); i-- > 0;) {
      Planned &object = plan_[i];
      auto &children = object.children;
      children.erase(std::remove_if(children.begin(), children.end(),
                                    [this](size_t child) { return !plan_[child].keep; }),
                     children.end());
      if (i > 0 && object.type == MO_OBJ_GROUP && children.empty()) {
        object.keep = false;
        // A node of empty meshes is in the warning on those meshes.
        if (!object.empty_meshes) notes_.empty_groups.push_back(one_line(object.name));
      }
    }
    // Listed in the order of the walk.
    std::reverse(notes_.empty_groups.begin(), notes_.empty_groups.end());
  }

  std::string mesh_name(unsigned mesh_index, unsigned place) const {
    if (mesh_index < scene_.mNumMeshes && scene_.mMeshes[mesh_index] != nullptr &&
        scene_.mMeshes[mesh_index]->mName.length > 0) {
      return scene_.mMeshes[mesh_index]->mName.C_Str();
    }
    return std::to_string(place);
  }

  size_t plan_light(const aiLight &light, const aiMatrix4x4 &global, const std::string &name,
                    size_t parent) {
    const size_t index = add_planned(MO_OBJ_LIGHT, name, parent);
    const aiVector3D at = global * light.mPosition;
    plan_[index].light_position[0] = at.x;
    plan_[index].light_position[1] = at.y;
    plan_[index].light_position[2] = at.z;
    return index;
  }

  // What a mesh's material gives its surfaces: the palette entry, the
  // shading and the sides.  Its texture goes to OBJECT.
  struct MeshLook {
    uint16_t material = 0;
    int32_t shading = 1;
    int32_t twosided = 0;
  };
  MeshLook look_of(const aiMesh &mesh, Planned &object) {
    MeshLook look;
    look.material = palette_index(mesh.mMaterialIndex);
    const aiMaterial *source = mesh.mMaterialIndex < scene_.mNumMaterials
                                   ? scene_.mMaterials[mesh.mMaterialIndex]
                                   : nullptr;
    if (source == nullptr) return look;
    int model = 0;
    if (source->Get(AI_MATKEY_SHADING_MODEL, model) == AI_SUCCESS && model == aiShadingMode_Flat)
      look.shading = 0;
    int sides = 0;
    if (source->Get(AI_MATKEY_TWOSIDED, sides) == AI_SUCCESS && sides != 0) look.twosided = 1;
    object.texture_id = texture_of(*source);
    return look;
  }

  // Whether FACE of MESH becomes a surface: not an empty one, nor one with
  // a corner at a non-finite position (HOST_INDEX -1), which is counted,
  // as lines and points are.  Throws on a face that is broken.
  bool keeps_face(const aiMesh &mesh, const aiFace &face, const std::vector<int32_t> &host_index) {
    if (face.mNumIndices == 0) return false;
    if (face.mIndices == nullptr) throw ImportError{"a face of the file has no corners"};
    if (face.mNumIndices > kMaxSurfaceVertices) {
      throw ImportError{"a face of " + std::to_string(face.mNumIndices) +
                        " vertices, but a surface holds at most " +
                        std::to_string(kMaxSurfaceVertices)};
    }
    bool finite = true;
    for (unsigned k = 0; k < face.mNumIndices; ++k) {
      const unsigned i = face.mIndices[k];
      if (i >= mesh.mNumVertices) throw ImportError{"a face names a vertex the mesh lacks"};
      finite = finite && host_index[i] >= 0;
    }
    if (!finite) {
      ++notes_.non_finite_faces;
      return false;
    }
    if (face.mNumIndices == 2) ++notes_.line_faces;
    if (face.mNumIndices == 1) ++notes_.point_faces;
    return true;
  }

  // A mesh that holds_faces() approved.  Faces with a corner at a
  // non-finite position (after the node transforms) are left out and
  // counted; a polygon object left without faces becomes a group, which
  // goes with the empty ones unless something is below it.
  void plan_mesh(unsigned mesh_index, const aiMatrix4x4 &global, size_t index) {
    const aiMesh &mesh = *scene_.mMeshes[mesh_index];
    Planned &object = plan_[index];

    std::vector<int32_t> host_index(mesh.mNumVertices);
    std::vector<float> normals;
    join_corners(mesh, global, object.positions, host_index, normals);
    const MeshLook look = look_of(mesh, object);
    note_mesh(mesh_index, mesh, object.texture_id >= 0);

    const aiVector3D *uv = mesh.HasTextureCoords(0) ? mesh.mTextureCoords[0] : nullptr;
    size_t corners = 0;
    for (unsigned f = 0; f < mesh.mNumFaces; ++f) corners += mesh.mFaces[f].mNumIndices;
    object.surfaces.reserve(mesh.mNumFaces, corners);
    if (!normals.empty()) object.normals.reserve(3 * corners);
    for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
      const aiFace &face = mesh.mFaces[f];
      if (!keeps_face(mesh, face, host_index)) continue;
      // A face of a flat material whose corners the model gives normals
      // that differ is smooth: the model shades it by them (a LightWave
      // normal map on a surface without a smoothing angle, which Assimp
      // calls flat).
      const bool own_smoothing =
          look.shading == 0 && !normals.empty() && !one_normal(face, normals);
      object.surfaces.add_surface(face.mNumIndices >= 3 ? MO_SURF_POLYGON : MO_SURF_LINE,
                                  own_smoothing ? 1 : look.shading, look.twosided, look.material);
      for (unsigned k = 0; k < face.mNumIndices; ++k) {
        const unsigned i = face.mIndices[k];
        object.surfaces.add_corner(host_index[i], uv != nullptr ? uv[i].x : 0.0f,
                                   uv != nullptr ? uv[i].y : 0.0f);
        if (!normals.empty()) {
          object.normals.insert(object.normals.end(), &normals[3 * size_t{i}],
                                &normals[3 * size_t{i}] + 3);
        }
      }
    }
    if (object.surfaces.size() == 0) {
      object.type = MO_OBJ_GROUP;
      std::vector<float>().swap(object.positions);
      std::vector<float>().swap(object.normals);
    }
  }

  // What a .x leaves out of a mesh the model keeps, each mesh counted
  // once: its bones and skin weights, its morph targets, its vertex
  // colours, its texture coordinate sets after the first, and whether it
  // has texture coordinates (which the .x writes only for a textured
  // material).
  void note_mesh(unsigned mesh_index, const aiMesh &mesh, bool textured) {
    if (!noted_meshes_.insert(mesh_index).second) return;
    if (mesh.mNumBones > 0) {
      ++notes_.skinned_meshes;
      notes_.bones += mesh.mNumBones;
    }
    if (mesh.mNumAnimMeshes > 0) ++notes_.morphed_meshes;
    if (mesh.GetNumColorChannels() > 0) ++notes_.coloured_meshes;
    if (mesh.GetNumUVChannels() > 1) ++notes_.uv_set_meshes;
    if (mesh.HasTextureCoords(0)) {
      ++notes_.uv_meshes;
      if (!textured) ++notes_.untextured_uv_meshes;
    }
  }

  // The palette entry of a material of the file, made on its first use.
  uint16_t palette_index(unsigned material_index) {
    const auto found = palette_of_.find(material_index);
    if (found != palette_of_.end()) return found->second;
    if (model_.palette.size() > UINT16_MAX)
      throw ImportError{"more materials than a palette holds"};
    auto material = make_default_material();
    if (material_index < scene_.mNumMaterials && scene_.mMaterials[material_index] != nullptr) {
      read_material(*scene_.mMaterials[material_index], *material);
    }
    model_.palette.push_back(std::move(material));
    const auto index = static_cast<uint16_t>(model_.palette.size() - 1);
    palette_of_.emplace(material_index, index);
    return index;
  }

  static void read_rgb(const aiMaterial &source, const char *key, unsigned type, unsigned index,
                       float out[3]) {
    aiColor3D colour;
    if (source.Get(key, type, index, colour) != AI_SUCCESS) return;
    out[0] = colour.r;
    out[1] = colour.g;
    out[2] = colour.b;
  }

  static void read_material(const aiMaterial &source, mo_material &material) {
    aiString name;
    if (source.Get(AI_MATKEY_NAME, name) == AI_SUCCESS) material.name = name.C_Str();
    read_rgb(source, AI_MATKEY_COLOR_DIFFUSE, material.diffuse);
    read_rgb(source, AI_MATKEY_COLOR_AMBIENT, material.ambient);
    read_rgb(source, AI_MATKEY_COLOR_SPECULAR, material.specular);
    read_rgb(source, AI_MATKEY_COLOR_EMISSIVE, material.emissive);
    float value = 0.0f;
    if (source.Get(AI_MATKEY_SHININESS, value) == AI_SUCCESS) material.shininess = value;
    if (source.Get(AI_MATKEY_OPACITY, value) == AI_SUCCESS) material.transparency = 1.0f - value;
  }

  // The texture table's id of a material's diffuse texture (each path
  // once), -1 without one.
  int texture_of(const aiMaterial &source) {
    aiString path;
    if (source.GetTexture(aiTextureType_DIFFUSE, 0, &path) != AI_SUCCESS &&
        source.GetTexture(aiTextureType_BASE_COLOR, 0, &path) != AI_SUCCESS) {
      return -1;
    }
    const std::string text = path.C_Str();
    const auto found = texture_of_.find(text);
    if (found != texture_of_.end()) return found->second;
    const auto embedded = scene_.GetEmbeddedTextureAndIndex(text.c_str());
    if (embedded.first != nullptr) keep_image(*embedded.first, embedded.second, text);
    model_.textures.push_back(text);
    const int id = static_cast<int>(model_.textures.size() - 1);
    texture_of_.emplace(text, id);
    return id;
  }

  // Keeps an image the file embeds for the texture table's next slot,
  // ready to be written as a file: compressed data (a PNG, a JPEG) as it
  // is, texels as a TGA image; one whose format is not known here without
  // an extension.
  void keep_image(const aiTexture &texture, int index, const std::string &text) {
    EmbeddedImage image;
    image.slot = static_cast<int>(model_.textures.size());
    image.index = index;
    image.name = text;
    const char *data = reinterpret_cast<const char *>(texture.pcData);
    if (texture.mHeight == 0) {
      image.extension = extension_of(texture);
      image.bytes.assign(data, texture.mWidth);
    } else if (texture.mWidth <= 0xffff && texture.mHeight <= 0xffff) {
      image.extension = "tga";
      image.head = tga_head(texture.mWidth, texture.mHeight);
      image.bytes.assign(data, size_t{texture.mWidth} * texture.mHeight * sizeof(aiTexel));
    }
    model_.embedded_images.push_back(std::move(image));
  }

  const aiScene &scene_;
  Model &model_;
  std::vector<Planned> &plan_;
  PlanNotes &notes_;
  std::multimap<std::string, const aiLight *> lights_;
  std::multimap<std::string, const aiCamera *> cameras_;
  std::map<unsigned, uint16_t> palette_of_;
  std::map<std::string, int> texture_of_;
  std::vector<std::pair<unsigned, unsigned>> node_meshes_;  // mesh index, place in the node
  std::set<unsigned> empty_meshes_;  // each counted once; named in notes_
  std::set<unsigned> noted_meshes_;  // meshes whose parts a .x leaves out are counted
};

}  // namespace

ModelPlan plan_model(const aiScene &scene) {
  ModelPlan plan;
  ModelBuilder(scene, plan).plan();
  return plan;
}

}  // namespace molv
