/*
 * Counting what a written .x file holds, for the line after an export:
 * only the counts ahead of each Mesh's vertex and face lists count, never
 * the template of the same name, comments or the blocks inside a mesh.
 */
#include "common/x_summary.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/child_process.h"

namespace {

molv::XFileCounts count(const std::string &text) {
  molv::XFileCounts counts;
  std::string error;
  EXPECT_TRUE(molv::count_x_text(text.data(), text.size(), &counts, &error)) << error;
  return counts;
}

TEST(XSummary, CountsTheMeshBlocksOnly) {
  const std::string text =
      "xof 0302txt 0064\n"
      "template Mesh {\n <3D82AB44-62DA-11cf-AB39-0020AF71E433>\n DWORD nVertices;\n}\n"
      "// DATA *Mesh x {  ## Mesh 7; ##\n"
      "Frame box {\n"
      "Mesh box {\n4;\n0.0;0.0;0.0;,\n1.0;0.0;0.0;,\n1.0;1.0;0.0;,\n0.0;1.0;0.0;;\n\n"
      "2;\n3;0,1,2;,\n3;0,2,3;;\n\n"
      "MeshNormals{\n4;\n0.0;0.0;1.0;,\n0.0;0.0;1.0;,\n0.0;0.0;1.0;,\n0.0;0.0;1.0;;\n\n"
      "2;\n3;0,1,2;,\n3;0,2,3;;\n}\n"
      "VertexDuplicationIndices {\n4;\n4;\n0,\n1,\n2,\n3;\n}\n}\n}\n"
      // Lines only: the mesh is there, with nothing in it.
      "Mesh outline {\n0;;\n\n0;\n\nMeshMaterialList {\n0;\n0;\n}\n}\n"
      "Mesh tri {\n3;\n0.0;0.0;0.0;,\n1.0;0.0;0.0;,\n0.0;1.0;0.0;;\n\n1;\n3;0,1,2;;\n}";
  const molv::XFileCounts counts = count(text);
  EXPECT_EQ(counts.bytes, text.size());
  EXPECT_EQ(counts.meshes, 3u);
  EXPECT_EQ(counts.vertices, 7u);
  EXPECT_EQ(counts.faces, 3u);

  const molv::XFileCounts none = count("xof 0302txt 0064\n\nFrame WORLD {\n}\n");
  EXPECT_EQ(none.meshes, 0u);
  EXPECT_EQ(none.faces, 0u);
}

TEST(XSummary, AMeshOfAnotherFormIsNamed) {
  molv::XFileCounts counts;
  std::string error;
  const std::string no_count = "Mesh a {\n  x;\n}\n";
  EXPECT_FALSE(molv::count_x_text(no_count.data(), no_count.size(), &counts, &error));
  EXPECT_EQ(error, "mesh 1: no vertex count");
  // A vertex list longer than its count runs into the face count's place.
  const std::string long_list =
      "Mesh a {\n1;\n0;0;0;,\n1;1;1;;\n\n1;\n3;0,0,0;;\n}\nMesh b {\n2;\n0;0;0;,\n0;1;0;;\n\n"
      "1;\n2;0,1;;\n}\n";
  EXPECT_FALSE(molv::count_x_text(long_list.data(), long_list.size(), &counts, &error));
  EXPECT_EQ(error, "mesh 1: no face count after its vertices");
}

// A large file is searched for its meshes a stretch at a time, letting
// the pages behind go: a mesh that opens on any byte around the end of a
// stretch is still found, from a file as from a text.
TEST(XSummary, MeshesPastLongBlocksAreFoundWhereverTheyStart) {
  const qel_test::TempDir dir("x_summary");
  const std::string head = "Mesh a {\n1;\n0;0;0;;\n\n1;\n1;0;;\n";
  const std::string tail = "Mesh b {\n2;\n0;0;0;,\n0;1;0;;\n\n1;\n2;0,1;;\n}\n";
  constexpr size_t kMiB = size_t{1} << 20;
  std::vector<size_t> places;
  for (size_t at = kMiB - 16; at <= kMiB + 8; ++at) places.push_back(at);
  places.push_back(3 * kMiB + 2);
  for (const size_t at : places) {
    // "Mesh b" opens AT bytes after mesh a's face count, over a block of
    // lines none of which opens a mesh ("Mesh" inside a line does not).
    std::string text = head;
    const size_t start = text.size();
    while (text.size() - start + 32 < at) text += "0.5;0.5;0.5;, MeshNormals Mesh\n";
    text += std::string(at - (text.size() - start) - 1, ' ') + "\n";
    ASSERT_EQ(text.size() - start, at);
    text += tail;

    molv::XFileCounts counts;
    std::string error;
    ASSERT_TRUE(molv::count_x_text(text.data(), text.size(), &counts, &error)) << error;
    EXPECT_EQ(counts.meshes, 2u) << at;
    EXPECT_EQ(counts.vertices, 3u) << at;
    EXPECT_EQ(counts.faces, 2u) << at;

    const std::string path = dir.path() + "/large.x";
    qel_test::write_file(path, text);
    molv::XFileCounts from_file;
    ASSERT_TRUE(molv::count_x_file(path, &from_file, &error)) << error;
    EXPECT_EQ(from_file.meshes, 2u) << at;
    EXPECT_EQ(from_file.faces, 2u) << at;
    EXPECT_EQ(from_file.bytes, text.size());
  }
  // A pipe at the name (nobody writing it) is refused at once, not waited on.
  const std::string fifo = dir.path() + "/pipe.x";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  molv::XFileCounts none;
  std::string error;
  EXPECT_FALSE(molv::count_x_file(fifo, &none, &error));
  EXPECT_EQ(error, fifo + ": not a regular file");
}

TEST(XSummary, SizesAsPeopleReadThem) {
  EXPECT_EQ(molv::size_text(1), "1 byte");
  EXPECT_EQ(molv::size_text(999), "999 bytes");
  EXPECT_EQ(molv::size_text(1000), "1.0 kB");
  EXPECT_EQ(molv::size_text(999949), "999.9 kB");
  EXPECT_EQ(molv::size_text(999950), "1.0 MB");
  EXPECT_EQ(molv::size_text(88'123'456), "88.1 MB");
  EXPECT_EQ(molv::size_text(5'000'000'000), "5.0 GB");
}

}  // namespace
