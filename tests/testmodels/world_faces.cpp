#include "world_faces.h"

#include <assimp/config.h>
#include <assimp/material.h>
#include <assimp/scene.h>

#include <algorithm>
#include <assimp/Importer.hpp>
#include <unordered_set>

namespace testmodels {

namespace {

FaceMaterial read_material(const aiMaterial &source, bool any_kind) {
  FaceMaterial material;
  material.has_diffuse = source.Get(AI_MATKEY_COLOR_DIFFUSE, material.diffuse) == AI_SUCCESS;
  int two_sided = 0;
  material.two_sided = source.Get(AI_MATKEY_TWOSIDED, two_sided) == AI_SUCCESS && two_sided != 0;
  // The diffuse texture (glTF: the base colour's), as molv's import takes
  // it.  Assimp's .x reader files a texture whose name holds "bump",
  // "normal", the short word for specular and the like under that kind of
  // map instead, so in a file of ours, which names diffuse textures only,
  // any kind will do.
  aiString path;
  if (source.GetTexture(aiTextureType_DIFFUSE, 0, &path) == AI_SUCCESS ||
      source.GetTexture(aiTextureType_BASE_COLOR, 0, &path) == AI_SUCCESS) {
    material.texture = path.C_Str();
    return material;
  }
  if (!any_kind) return material;
  for (int type = aiTextureType_SPECULAR; type <= aiTextureType_UNKNOWN; ++type) {
    if (source.GetTexture(static_cast<aiTextureType>(type), 0, &path) == AI_SUCCESS) {
      material.texture = path.C_Str();
      break;
    }
  }
  return material;
}

// One mesh's polygon faces, placed by `global`.
void add_mesh(const aiMesh &mesh, const aiMatrix4x4 &global, uint32_t mesh_number,
              WorldFaces *out) {
  aiMatrix3x3 turn(global);
  turn.Inverse().Transpose();
  const bool normals = mesh.HasNormals();
  const bool uv = mesh.HasTextureCoords(0);
  for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
    const aiFace &face = mesh.mFaces[f];
    if (face.mNumIndices < 3) {
      out->lines += face.mNumIndices > 0 ? 1 : 0;
      continue;
    }
    const auto none = static_cast<uint32_t>(out->materials.size() - 1);
    out->faces.push_back({static_cast<uint32_t>(out->position.size()), face.mNumIndices,
                          std::min(mesh.mMaterialIndex, none), mesh_number, normals, uv});
    for (unsigned k = 0; k < face.mNumIndices; ++k) {
      const unsigned i = face.mIndices[k];
      out->position.push_back(global * mesh.mVertices[i]);
      out->normal.push_back(normals ? (turn * mesh.mNormals[i]).NormalizeSafe() : aiVector3D());
      const aiVector3D t = uv ? mesh.mTextureCoords[0][i] : aiVector3D();
      out->uv.emplace_back(t.x, t.y);
    }
  }
}

// Whatever in the scene would make the walk read outside it.
const char *broken(const aiScene &scene, const aiNode &node) {
  for (unsigned i = 0; i < node.mNumMeshes; ++i) {
    const unsigned index = node.mMeshes[i];
    if (index >= scene.mNumMeshes || scene.mMeshes[index] == nullptr) {
      return "a node names a mesh the scene lacks";
    }
    const aiMesh &mesh = *scene.mMeshes[index];
    for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
      for (unsigned k = 0; k < mesh.mFaces[f].mNumIndices; ++k) {
        if (mesh.mFaces[f].mIndices[k] >= mesh.mNumVertices) return "a face names no vertex";
      }
    }
  }
  return nullptr;
}

}  // namespace

bool read_world_faces(const std::string &path, bool written_by_us, WorldFaces *out,
                      std::string *error) {
  Assimp::Importer importer;
  // Without the skeleton meshes Assimp makes up for a file with no
  // geometry: they are not the model's (molv leaves them out too).
  importer.SetPropertyBool(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, true);
  const aiScene *scene = importer.ReadFile(path, 0);
  if (scene == nullptr || scene->mRootNode == nullptr) {
    *error = scene == nullptr ? importer.GetErrorString() : "no scene";
    return false;
  }
  for (unsigned m = 0; m < scene->mNumMaterials; ++m) {
    out->materials.push_back(scene->mMaterials[m] != nullptr
                                 ? read_material(*scene->mMaterials[m], written_by_us)
                                 : FaceMaterial());
  }
  // Last, the one for a mesh that names a material the scene lacks.
  out->materials.emplace_back();
  // Depth first, a node's meshes before its children, children in order.
  struct Visit {
    const aiNode *node;
    aiMatrix4x4 parent_global;
  };
  std::vector<Visit> stack{{scene->mRootNode, aiMatrix4x4()}};
  std::unordered_set<const aiNode *> seen;
  uint32_t mesh_number = 0;
  while (!stack.empty()) {
    const Visit visit = stack.back();
    stack.pop_back();
    const aiNode &node = *visit.node;
    if (!seen.insert(&node).second) {
      *error = "the node tree runs in a circle";
      return false;
    }
    if (const char *reason = broken(*scene, node)) {
      *error = reason;
      return false;
    }
    const aiMatrix4x4 global = visit.parent_global * node.mTransformation;
    for (unsigned i = 0; i < node.mNumMeshes; ++i) {
      add_mesh(*scene->mMeshes[node.mMeshes[i]], global, mesh_number++, out);
    }
    for (unsigned i = node.mNumChildren; i-- > 0;) {
      if (node.mChildren[i] != nullptr) stack.push_back({node.mChildren[i], global});
    }
  }
  return true;
}

}  // namespace testmodels
