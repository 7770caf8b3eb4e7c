/*
 * The Material templates of palette materials and textures: the eleven
 * numbers and their order, opt_no_specular, the texture line with the
 * directory cut of opt_strip_texture_path, opt_textures, the texture
 * material of opt_texture_material, the range guards, and two whole
 * header-and-templates files compared byte for byte.
 */
#include "xwriter/templates.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/export_harness.h"

namespace {

using qel_test::options_with;

// Every switch clear (so numbers in the "%g" form) but those given.
std::string only(std::initializer_list<std::pair<int, char>> changes) {
  return options_with("", changes);
}

// The templates of an export: from the first "Material" to the frames.
std::string templates_of(const std::string &text) {
  std::size_t begin = text.find("Material ");
  if (begin == std::string::npos) return "";
  std::size_t end = text.find("\nFrame", begin);
  return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

// The header and the templates: everything in front of the first frame.
std::string head_of(const std::string &text) { return text.substr(0, text.find("\nFrame")); }

// A scene of one triangle per entry of `objects` (each a text of
// "texture" and surface "material" keys), with the given palette and
// textures.
std::string scene(const std::string &palette, const std::string &textures,
                  std::initializer_list<std::string> objects) {
  std::string children;
  for (const std::string &object : objects) {
    if (!children.empty()) children += ", ";
    children += R"({ "vertices": [[0,0,0], [1,0,0], [0,1,0]], )" + object + " }";
  }
  return R"({ "palette": )" + palette + R"(, "textures": )" + textures +
         R"(, "world": { "children": [ )" + children + " ] } }";
}

std::string triangle(int material) {
  return R"("surfaces": [ { "material": )" + std::to_string(material) +
         R"(, "verts": [0, 1, 2] } ])";
}

std::string textured_triangle(int texture, int material) {
  return R"("texture": { "id": )" + std::to_string(texture) + " }, " + triangle(material);
}

const char kPalette[] = R"([
  {}, {}, {},
  { "diffuse": [0.8, 0.2, 0.2], "specular": [0.5, 0.5, 0.5], "shininess": 32 },
  { "diffuse": [0.1, 0.2, 0.3], "specular": [0.4, 0.5, 0.6], "emissive": [0.7, 0.8, 0.9],
    "shininess": 12.5, "transparency": 0.25 },
  { "diffuse": [0, 0.5, 1], "emissive": [0.125, 0, 0], "shininess": 2 } ])";

// ---- material templates --------------------------------------------------------

TEST(MaterialTemplate, ElevenNumbersInTheShortForm) {
  qel_test::load_scene(scene(kPalette, "[]", {triangle(3)}));
  EXPECT_EQ(templates_of(qel_test::export_text(only({{6, '1'}}))),
            "Material Mat_3 {\n"
            "  0.8; 0.2; 0.2; 1;;\n"
            "  32;\n"
            "  0.5; 0.5; 0.5;;\n"
            "  0; 0; 0;;\n"
            "}\n"
            "\n");
}

TEST(MaterialTemplate, Option18ZeroesPowerAndSpecular) {
  qel_test::load_scene(scene(kPalette, "[]", {triangle(3)}));
  EXPECT_EQ(templates_of(qel_test::export_text(only({{6, '1'}, {18, '1'}}))),
            "Material Mat_3 {\n"
            "  0.8; 0.2; 0.2; 1;;\n"
            "  0;\n"
            "  0; 0; 0;;\n"
            "  0; 0; 0;;\n"
            "}\n"
            "\n");
}

TEST(MaterialTemplate, EveryNumberInItsPlaceInTheFixedForm) {
  qel_test::load_scene(scene(kPalette, "[]", {triangle(4)}));
  EXPECT_EQ(templates_of(qel_test::export_text(only({{6, '1'}, {17, '1'}}))),
            "Material Mat_4 {\n"
            "  0.1; 0.2; 0.3; 0.75;;\n"
            "  12.5;\n"
            "  0.4; 0.5; 0.6;;\n"
            "  0.7; 0.8; 0.9;;\n"
            "}\n"
            "\n");
}

TEST(MaterialTemplate, AlphaIsTheFloatDifference) {
  // 1 - 0.0080005005 rounds to the float 0.992; the exact difference would
  // print as 0.991999 in both forms.
  qel_test::load_scene(scene(R"([ { "transparency": 0.0080005005 } ])", "[]", {triangle(0)}));
  EXPECT_NE(qel_test::export_text(only({{6, '1'}})).find("  1; 1; 1; 0.992;;\n"),
            std::string::npos);
  EXPECT_NE(qel_test::export_text(only({{6, '1'}, {17, '1'}})).find("  1.0; 1.0; 1.0; 0.992;;\n"),
            std::string::npos);
}

TEST(MaterialTemplate, OnlyUsedMaterialsInPaletteOrder) {
  // First use 5, then 3; palette 4 only on a textured object.
  qel_test::load_scene(scene(kPalette, R"(["t.png"])",
                             {triangle(5), textured_triangle(0, 4), triangle(3), triangle(5)}));
  std::string text = templates_of(qel_test::export_text(only({{6, '1'}})));
  std::size_t mat3 = text.find("Material Mat_3 {");
  std::size_t mat5 = text.find("Material Mat_5 {");
  ASSERT_NE(mat3, std::string::npos);
  ASSERT_NE(mat5, std::string::npos);
  EXPECT_LT(mat3, mat5);
  EXPECT_EQ(text.find("Mat_4"), std::string::npos);
  EXPECT_EQ(text.find("Mat_0"), std::string::npos);
  EXPECT_NE(
      text.find("Material Mat_5 {\n  0; 0.5; 1; 1;;\n  2;\n  0; 0; 0;;\n  0.125; 0; 0;;\n}\n"),
      std::string::npos);
}

TEST(MaterialTemplate, AllTexturedModelHasNoMaterialTemplate) {
  qel_test::load_scene(
      scene(kPalette, R"(["a.png", "b.png"])", {textured_triangle(1, 3), textured_triangle(0, 4)}));
  std::string text = templates_of(qel_test::export_text(qel::kDefaultOptions));
  EXPECT_EQ(text.find("Mat_"), std::string::npos);
  EXPECT_NE(text.find("Material Tex_0_4 {"), std::string::npos);
  EXPECT_NE(text.find("Material Tex_1_3 {"), std::string::npos);
  EXPECT_LT(text.find("Tex_0_4"), text.find("Tex_1_3"));
}

TEST(MaterialTemplate, Option6ClearWritesNoTemplates) {
  qel_test::load_scene(scene(kPalette, R"(["a.png"])", {triangle(3), textured_triangle(0, 4)}));
  std::string text = qel_test::export_text(options_with(qel::kDefaultOptions, {{6, '0'}}));
  EXPECT_EQ(text.find("Material "), std::string::npos);
  EXPECT_EQ(qel_test::last_debug().find("\nMaterials ...\n"), std::string::npos);
  EXPECT_EQ(qel_test::last_debug().find("\nTextures ...\n"), std::string::npos);
}

// ---- declared templates ----------------------------------------------------------

// The runtime's loaders know no VertexDuplicationIndices: a file whose
// meshes hold one declares it once, ahead of everything that is not the
// header; a file without such a block declares nothing.
TEST(DeclaredTemplate, DuplicationIndicesAreDeclaredOnlyWhereAMeshHoldsThem) {
  const std::string declaration =
      "\n\n\ntemplate VertexDuplicationIndices {\n"
      "  <B8D65549-D7C9-4995-89CF-53A9A8B031E3>\n"
      "  DWORD nIndices;\n"
      "  DWORD nOriginalVertices;\n"
      "  array DWORD indices[nIndices];\n"
      "}\n\nMaterial Mat_3 {";
  qel_test::load_scene(scene(kPalette, "[]", {triangle(3)}));
  const std::string with = qel_test::export_text(options_with(qel::kDefaultOptions, {{13, '1'}}));
  EXPECT_NE(with.find("by Quorrin Talv" + declaration), std::string::npos) << with;
  EXPECT_EQ(with.find("template", with.find("template") + 1), std::string::npos);
  EXPECT_EQ(qel_test::export_text(qel::kDefaultOptions).find("template"), std::string::npos);

  // Option 13 without a polygon to write: no block, no declaration.
  qel_test::load_scene(R"({ "world": { "children": [ { "vertices": [[0,0,0], [1,0,0]],
      "surfaces": [ { "type": "line", "verts": [0, 1] } ] } ] } })");
  const std::string none = qel_test::export_text(options_with(qel::kDefaultOptions, {{13, '1'}}));
  EXPECT_EQ(none.find("VertexDuplicationIndices"), std::string::npos) << none;
}

// ---- texture templates ------------------------------------------------------------

// The texture line the export writes for texture 0 named `name`.
std::string texture_line(const std::string &name, const std::string &options) {
  std::string json_name;
  for (char c : name) {
    if (c == '\\' || c == '"') json_name += '\\';
    json_name += c;
  }
  qel_test::load_scene(scene("[{}]", "[\"" + json_name + "\"]", {textured_triangle(0, 0)}));
  std::string text = qel_test::export_text(options);
  std::size_t begin = text.find("  TextureFileName");
  if (begin == std::string::npos) return "(none)";
  return text.substr(begin, text.find('\n', begin) + 1 - begin);
}

TEST(TextureTemplate, WhiteTemplateWithTheFileName) {
  qel_test::load_scene(scene(kPalette, R"(["D:\\maps\\wood.png"])", {textured_triangle(0, 3)}));
  EXPECT_EQ(templates_of(qel_test::export_text(only({{4, '1'}, {5, '1'}, {6, '1'}}))),
            "Material Tex_0 {\n"
            "  1; 1; 1; 1;;\n"
            "  0;\n"
            "  0; 0; 0;;\n"
            "  0; 0; 0;;\n"
            "  TextureFileName { \"wood.png\"; }\n"
            "}\n"
            "\n");
}

TEST(TextureTemplate, Option4CutsBehindTheLastSeparator) {
  const std::string strip = only({{4, '1'}, {5, '1'}, {6, '1'}});
  EXPECT_EQ(texture_line("maps/wood.png", strip), "  TextureFileName { \"wood.png\"; }\n");
  EXPECT_EQ(texture_line("a:wood.png", strip), "  TextureFileName { \"wood.png\"; }\n");
  EXPECT_EQ(texture_line("wood.png", strip), "  TextureFileName { \"wood.png\"; }\n");
  EXPECT_EQ(texture_line("C:\\a/b:c\\d.png", strip), "  TextureFileName { \"d.png\"; }\n");
  // The last character is never taken for a separator.
  EXPECT_EQ(texture_line("maps/", strip), "  TextureFileName { \"maps/\"; }\n");
  EXPECT_EQ(texture_line("a/b/", strip), "  TextureFileName { \"b/\"; }\n");
  EXPECT_EQ(texture_line("/", strip), "  TextureFileName { \"/\"; }\n");
  EXPECT_EQ(texture_line("x", strip), "  TextureFileName { \"x\"; }\n");
  EXPECT_EQ(texture_line("", strip), "  TextureFileName { \"\"; }\n");
}

TEST(TextureTemplate, Option4ClearKeepsTheWholeName) {
  const std::string whole = only({{5, '1'}, {6, '1'}});
  EXPECT_EQ(texture_line("D:\\maps\\wood.png", whole),
            "  TextureFileName { \"D:\\maps\\wood.png\"; }\n");
  EXPECT_EQ(texture_line("maps/", whole), "  TextureFileName { \"maps/\"; }\n");
  EXPECT_EQ(texture_line("", whole), "  TextureFileName { \"\"; }\n");
}

TEST(TextureTemplate, QuotesInTheNameNeverEndTheString) {
  EXPECT_EQ(texture_line("dir\"x/say \"hi\".png", only({{4, '1'}, {5, '1'}, {6, '1'}})),
            "  TextureFileName { \"say _hi_.png\"; }\n");
  EXPECT_EQ(texture_line("\"q\"/a%sb.png", only({{5, '1'}, {6, '1'}})),
            "  TextureFileName { \"_q_/a%sb.png\"; }\n");
}

TEST(TextureTemplate, LongNamesAreWrittenWhole) {
  std::string name(2000, 'n');
  name += ".png";
  EXPECT_EQ(texture_line("dir/" + name, only({{4, '1'}, {5, '1'}, {6, '1'}})),
            "  TextureFileName { \"" + name + "\"; }\n");
}

TEST(TextureTemplate, Option5ClearEndsAfterTheEmissiveLine) {
  qel_test::load_scene(scene(kPalette, R"(["wood.png"])", {textured_triangle(0, 3)}));
  EXPECT_EQ(templates_of(qel_test::export_text(only({{4, '1'}, {6, '1'}}))),
            "Material Tex_0 {\n"
            "  1; 1; 1; 1;;\n"
            "  0;\n"
            "  0; 0; 0;;\n"
            "  0; 0; 0;;\n"
            "}\n"
            "\n");
}

TEST(TextureTemplate, Option19NamesAndColoursByTheFirstMaterial) {
  // Texture 2 first on palette material 5, later on 3 and 4.
  qel_test::load_scene(scene(
      kPalette, R"(["t0.png", "t1.png", "maps/t2.png"])",
      {triangle(0), textured_triangle(2, 5), textured_triangle(2, 3), textured_triangle(2, 4)}));
  EXPECT_EQ(templates_of(qel_test::export_text(only({{4, '1'}, {5, '1'}, {6, '1'}, {19, '1'}}))),
            "Material Mat_0 {\n"
            "  1; 1; 1; 1;;\n"
            "  0;\n"
            "  0; 0; 0;;\n"
            "  0; 0; 0;;\n"
            "}\n"
            "\n"
            "Material Tex_2_5 {\n"
            "  0; 0.5; 1; 1;;\n"
            "  2;\n"
            "  0; 0; 0;;\n"
            "  0.125; 0; 0;;\n"
            "  TextureFileName { \"t2.png\"; }\n"
            "}\n"
            "\n");
}

TEST(TextureTemplate, Option19AppliesOption18) {
  qel_test::load_scene(scene(kPalette, R"(["t.png"])", {textured_triangle(0, 4)}));
  EXPECT_EQ(templates_of(qel_test::export_text(only({{6, '1'}, {18, '1'}, {19, '1'}}))),
            "Material Tex_0_4 {\n"
            "  0.1; 0.2; 0.3; 0.75;;\n"
            "  0;\n"
            "  0; 0; 0;;\n"
            "  0.7; 0.8; 0.9;;\n"
            "}\n"
            "\n");
}

// ---- range guards, on maps set by hand ------------------------------------------------

class TemplateRangeGuards : public ::testing::Test {
 protected:
  void SetUp() override {
    qel_test::load_scene(R"({
      "palette": [ { "diffuse": [0.25, 0.25, 0.25] }, { "diffuse": [0.5, 0.5, 0.5] },
                   { "diffuse": [0.75, 0.75, 0.75] } ],
      "textures": ["a.png", "b.png"],
      "world": {} })");
  }
  // Writes both kinds of templates with the maps given (the test's, not
  // the host's: the run lets go of them before it ends).
  std::string write(const std::string &options, int32_t *mat, int mat_count, int32_t *tex,
                    int tex_count) {
    qel_test::StringRun r(options);
    qel::MaterialMaps &maps = r.run.maps;
    maps.mat_list = mat;
    maps.mat_count = mat_count;
    maps.tex_list = tex;
    maps.tex_material = tex + tex_count;
    maps.tex_count = tex_count;
    qel::write_materials(r.run);
    qel::write_texture_materials(r.run);
    maps.mat_list = maps.tex_list = maps.tex_material = nullptr;
    return r.text();
  }
};

TEST_F(TemplateRangeGuards, NothingBeyondTheMapsIsRead) {
  // Maps made for a palette of 2 and 1 texture; the host now has 3 and 2.
  int32_t mat[] = {-1, 0};
  int32_t tex[] = {-1, -1};
  std::string text = write(only({{6, '1'}, {19, '1'}}), mat, 2, tex, 1);
  EXPECT_EQ(text, "Material Mat_1 {\n  0.5; 0.5; 0.5; 1;;\n  0;\n  0; 0; 0;;\n  0; 0; 0;;\n}\n\n");
}

TEST_F(TemplateRangeGuards, TextureMaterialBeyondThePaletteCountsAsZero) {
  int32_t mat[] = {-1, -1, -1};
  int32_t tex[] = {0, 0, 7, -1};  // tex_list {0, 0}, tex_material {7, -1}
  std::string text = write(only({{6, '1'}, {19, '1'}}), mat, 3, tex, 2);
  EXPECT_EQ(text,
            "Material Tex_0_0 {\n  0.25; 0.25; 0.25; 1;;\n  0;\n  0; 0; 0;;\n  0; 0; 0;;\n}\n\n"
            "Material Tex_1_0 {\n  0.25; 0.25; 0.25; 1;;\n  0;\n  0; 0; 0;;\n  0; 0; 0;;\n}\n\n");
}

TEST_F(TemplateRangeGuards, EmptyPaletteGivesAWhiteTextureTemplate) {
  qel_test::load_scene(R"({ "palette": [], "textures": ["a.png"], "world": {} })");
  int32_t mat[] = {-1};
  int32_t tex[] = {0, 0};
  std::string text = write(only({{5, '1'}, {6, '1'}, {19, '1'}}), mat, 0, tex, 1);
  EXPECT_EQ(text,
            "Material Tex_0_0 {\n  1; 1; 1; 1;;\n  0;\n  0; 0; 0;;\n  0; 0; 0;;\n"
            "  TextureFileName { \"a.png\"; }\n}\n\n");
}

// ---- whole files ----------------------------------------------------------------------

TEST(TemplatesGolden, FixedFormWithModelInformationAndTextureMaterials) {
  qel_test::load_scene(qel_test::golden("templates_fixed.json"));
  // opt_optimize_vertices clear: the placeholder keeps the corner total of pass 1.
  std::string text =
      qel_test::export_text(options_with(qel::kDefaultOptions, {{1, '1'}, {23, '0'}}));
  EXPECT_EQ(head_of(text), qel_test::golden("templates_fixed.x"));
}

TEST(TemplatesGolden, ShortFormWithWhiteTextureTemplates) {
  qel_test::load_scene(qel_test::golden("templates_short.json"));
  std::string text = qel_test::export_text(only({{4, '1'}, {5, '1'}, {6, '1'}}));
  EXPECT_EQ(head_of(text), qel_test::golden("templates_short.x"));
}

}  // namespace
