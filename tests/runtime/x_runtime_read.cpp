/*
 * A Windows program that reads .x files as the DirectX runtime does: each
 * file is parsed with the retained-mode file parser (IDirectXFile) and
 * loaded with D3DX9's hierarchy loader, and one line per file tells what
 * each of them saw.  Built with mingw-w64 and run under Wine by the suite.
 *
 *   x_runtime_read FILE.x...
 *
 * A line per file, on standard output:
 *   FILE: ok xof frames=F meshes=M d3dx frames=F meshes=M vertices=V
 *         faces=T materials=N textures=a.png|b.png
 * (texture names with their control bytes, '|' and '\' as \xHH)
 * (one line) or FILE: error <stage> 0x<HRESULT>.  The exit status is 1
 * when any file failed, 2 when no Direct3D device could be made.
 */
#include <windows.h>

#include <d3d9.h>
#include <d3dx9.h>
#include <dxfile.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The retained-mode templates the D3DX loaders register, as the format's
// documentation gives them (only the ones a mesh file of ours can use).
const char kTemplates[] =
    "xof 0302txt 0064\n"
    "template Vector { <3D82AB5E-62DA-11CF-AB39-0020AF71E433> FLOAT x; FLOAT y; FLOAT z; }\n"
    "template Coords2d { <F6F23F44-7686-11CF-8F52-0040333594A3> FLOAT u; FLOAT v; }\n"
    "template Matrix4x4 { <F6F23F45-7686-11CF-8F52-0040333594A3> array FLOAT matrix[16]; }\n"
    "template ColorRGBA { <35FF44E0-6C7C-11CF-8F52-0040333594A3> FLOAT red; FLOAT green; "
    "FLOAT blue; FLOAT alpha; }\n"
    "template ColorRGB { <D3E16E81-7835-11CF-8F52-0040333594A3> FLOAT red; FLOAT green; "
    "FLOAT blue; }\n"
    "template TextureFilename { <A42790E1-7810-11CF-8F52-0040333594A3> STRING filename; }\n"
    "template Material { <3D82AB4D-62DA-11CF-AB39-0020AF71E433> ColorRGBA faceColor; "
    "FLOAT power; ColorRGB specularColor; ColorRGB emissiveColor; [...] }\n"
    "template MeshFace { <3D82AB5F-62DA-11CF-AB39-0020AF71E433> DWORD nFaceVertexIndices; "
    "array DWORD faceVertexIndices[nFaceVertexIndices]; }\n"
    "template MeshTextureCoords { <F6F23F40-7686-11CF-8F52-0040333594A3> DWORD "
    "nTextureCoords; array Coords2d textureCoords[nTextureCoords]; }\n"
    "template MeshMaterialList { <F6F23F42-7686-11CF-8F52-0040333594A3> DWORD nMaterials; "
    "DWORD nFaceIndexes; array DWORD faceIndexes[nFaceIndexes]; [Material <3D82AB4D-62DA-"
    "11CF-AB39-0020AF71E433>] }\n"
    "template MeshNormals { <F6F23F43-7686-11CF-8F52-0040333594A3> DWORD nNormals; array "
    "Vector normals[nNormals]; DWORD nFaceNormals; array MeshFace faceNormals[nFaceNormals]; }\n"
    "template Mesh { <3D82AB44-62DA-11CF-AB39-0020AF71E433> DWORD nVertices; array Vector "
    "vertices[nVertices]; DWORD nFaces; array MeshFace faces[nFaces]; [...] }\n"
    "template FrameTransformMatrix { <F6F23F41-7686-11CF-8F52-0040333594A3> Matrix4x4 "
    "frameMatrix; }\n"
    "template Frame { <3D82AB46-62DA-11CF-AB39-0020AF71E433> [...] }\n";

const GUID kFrame = {0x3D82AB46, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
const GUID kMesh = {0x3D82AB44, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};

struct XofCounts {
  int frames = 0;
  int meshes = 0;
};

// Every data object below `data`, references not followed.
HRESULT walk_xof(IDirectXFileData *data, XofCounts &counts) {
  const GUID *type = nullptr;
  HRESULT hr = data->GetType(&type);
  if (FAILED(hr)) return hr;
  if (IsEqualGUID(*type, kFrame)) ++counts.frames;
  if (IsEqualGUID(*type, kMesh)) ++counts.meshes;
  for (;;) {
    IDirectXFileObject *child = nullptr;
    hr = data->GetNextObject(&child);
    if (hr == DXFILEERR_NOMOREOBJECTS) return S_OK;
    if (FAILED(hr)) return hr;
    IDirectXFileData *child_data = nullptr;
    if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileData,
                                        reinterpret_cast<void **>(&child_data)))) {
      hr = walk_xof(child_data, counts);
      child_data->Release();
    }
    child->Release();
    if (FAILED(hr)) return hr;
  }
}

HRESULT parse_xof(const char *path, XofCounts &counts) {
  IDirectXFile *file = nullptr;
  HRESULT hr = DirectXFileCreate(&file);
  if (FAILED(hr)) return hr;
  hr = file->RegisterTemplates(const_cast<char *>(kTemplates), sizeof kTemplates - 1);
  IDirectXFileEnumObject *objects = nullptr;
  if (SUCCEEDED(hr)) {
    hr = file->CreateEnumObject(const_cast<char *>(path), DXFILELOAD_FROMFILE, &objects);
  }
  while (SUCCEEDED(hr)) {
    IDirectXFileData *data = nullptr;
    hr = objects->GetNextDataObject(&data);
    if (hr == DXFILEERR_NOMOREOBJECTS) {
      hr = S_OK;
      break;
    }
    if (SUCCEEDED(hr)) {
      hr = walk_xof(data, counts);
      data->Release();
    }
  }
  if (objects != nullptr) objects->Release();
  file->Release();
  return hr;
}

char *copy_name(const char *name) {
  if (name == nullptr) return nullptr;
  char *copy = new char[std::strlen(name) + 1];
  std::strcpy(copy, name);
  return copy;
}

// What the loader hands over, counted and kept until the hierarchy is
// destroyed.
struct Allocator : ID3DXAllocateHierarchy {
  int frames = 0, meshes = 0, materials = 0;
  unsigned long vertices = 0, faces = 0;
  std::string textures;

  STDMETHOD(CreateFrame)(const char *name, D3DXFRAME **new_frame) override {
    auto *frame = new D3DXFRAME();
    frame->Name = copy_name(name);
    D3DXMatrixIdentity(&frame->TransformationMatrix);
    *new_frame = frame;
    ++frames;
    return S_OK;
  }
  STDMETHOD(CreateMeshContainer)(const char *name, const D3DXMESHDATA *data,
                                 const D3DXMATERIAL *mats, const D3DXEFFECTINSTANCE *,
                                 DWORD num_materials, const DWORD *, ID3DXSkinInfo *,
                                 D3DXMESHCONTAINER **new_container) override {
    auto *container = new D3DXMESHCONTAINER();
    container->Name = copy_name(name);
    container->MeshData = *data;
    data->pMesh->AddRef();
    ++meshes;
    vertices += data->pMesh->GetNumVertices();
    faces += data->pMesh->GetNumFaces();
    materials += static_cast<int>(num_materials);
    for (DWORD i = 0; i < num_materials; ++i) {
      const char *texture = mats[i].pTextureFilename;
      if (texture == nullptr || *texture == '\0') continue;
      if (!textures.empty()) textures += '|';
      // One line per file: control bytes, '|' and '\\' as \xHH.
      for (const char *p = texture; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        textures += c < 32 || c == '|' || c == '\\' ? std::string(hex) : std::string(1, *p);
      }
    }
    *new_container = container;
    return S_OK;
  }
  STDMETHOD(DestroyFrame)(D3DXFRAME *frame) override {
    delete[] frame->Name;
    delete frame;
    return S_OK;
  }
  STDMETHOD(DestroyMeshContainer)(D3DXMESHCONTAINER *container) override {
    if (container->MeshData.pMesh != nullptr) container->MeshData.pMesh->Release();
    delete[] container->Name;
    delete container;
    return S_OK;
  }
};

IDirect3DDevice9 *make_device() {
  IDirect3D9 *d3d = Direct3DCreate9(D3D_SDK_VERSION);
  if (d3d == nullptr) return nullptr;
  HWND window = CreateWindowA("STATIC", "x", WS_OVERLAPPEDWINDOW, 0, 0, 64, 64, nullptr,
                              nullptr, GetModuleHandleA(nullptr), nullptr);
  D3DPRESENT_PARAMETERS params = {};
  params.Windowed = TRUE;
  params.SwapEffect = D3DSWAPEFFECT_DISCARD;
  params.BackBufferFormat = D3DFMT_UNKNOWN;
  params.hDeviceWindow = window;
  IDirect3DDevice9 *device = nullptr;
  if (FAILED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                               D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device))) {
    device = nullptr;
  }
  d3d->Release();
  return device;
}

}  // namespace

int main(int argc, char **argv) {
  IDirect3DDevice9 *device = make_device();
  if (device == nullptr) {
    std::fprintf(stderr, "x_runtime_read: no Direct3D 9 device\n");
    return 2;
  }
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    const char *path = argv[i];
    XofCounts xof;
    HRESULT hr = parse_xof(path, xof);
    if (FAILED(hr)) {
      std::printf("%s: error d3dxof 0x%08lx\n", path, static_cast<unsigned long>(hr));
      status = 1;
      continue;
    }
    Allocator alloc;
    D3DXFRAME *root = nullptr;
    hr = D3DXLoadMeshHierarchyFromXA(path, D3DXMESH_SYSTEMMEM, device, &alloc, nullptr, &root,
                                     nullptr);
    if (FAILED(hr)) {
      std::printf("%s: error d3dx 0x%08lx\n", path, static_cast<unsigned long>(hr));
      status = 1;
      continue;
    }
    std::printf(
        "%s: ok xof frames=%d meshes=%d d3dx frames=%d meshes=%d vertices=%lu faces=%lu "
        "materials=%d textures=%s\n",
        path, xof.frames, xof.meshes, alloc.frames, alloc.meshes, alloc.vertices, alloc.faces,
        alloc.materials, alloc.textures.c_str());
    D3DXFrameDestroy(root, &alloc);
  }
  std::fflush(stdout);
  device->Release();
  return status;
}
