/*
 * The molv window end to end: the built molv runs `molv gui --script` on a
 * private X display and the script works the window as a user would: the
 * object tree, File > Open, File > Export > Direct X ..., the export dialog
 * and its buttons, Tk's save dialog.  Clicks on the dialog are pointer
 * events through the buttons' own bindings.  What the script prints on
 * standard output and the files left behind are checked here.
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/options.h"
#include "support/grid_scene.h"
#include "support/child_process.h"
#include "support/export_harness.h"
#include "support/plugin_dir.h"
#include "support/run_molv.h"
#include "support/virtual_display.h"
#include "support/window_test.h"

namespace fs = std::filesystem;

namespace {

constexpr const char *kDefaultOptions = qel::kDefaultOptions;

// Tcl the scripts share: a click on a widget, now or (when "tail") at the
// next event pass, and the object tree as indented rows.  An error in an
// event handler ends molv at once instead of waiting in Tk's error window.
constexpr const char *kScriptHelpers = R"(
interp bgerror {} {apply {{message options} {puts "bgerror=$message"; exit 9}}}
proc click {w {when now}} {
    foreach event {<Enter> <ButtonPress-1> <ButtonRelease-1>} {
        event generate $w $event -x 3 -y 3 -when $when
    }
}
proc set_name {name} {
    .x_export_save.file.name delete 0 end
    .x_export_save.file.name insert 0 $name
}
proc tree_rows {{item {}} {depth 0}} {
    foreach child [.tree children $item] {
        puts "row=[string repeat . $depth][.tree item $child -text]|[join [.tree item $child -values] |]"
        tree_rows $child [expr {$depth + 1}]
    }
}
# The plug-in's messages are Tk message boxes; here they are printed.
proc tk_messageBox {args} {
    puts "message=[dict get $args -message]"
    return ok
}
)";

using qel_test::grid_scene;

// A group with a box and a lamp, and an unnamed triangle with a line and a
// subdivided form.
constexpr const char *kTreeScene = R"({"world": {"children": [
  {"name": "Props", "children": [
    {"name": "Box", "vertices": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]],
     "surfaces": [{"verts": [0,1,2,3]}]},
    {"name": "Lamp", "type": "light"}]},
  {"vertices": [[0,0,0],[1,0,0],[0,1,0]],
   "surfaces": [{"verts": [0,1,2]}, {"type": "line", "verts": [0,1]}],
   "subdivided": {"vertices": [[0,0,0],[1,0,0],[0,1,0]], "surfaces": [{"verts": [0,1,2]}]}}
]}})";

std::vector<std::string> lines_with(const std::string &text, const std::string &prefix) {
  std::vector<std::string> found;
  for (const std::string &line : qel_test::text_lines(text))
    if (line.rfind(prefix, 0) == 0) found.push_back(line.substr(prefix.size()));
  return found;
}

std::string value_of(const std::string &text, const std::string &key) {
  const auto found = lines_with(text, key + "=");
  return found.empty() ? "<no " + key + ">" : found.back();
}

class Window : public qel_test::WindowTest {
 protected:
  Window() : WindowTest("gui") {}

  // molv gui [SCENE] --script with the helpers and then SCRIPT.
  qel_test::RunResult run_gui(const std::string &script, const std::string &scene = "",
                              std::vector<std::string> extra = {}) {
    return run_script(std::string(kScriptHelpers) + script, scene, extra, 90);
  }

  std::vector<std::string> files_left() const {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(work_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

// ---- the window ------------------------------------------------------------------

TEST_F(Window, ShowsTheObjectTreeTheSummaryAndTheExportMenu) {
  const std::string scene = write("tree.json", kTreeScene);
  const auto r = run_gui(R"(
    puts "title=[wm title .]"
    puts "export=[.menubar.file.export entrycget 0 -label]"
    set entries 0
    for {set i 0} {$i <= [.menubar.file.export index end]} {incr i} {
        incr entries [expr {[.menubar.file.export type $i] eq "command"}]
    }
    puts "entries=$entries"
    puts "status=$::molv::status"
    puts "summary=[.summary cget -text]"
    tree_rows
    exit 3
  )",
                         scene);
  EXPECT_EQ(r.exit_status, 3) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(value_of(r.out, "title"), "molv - tree.json");
  EXPECT_EQ(value_of(r.out, "export"), "Direct X ...");
  EXPECT_EQ(value_of(r.out, "entries"), "1");
  EXPECT_EQ(value_of(r.out, "status"),
            "Opened tree.json: 4 objects, 7 vertices, 3 surfaces; size 1 x 1 x 0 (x y z)");
  EXPECT_EQ(value_of(r.out, "summary"), "Objects : 4    Vertices : 7    Surfaces : 3");
  // A group counts everything below it.
  EXPECT_EQ(lines_with(r.out, "row="), (std::vector<std::string>{
                                           "world|world|7|3",
                                           ".Props|group|4|1",
                                           "..Box|polygon|4|1",
                                           "..Lamp|light|0|0",
                                           ".(no name)|polygon, subdivided|3|2",
                                       }));
}

TEST_F(Window, WithoutThePluginTheExportMenuSaysSo) {
  fs::create_directory(work_ + "/empty");
  const auto r = run_gui(R"(
    puts "export=[.menubar.file.export entrycget 0 -label]"
    puts "state=[.menubar.file.export entrycget 0 -state]"
    exit 0
  )",
                         "", {"--plugin-dir", work_ + "/empty"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(value_of(r.out, "export"), "(no plug-in)");
  EXPECT_EQ(value_of(r.out, "state"), "disabled");
  // The reason is on standard error, once.
  EXPECT_EQ(qel_test::text_lines(r.err).size(), 1u) << r.err;
}

// ---- exporting from the dialog ---------------------------------------------------

TEST_F(Window, ExportFromTheDialogWritesWhatMolvExportWrites) {
  const auto r = run_gui(R"(
    .menubar.file.export invoke 0
    update
    # Two changes: vertex duplication indices on, two decimal places.
    click $::qel_export::button(13)
    .x_export_save.groups.numbers.decimals set 2
    set_name "from dialog.x"
    click .x_export_save.buttons.export
    puts "status=$::molv::status"
    puts "progress=$::molv::progress"
    puts "dialog=[winfo exists .x_export_save]"
    puts "grab=[grab current]"
    exit 0
  )");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(value_of(r.out, "status"), "Ready !");
  EXPECT_EQ(value_of(r.out, "progress"), "0");
  EXPECT_EQ(value_of(r.out, "dialog"), "0") << "a complete export closes the dialog";
  EXPECT_EQ(value_of(r.out, "grab"), "");

  std::string expected = kDefaultOptions;
  expected[13] = '1';
  expected[49] = '2';
  // The plug-in saved what the dialog sent.
  EXPECT_EQ(qel_test::read_file(plugin_.options_file()), expected);

  qel_test::PluginDir reference_plugin;
  qel_test::RunOptions reference;
  reference.args = {"export",    "-o",     "reference", "--plugin-dir", reference_plugin.path(),
                    "--options", expected, "--quiet"};
  reference.cwd = work_;
  const auto ref = qel_test::run_molv(reference);
  ASSERT_EQ(ref.exit_status, 0) << ref.err;
  const std::string from_dialog = qel_test::read_file(work_ + "/from dialog.x");
  EXPECT_FALSE(from_dialog.empty());
  EXPECT_EQ(from_dialog, qel_test::read_file(work_ + "/reference.x"));
}

// What the command line says after an export the window says too: a
// texture the written .x names that is not beside it, under the load's own
// warnings, and the choice that mends it.
TEST_F(Window, AnExportsWarningsJoinTheLoadsInThePanel) {
  write("m.mtl", "newmtl t\nKd 1 0 0\nmap_Kd wood.png\n");
  const std::string model = write(
      "m.obj", "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nusemtl t\nf 1/1 2/1 3/1\nl 1 2\n");
  const auto r = run_gui(R"(
    puts "before=[.warnings cget -text]"
    .menubar.file.export invoke 0
    update
    set_name "out"
    click .x_export_save.buttons.export
    update
    puts "after=[join [split [.warnings cget -text] \n] |]"
    update
    puts "copy_offered=[winfo ismapped .textures.copy]"
    exit 0
  )",
                         model);
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(value_of(r.out, "before").rfind("warning: 1 line segment left out", 0), 0u) << r.out;
  EXPECT_EQ(value_of(r.out, "after"),
            value_of(r.out, "before") +
                "|warning: the .x names 1 texture that is not beside it: wood.png")
      << r.out;
  // The texture missing beside the .x: Copy textures is offered for the
  // next export.
  EXPECT_EQ(value_of(r.out, "copy_offered"), "1");
}

// A glTF triangle per image, each with a base colour texture of its own:
// an image is a URI, a data URI for one the model embeds.
std::string textured_triangle(const std::vector<std::string> &images) {
  std::string primitives, materials, textures, uris;
  for (size_t i = 0; i < images.size(); ++i) {
    const std::string n = std::to_string(i), comma = i == 0 ? "" : ",";
    primitives += comma + R"({"attributes": {"POSITION": 0}, "material": )" + n + "}";
    materials += comma + R"({"pbrMetallicRoughness": {"baseColorTexture": {"index": )" + n + "}}}";
    textures += comma + R"({"source": )" + n + "}";
    uris += comma + R"({"uri": ")" + images[i] + "\"}";
  }
  return R"({"asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}],
    "nodes": [{"mesh": 0}], "meshes": [{"primitives": [)" + primitives + R"(]}],
    "buffers": [{"byteLength": 36, "uri": "data:application/octet-stream;base64,AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAA"}],
    "bufferViews": [{"buffer": 0, "byteLength": 36}],
    "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3",
                   "min": [0, 0, 0], "max": [1, 1, 0]}],
    "materials": [)" + materials + R"(], "textures": [)" + textures + R"(], "images": [)" + uris + "]}";
}

// The Export menu's texture choices act as --extract-textures and
// --copy-textures do: the files go beside the .x with it, the .x names
// them, and a texture that would write over a file of the model stops the
// export before anything is written.
TEST_F(Window, TheExportMenuExtractsAndCopiesTexturesAndRefusesAClash) {
  // The bytes of the embedded image (a compressed image is kept as it is).
  const std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR an image", 25);
  const std::string embedded = "data:image/png;base64,iVBORw0KGgoAAAANSUhEUiBhbiBpbWFnZQ==";
  const std::string box = write("box.gltf", textured_triangle({embedded}));
  const std::string car = write("car.gltf", textured_triangle({embedded, "car_0.png"}));
  write("car_0.png", "the model's own texture");
  fs::create_directories(work_ + "/src/maps");
  fs::create_directory(work_ + "/out");
  write("src/m.obj",
                                "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nusemtl t\n"
                                "f 1/1 2/1 3/1\n");
  write("src/m.mtl", "newmtl t\nKd 1 1 1\nmap_Kd maps/wood.png\n");
  write("src/maps/wood.png", "wood");
  fs::create_symlink("src/m.mtl", work_ + "/link.x");
  // A model whose buffer bears the name its extracted texture would get.
  const float corners[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  const std::string buffer(reinterpret_cast<const char *>(corners), sizeof corners);
  std::string gltf = textured_triangle({embedded});
  const size_t uri = gltf.find("data:application/octet-stream");
  gltf.replace(uri, gltf.find('"', uri) - uri, "g_0.png");
  write("src/g.gltf", gltf);
  write("src/g_0.png", buffer);
  const auto r = run_gui(R"(
    proc choose {label} {.menubar.file.export invoke [.menubar.file.export index $label]}
    proc export_to {name} {
        .menubar.file.export invoke 0
        update
        set_name $name
        click .x_export_save.buttons.export
        puts "status=$::molv::status"
        # A refused export leaves the dialog open.
        destroy .x_export_save
    }
    proc tk_getOpenFile {args} {return $::answer}
    choose "Extract embedded textures"
    export_to )" + work_ + R"(/box
    # Export as...: the textures are planned once the file is chosen.
    proc tk_getSaveFile {args} {return )" +
                             work_ + R"(/asbox.x}
    .menubar.file.export invoke 0
    update
    click .x_export_save.buttons.saveas
    puts "status=$::molv::status"
    destroy .x_export_save
    choose "Extract embedded textures"
    export_to )" + work_ + R"(/plain
    choose "Extract embedded textures"
    set ::answer )" + car + R"(
    ::molv::gui::open_file
    export_to )" + work_ + R"(/car
    choose "Extract embedded textures"
    choose "Copy textures beside the .x"
    # A name from the current folder, which the export entry leaves for
    # the model's.
    set ::answer src/m.obj
    ::molv::gui::open_file
    export_to )" + work_ + R"(/out/m
    puts "warnings=[.warnings cget -text]"
    choose "Extract embedded textures"
    set ::answer src/g.gltf
    ::molv::gui::open_file
    export_to )" + work_ + R"(/src/g
    # Without a texture choice the .x is held against the model's files
    # too, also once the user agreed to replace the file at its name.
    proc tk_messageBox {args} {puts "message=[dict get $args -message]"; return yes}
    choose "Extract embedded textures"
    choose "Copy textures beside the .x"
    set ::answer src/m.obj
    ::molv::gui::open_file
    export_to )" + work_ + R"(/link
    exit 0
  )",
                         box);
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(lines_with(r.out, "status="),
            (std::vector<std::string>{"Ready !", "Ready !", "Ready !",
                                      "Not exported: the extracted texture " + work_ +
                                          "/car_0.png would write over the texture " + work_ +
                                          "/car_0.png of the model",
                                      "Ready !",
                                      "Not exported: the extracted texture " + work_ +
                                          "/src/g_0.png would write over the file " + work_ +
                                          "/src/g_0.png of the model",
                                      "Not exported: the export file " + work_ +
                                          "/link.x would write over the file " + work_ +
                                          "/src/m.mtl of the model"}));
  EXPECT_EQ(lines_with(r.out, "message="),
            (std::vector<std::string>{lines_with(r.out, "status=")[3],
                                      lines_with(r.out, "status=")[5], "link.x already exists.",
                                      lines_with(r.out, "status=")[6]}));
  EXPECT_EQ(qel_test::read_file(work_ + "/src/m.mtl"), "newmtl t\nKd 1 1 1\nmap_Kd maps/wood.png\n");
  EXPECT_EQ(qel_test::read_file(work_ + "/src/g_0.png"), buffer);
  // Extracted beside the .x, which names it; the next export without the
  // choice names the texture as the model does.
  EXPECT_EQ(qel_test::read_file(work_ + "/box_0.png"), png);
  EXPECT_NE(qel_test::read_file(work_ + "/box.x").find("\"box_0.png\""), std::string::npos);
  EXPECT_EQ(qel_test::read_file(work_ + "/asbox_0.png"), png);
  EXPECT_NE(qel_test::read_file(work_ + "/asbox.x").find("\"asbox_0.png\""), std::string::npos);
  EXPECT_NE(qel_test::read_file(work_ + "/plain.x").find("\"*0\""), std::string::npos);
  EXPECT_FALSE(fs::exists(work_ + "/plain_0.png"));
  // The clash wrote nothing.
  EXPECT_EQ(qel_test::read_file(work_ + "/car_0.png"), "the model's own texture");
  EXPECT_FALSE(fs::exists(work_ + "/car.x"));
  // Copied beside the .x.
  EXPECT_EQ(qel_test::read_file(work_ + "/out/wood.png"), "wood");
  EXPECT_NE(qel_test::read_file(work_ + "/out/m.x").find("\"wood.png\""), std::string::npos);
  EXPECT_EQ(value_of(r.out, "warnings"), "");
  EXPECT_EQ(files_left(), (std::vector<std::string>{"asbox.x", "asbox_0.png", "box.gltf", "box.x",
                                                    "box_0.png", "car.gltf", "car_0.png",
                                                    "link.x", "out", "plain.x", "script.tcl",
                                                    "src"}));
}

TEST_F(Window, ExportAsAsksTkSaveDialogWithThePluginsFilter) {
  // Tk's save dialog, over the export dialog, is filled in once it is up.
  const auto r = run_gui(R"(
    .menubar.file.export invoke 0
    update
    after 300 {
      set w .x_export_save.__tk_filedialog.contents
      puts "filter=[$w.f2.menu cget -text]"
      $w.f2.ent delete 0 end
      $w.f2.ent insert 0 [file join [pwd] "chosen name"]
      $w.f2.ok invoke
    }
    click .x_export_save.buttons.saveas
    puts "status=$::molv::status"
    puts "dialog=[winfo exists .x_export_save]"
    exit 0
  )");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(value_of(r.out, "filter"), "X Files (*.x)");
  EXPECT_EQ(value_of(r.out, "status"), "Ready !");
  EXPECT_EQ(value_of(r.out, "dialog"), "0");
  // A name typed without extension gets the filter's.
  EXPECT_TRUE(fs::exists(work_ + "/chosen name.x"));
  EXPECT_TRUE(fs::exists(plugin_.options_file()));
}

TEST_F(Window, AFileThatCannotBeWrittenIsAMessageAndTheDialogStaysOpen) {
  const auto r = run_gui(R"(
    .menubar.file.export invoke 0
    update
    set_name "no such folder/model"
    click .x_export_save.buttons.export
    puts "dialog=[winfo exists .x_export_save]"
    puts "grab=[grab current]"
    puts "export=[.x_export_save.buttons.export instate !disabled]"
    exit 0
  )");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(value_of(r.out, "message"), "Can not open file 'no such folder/model.x' for writing !");
  EXPECT_EQ(value_of(r.out, "dialog"), "1");
  EXPECT_EQ(value_of(r.out, "grab"), "") << "the dialog gives the display back";
  EXPECT_EQ(value_of(r.out, "export"), "1");
  EXPECT_FALSE(fs::exists(plugin_.options_file()));
}

// The file proposed is beside the model (where the files it names are),
// not in the window's current folder, which stays as it was.
TEST_F(Window, TheDialogProposesTheModelsFileOpensBesideTheWindowAndResetsToDefaults) {
  fs::create_directory(work_ + "/models");
  const std::string scene = write("models/tree.json", kTreeScene);
  const auto r = run_gui(R"(
    puts "theme=[ttk::style theme use]"
    .menubar.file.export invoke 0
    update
    puts "file=[.x_export_save.file.name get]"
    puts "here=[pwd]"
    set d [list [winfo rootx .x_export_save] [winfo width .x_export_save]]
    set m [list [winfo rootx .] [winfo width .]]
    lassign $d dx dw
    lassign $m mx mw
    puts "apart=[expr {$dx >= $mx + $mw || $dx + $dw <= $mx}]"
    puts "on_screen=[expr {$dx >= 0 && $dx + $dw <= [winfo screenwidth .]}]"
    # What the plug-in gave the dialog: its defaults, as no export ran yet.
    set given $::qel_export::given
    puts "given=$given"
    foreach n {3 6 9 13} {click $::qel_export::button($n)}
    .x_export_save.groups.numbers.decimals set 2
    click .x_export_save.buttons.defaults
    puts "reset=[expr {[::qel_export::option_string] eq $given}]"
    click .x_export_save.buttons.export
    puts "status=$::molv::status"
    puts "dialog=[winfo exists .x_export_save]"
    exit 0
  )",
                         scene);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(value_of(r.out, "theme"), "clam");
  EXPECT_EQ(value_of(r.out, "file"), work_ + "/models/tree.x");
  EXPECT_EQ(value_of(r.out, "here"), work_);
  EXPECT_EQ(value_of(r.out, "apart"), "1") << "the dialog hides part of the window";
  EXPECT_EQ(value_of(r.out, "on_screen"), "1");
  // Defaults is the plug-in's own default.
  EXPECT_EQ(value_of(r.out, "given"), kDefaultOptions);
  EXPECT_EQ(value_of(r.out, "reset"), "1");
  EXPECT_EQ(value_of(r.out, "status"), "Ready !");
  EXPECT_EQ(value_of(r.out, "dialog"), "0");
  EXPECT_TRUE(fs::exists(work_ + "/models/tree.x"));
}

TEST_F(Window, TheDialogClosesAfterACompleteExportOnlyAsTheStatusLineSays) {
  const auto r = run_gui(R"(
    # Export as... to a file that cannot be opened: the plug-in says so
    # after its grab; the dialog stays for another try.
    proc ::molv::gui::choose_save_file {title filters} {
        return [file join [pwd] "no such folder" model.x]
    }
    .menubar.file.export invoke 0
    update
    click .x_export_save.buttons.saveas
    puts "failed=[winfo exists .x_export_save] [grab current]"
    destroy .x_export_save
    # Export pressed at once, before the dialog had an event pass.
    .menubar.file.export invoke 0
    set_name early
    .x_export_save.buttons.export invoke
    puts "early=[winfo exists .x_export_save] $::molv::status"
    exit 0
  )");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(value_of(r.out, "message"),
            "Can not open file '" + work_ + "/no such folder/model.x' for writing !");
  EXPECT_EQ(value_of(r.out, "failed"), "1 ");
  EXPECT_EQ(value_of(r.out, "early"), "0 Ready !");
  EXPECT_TRUE(fs::exists(work_ + "/early.x"));
}

TEST_F(Window, TheDialogShowsThePhaseAndABarThatMovesThroughTheExport) {
  const std::string scene = write("grid.json", grid_scene(150));
  // At each new phase, a pause long enough for the dialog's next look at
  // the export, an event pass for it, and what the dialog shows then.
  const auto r = run_gui(R"(
    proc on_status {args} {
        regsub { *\(.*} $::molv::status "" phase
        if {$phase eq $::last || ![winfo exists .x_export_save]} return
        set ::last $phase
        after 150
        update
        puts "seen=[winfo ismapped .x_export_save.buttons.progress]|$::qel_export::percent|$phase|[.x_export_save.help cget -text]|[expr {int([.progress cget -value])}]"
    }
    set ::last ""
    .menubar.file.export invoke 0
    update
    click $::qel_export::button(13)
    trace add variable ::molv::status write on_status
    click .x_export_save.buttons.export
    puts "dialog=[winfo exists .x_export_save]"
    exit 0
  )",
                         scene);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(value_of(r.out, "dialog"), "0");
  std::map<std::string, int> at;
  int last = -1;
  for (const std::string &line : lines_with(r.out, "seen=")) {
    std::vector<std::string> fields;
    std::stringstream fields_of(line);
    for (std::string field; std::getline(fields_of, field, '|');) fields.push_back(field);
    ASSERT_EQ(fields.size(), 5u) << line;
    if (fields[2] == "Ready !") break;
    // The window's bar shows what the dialog's shows.
    EXPECT_EQ(fields[4], fields[1]) << line;
    EXPECT_EQ(fields[0], "1") << "no bar during the export: " << line;
    const int value = std::stoi(fields[1]);
    EXPECT_GE(value, last) << "the bar went back: " << line;
    last = value;
    // The help line shows the phase, without the plug-in's prefix.
    const auto dash = fields[2].find(" - ");
    const std::string phase = dash == std::string::npos ? fields[2] : fields[2].substr(dash + 3);
    EXPECT_EQ(fields[3].rfind(phase, 0), 0u) << line;
    at[phase] = value;
  }
  ASSERT_EQ(at.count("Mesh Vertices ..."), 1u) << r.out;
  ASSERT_EQ(at.count("Mesh Normals ..."), 1u) << r.out;
  // It moves before the vertices, and after them it has not reached the end.
  EXPECT_GT(at["Mesh Vertices ..."], 0) << r.out;
  EXPECT_LT(at["Mesh Vertices ..."], 50) << r.out;
  EXPECT_GT(at["Mesh Normals ..."], 50) << r.out;
  EXPECT_LT(at["Mesh Normals ..."], 90) << r.out;
  EXPECT_LT(at["Mesh Vert. Duplication Indices"], 100) << r.out;
}

// ---- cancelling ---------------------------------------------------------------------

// Once the export shows its first progress text, the user clicks Cancel;
// Tk sees the click at the export's next event pass.
constexpr const char *kClickCancelDuringExport = R"(
    proc on_status {args} {
        if {[string match "Export X File - *" $::molv::status] && !$::clicked} {
            set ::clicked 1
            puts "busy=[::molv::gui::busy]"
            click .x_export_save.buttons.cancel tail
        }
    }
    set ::clicked 0
    trace add variable ::molv::status write on_status
)";

TEST_F(Window, CancelInTheDialogStopsALongExportAndLeavesNoFile) {
  const std::string scene = write("grid.json", grid_scene(150));
  const auto r = run_gui(std::string(kClickCancelDuringExport) + R"(
    .menubar.file.export invoke 0
    update
    set_name grid
    click .x_export_save.buttons.export
    puts "status=$::molv::status"
    puts "progress=$::molv::progress"
    update
    puts "bar=$::molv::gui::bar"
    puts "dialog=[winfo exists .x_export_save]"
    puts "cancel=$::qel_cancel"
    puts "grab=[grab current]"
    puts "busy=[::molv::gui::busy]"
    exit 0
  )",
                         scene);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(lines_with(r.out, "busy="), (std::vector<std::string>{"1", "0"}));
  EXPECT_EQ(value_of(r.out, "status"), "*** Abort by User ! ***");
  EXPECT_EQ(value_of(r.out, "progress"), "0");
  EXPECT_EQ(value_of(r.out, "bar"), "0") << "the window's bar is back at rest";
  EXPECT_EQ(value_of(r.out, "dialog"), "0") << "the abort closes the dialog";
  EXPECT_EQ(value_of(r.out, "cancel"), "0");
  EXPECT_EQ(value_of(r.out, "grab"), "");
  // Neither the file nor a temporary one, and the options file untouched.
  EXPECT_EQ(files_left(), (std::vector<std::string>{"grid.json", "script.tcl"}));
  EXPECT_FALSE(fs::exists(plugin_.options_file()));
}

TEST_F(Window, QuitDuringAnExportCancelsItFirstAndOpenIsRefused) {
  const std::string scene = write("grid.json", grid_scene(150));
  const std::string other = write("other.json", kTreeScene);
  const auto r = run_gui(R"(
    proc on_status {args} {
        if {[string match "Export X File - *" $::molv::status] && !$::asked} {
            set ::asked 1
            proc tk_getOpenFile {args} {return )" +
                             other + R"(}
            ::molv::gui::open_file
            puts "load=[catch {::molv::gui::load_file )" +
                             other + R"(} why] $why"
            ::molv::gui::quit
        }
    }
    set ::asked 0
    trace add variable ::molv::status write on_status
    .menubar.file.export invoke 0
    update
    set_name grid
    click .x_export_save.buttons.export
    puts "status=$::molv::status"
    puts "summary=[.summary cget -text]"
  )",
                         scene);
  // The script ends, the main loop runs the pending quit, molv ends.
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(value_of(r.out, "message"), "An export is running: let it finish or cancel it first.");
  EXPECT_EQ(value_of(r.out, "load"), "1 an export is running");
  EXPECT_EQ(value_of(r.out, "status"), "*** Abort by User ! ***");
  // The model under the export was never replaced.
  EXPECT_EQ(value_of(r.out, "summary"), "Objects : 1    Vertices : 22801    Surfaces : 22500");
  EXPECT_EQ(files_left(), (std::vector<std::string>{"grid.json", "other.json", "script.tcl"}));
}

// ---- File > Open -----------------------------------------------------------------------

TEST_F(Window, OpenLoadsAnotherFileAndKeepsTheModelWhenItCannotBeRead) {
  const std::string tree = write("tree.json", kTreeScene);
  const std::string broken = write("broken.json", "{\"world\": {");
  const auto r = run_gui(R"(
    proc tk_getOpenFile {args} {
        puts "types=[lindex [dict get $args -filetypes] 1]"
        return [lindex $::answers 0]
    }
    set ::answers [list )" +
                         tree + R"(]
    ::molv::gui::open_file
    puts "title=[wm title .]"
    puts "summary=[.summary cget -text]"
    set ::answers [list )" +
                         broken + R"(]
    ::molv::gui::open_file
    puts "title=[wm title .]"
    puts "summary=[.summary cget -text]"
    puts "info=[string map {"\n" " "} [molv get_info]]"
    tree_rows
    exit 0
  )");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(lines_with(r.out, "types="),
            (std::vector<std::string>{"Scenes {*.[jJ][sS][oO][nN]}", "Scenes {*.[jJ][sS][oO][nN]}"}));
  EXPECT_EQ(lines_with(r.out, "title="),
            (std::vector<std::string>{"molv - tree.json", "molv - tree.json"}));
  const auto message = value_of(r.out, "message");
  EXPECT_EQ(message.rfind(broken + ": ", 0), 0u) << message;
  // The model behind the window is still the tree, not an empty world.
  EXPECT_EQ(value_of(r.out, "info"), "Objects : 4 Vertices : 7 Surfaces : 3 ");
  EXPECT_EQ(lines_with(r.out, "row=").size(), 5u);
}

// A model that crashes the model's reader (a chain of 20,000 nested glTF
// nodes) is a message naming it; the window and its model stay.
TEST_F(Window, OpenSurvivesAModelThatCrashesTheReader) {
  const std::string tree = write("tree.json", kTreeScene);
  std::string nodes;
  for (int i = 0; i < 20000; ++i)
    nodes += "{\"children\": [" + std::to_string(i + 1) + "]},";
  const std::string deep =
      write("deep.gltf", "{\"asset\": {\"version\": \"2.0\"}, \"scene\": 0, \"scenes\": "
                         "[{\"nodes\": [0]}], \"nodes\": [" + nodes + "{}]}");
  const auto r = run_gui(R"(
    proc tk_getOpenFile {args} {return [lindex $::answers 0]}
    set ::answers [list )" + tree + R"(]
    ::molv::gui::open_file
    set ::answers [list )" + deep + R"(]
    ::molv::gui::open_file
    puts "title=[wm title .]"
    exit 0
  )");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(value_of(r.out, "message"), deep + ": the model's reader crashed on it (signal 11, "
                                               "Segmentation fault)");
  EXPECT_EQ(value_of(r.out, "title"), "molv - tree.json");
}

// In any letter case: Tk's chooser matches its patterns case-sensitively,
// and the command line's folder scan takes BOX.X as box.x.
TEST_F(Window, OpenOffersModelFormatsBesideScenes) {
  const auto r = run_gui(R"(
    set types [::molv::gui::open_types]
    puts "first=[lindex $types 0 0]"
    set patterns [lindex $types 0 1]
    proc takes {patterns name} {
        foreach pattern $patterns {if {[string match $pattern $name]} {return 1}}
        return 0
    }
    foreach ext {.json .obj .ply .stl} {
        puts "has$ext=[takes $patterns m$ext][takes $patterns M[string toupper $ext]]"
    }
    puts "has.Obj=[takes $patterns m.Obj][takes $patterns m.txt]"
    puts "last=[lindex $types end]"
    exit 0
  )");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(value_of(r.out, "first"), "Scenes and models");
  for (const char *ext : {".json", ".obj", ".ply", ".stl"})
    EXPECT_EQ(value_of(r.out, std::string("has") + ext), "11") << ext;
  EXPECT_EQ(value_of(r.out, "has.Obj"), "10");
  EXPECT_EQ(value_of(r.out, "last"), "{All Files} *");
}

// ---- the program ----------------------------------------------------------------------

TEST_F(Window, ScriptErrorEndsTheProgramWithOneLine) {
  fs::create_directory(work_ + "/empty");
  const std::string script = write("bad.tcl", "no_such_command 1 2\n");
  qel_test::RunOptions options;
  options.args = {"gui", "--plugin-dir", "empty", "--script", script};
  options.cwd = work_;
  options.env = {{"DISPLAY", display_.name()}};
  const auto r = qel_test::run_molv(options);
  EXPECT_EQ(r.exit_status, 1);
  const auto lines = qel_test::text_lines(r.err);
  ASSERT_EQ(lines.size(), 2u) << r.err;
  // The missing plug-in is said, the window still opens and runs the script.
  EXPECT_EQ(lines[0].rfind("molv: " + work_ + "/empty/qel_export.so: ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], "molv: " + script + ": invalid command name \"no_such_command\"");
}

TEST_F(Window, CtrlCCancelsARunningExportAndOtherwiseEndsMolv) {
  const std::string scene = write("grid.json", grid_scene(100));
  // The first progress text is said on standard error; the export then
  // waits long enough for the Ctrl-C to arrive.  With IDLE set the script
  // only says that the window is idle.
  const std::string file = write("script.tcl", std::string(kScriptHelpers) + R"(
    if {[info exists ::env(IDLE)]} {
        puts stderr "idle"
        flush stderr
    } else {
        proc on_status {args} {
            if {[string match "Export X File - *" $::molv::status] && !$::said} {
                set ::said 1
                puts stderr "exporting"
                flush stderr
                after 2000
            }
        }
        set ::said 0
        trace add variable ::molv::status write on_status
        .menubar.file.export invoke 0
        update
        set_name grid
        click .x_export_save.buttons.export
        puts "status=$::molv::status"
        exit 0
    }
  )");
  qel_test::RunOptions options;
  options.args = {"gui", scene, "--plugin-dir", plugin_.path(), "--script", file};
  options.cwd = work_;
  options.env = {{"DISPLAY", display_.name()}};
  options.interrupt_on = "exporting";
  options.timeout_seconds = 60;
  const auto r = qel_test::run_molv(options);
  ASSERT_TRUE(r.interrupted) << r.err;
  EXPECT_EQ(r.exit_status, 0) << "one Ctrl-C cancels the export, it does not end molv";
  EXPECT_EQ(value_of(r.out, "status"), "*** Abort by User ! ***");
  EXPECT_FALSE(fs::exists(work_ + "/grid.x"));

  // A Ctrl-C without an export ends molv like any program.
  options.interrupt_on = "idle";
  options.env.push_back({"IDLE", "1"});
  const auto idle = qel_test::run_molv(options);
  ASSERT_TRUE(idle.interrupted) << idle.err;
  EXPECT_EQ(idle.signal, SIGINT) << idle.out;
}

TEST(WindowWithoutDisplay, FailsWithOneLine) {
  qel_test::RunOptions options;
  options.args = {"gui"};
  options.unset_env = {"DISPLAY"};
  const auto r = qel_test::run_molv(options);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err,
            "molv: cannot open the window: no display name and no $DISPLAY environment "
            "variable\n");
}

}  // namespace
