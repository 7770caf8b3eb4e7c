/*
 * The window's 3D view by its pixels: the built molv runs `molv gui
 * --script` on a private X display with the real plug-in, Mesa draws the
 * view in software, and the script reads the view back (glReadPixels) into
 * PPM images that are compared here.
 */
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/export_harness.h"
#include "support/plugin_dir.h"
#include "support/run_molv.h"
#include "support/window_test.h"
#include "support/virtual_display.h"

namespace {

// A cube of red faces, centred on the origin.
constexpr const char *kRedCube = R"({"palette": [{"name": "red", "diffuse": [1, 0, 0]}],
 "world": {"children": [{"name": "Cube",
  "vertices": [[-1,-1,-1],[1,-1,-1],[1,1,-1],[-1,1,-1],[-1,-1,1],[1,-1,1],[1,1,1],[-1,1,1]],
  "surfaces": [{"verts": [0,3,2,1]}, {"verts": [4,5,6,7]}, {"verts": [0,1,5,4]},
               {"verts": [2,3,7,6]}, {"verts": [1,2,6,5]}, {"verts": [0,4,7,3]}]}]}})";

// The view's default background.
constexpr int kBackground[3] = {77, 84, 97};

struct Image {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
  const unsigned char *at(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
  bool is_background(int x, int y) const {
    const unsigned char *p = at(x, y);
    for (int c = 0; c < 3; ++c)
      if (std::abs(p[c] - kBackground[c]) > 3) return false;
    return true;
  }
};

Image read_ppm(const std::string &path) {
  Image image;
  const std::string bytes = qel_test::read_file(path);
  std::istringstream in(bytes);
  std::string magic;
  int max = 0;
  in >> magic >> image.width >> image.height >> max;
  in.get();
  if (magic != "P6" || image.width <= 0 || image.height <= 0) return Image();
  const size_t size = static_cast<size_t>(image.width) * image.height * 3;
  const size_t start = static_cast<size_t>(in.tellg());
  if (bytes.size() < start + size) return Image();
  image.rgb.assign(bytes.begin() + static_cast<long>(start), bytes.begin() + static_cast<long>(start + size));
  return image;
}

// The share of pixels that are model in one image and background in the
// other.
double silhouette_difference(const Image &a, const Image &b) {
  if (a.width != b.width || a.height != b.height || a.rgb.empty()) return 1.0;
  size_t differ = 0;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) differ += a.is_background(x, y) != b.is_background(x, y);
  return static_cast<double>(differ) / (static_cast<double>(a.width) * a.height);
}

// The mean difference of the channels, 0 to 255.
double mean_difference(const Image &a, const Image &b) {
  if (a.width != b.width || a.height != b.height || a.rgb.empty()) return 255.0;
  double sum = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) sum += std::abs(a.rgb[i] - b.rgb[i]);
  return sum / static_cast<double>(a.rgb.size());
}

std::string value_of(const std::string &text, const std::string &key) {
  std::string found = "<no " + key + ">";
  for (const std::string &line : qel_test::text_lines(text))
    if (line.rfind(key + "=", 0) == 0) found = line.substr(key.size() + 1);
  return found;
}

class View : public qel_test::WindowTest {
 protected:
  View() : WindowTest("view") {}
  qel_test::RunResult run_gui(const std::string &script, const std::string &scene) {
    return run_script(
        "interp bgerror {} {apply {{m o} {puts \"bgerror=$m\"; exit 9}}}\n"
        "proc tk_messageBox {args} {puts \"message=[dict get $args -message]\"; return ok}\n"
        // An export through the dialog, to NAME.x with its options as they stand.
        "proc export_as {name} {\n"
        "    .menubar.file.export invoke 0\n    update\n"
        "    .x_export_save.file.name delete 0 end\n"
        "    .x_export_save.file.name insert 0 $name\n"
        "    .x_export_save.buttons.export invoke\n    update\n}\n" +
            script,
        scene, {}, 120);
  }
};

TEST_F(View, ShowsTheModelTurnsItAndShowsTheExportAsTheReaderSeesIt) {
  const std::string scene = write("cube.json", kRedCube);
  const auto r = run_gui(R"(
    set w [winfo width .scene.gl]
    set h [winfo height .scene.gl]
    puts "centre=[::molv::gui::view pixel [expr {$w / 2}] [expr {$h / 2}]]"
    ::molv::gui::view ppm front.ppm
    # A drag with the left button, through the view's own bindings.
    event generate .scene.gl <ButtonPress-1> -x 100 -y 100
    event generate .scene.gl <B1-Motion> -x 190 -y 160
    event generate .scene.gl <ButtonRelease-1> -x 190 -y 160
    ::molv::gui::view ppm turned.ppm
    puts "export_enabled=[.scene.bar.export instate !disabled]"
    # An export with the default options through the dialog.
    export_as cube
    ::molv::gui::wait_check
    puts "status=$::molv::status"
    puts "bar=$::molv::gui::bar"
    puts "agreement=[.scene.agreement cget -text]"
    ::molv::gui::view show model
    ::molv::gui::view ppm model.ppm
    focus -force .scene.gl
    event generate .scene.gl <Key-x>
    puts "showing=[::molv::gui::view showing]"
    ::molv::gui::view ppm export.ppm
    event generate .scene.gl <Key-b>
    ::molv::gui::view ppm both.ppm
    exit 0
  )",
                         scene);
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  // Red in the middle, the background in every corner.
  std::istringstream centre(value_of(r.out, "centre"));
  int red = 0, green = 0, blue = 0;
  centre >> red >> green >> blue;
  EXPECT_GT(red, 120) << value_of(r.out, "centre");
  EXPECT_LT(green, 40);
  EXPECT_LT(blue, 40);
  const Image front = read_ppm(work_ + "/front.ppm");
  ASSERT_GT(front.width, 100);
  for (const auto &corner : {std::make_pair(0, 0), std::make_pair(front.width - 1, 0),
                             std::make_pair(0, front.height - 1),
                             std::make_pair(front.width - 1, front.height - 1)})
    EXPECT_TRUE(front.is_background(corner.first, corner.second));
  // Turned, the cube covers other pixels.
  EXPECT_GT(silhouette_difference(front, read_ppm(work_ + "/turned.ppm")), 0.01);

  EXPECT_EQ(value_of(r.out, "export_enabled"), "0") << "nothing exported yet";
  EXPECT_EQ(value_of(r.out, "status").rfind("Wrote cube.x (", 0), 0u) << r.out;
  EXPECT_NE(value_of(r.out, "status").find("1 mesh, "), std::string::npos) << r.out;
  // The read-back ends at the real state.
  EXPECT_EQ(value_of(r.out, "bar"), "0");
  EXPECT_EQ(
      value_of(r.out, "agreement").rfind("verified: the .x agrees with the model (6 faces)", 0), 0u)
      << r.out;
  EXPECT_EQ(value_of(r.out, "showing"), "export");
  // The cube comes through unchanged: the same picture.
  const Image model = read_ppm(work_ + "/model.ppm");
  const Image file = read_ppm(work_ + "/export.ppm");
  EXPECT_LT(mean_difference(model, file), 1.0);
  EXPECT_LT(silhouette_difference(model, file), 0.002);
  // Side by side: two cubes, so the middle column is no cube's.
  const Image both = read_ppm(work_ + "/both.ppm");
  EXPECT_GT(silhouette_difference(model, both), 0.01);

  // A chosen quad is outlined by its four edges: the diagonal of its two
  // triangles, through its centre (the view's), is not drawn.
  const std::string quad = write("quad.json", R"({"world": {"children": [{"name": "Quad",
      "vertices": [[-1,-1,0],[1,-1,0],[1,1,0],[-1,1,0]], "surfaces": [{"verts": [0,1,2,3]}]}]}})");
  const auto q = run_gui(R"(
    .tree selection set o1
    update
    ::molv::gui::view ppm quad.ppm
    exit 0
  )",
                         quad);
  ASSERT_EQ(q.exit_status, 0) << q.out << q.err;
  const Image outlined = read_ppm(work_ + "/quad.ppm");
  ASSERT_GT(outlined.width, 100);
  const auto is_outline = [&outlined](int x, int y) {
    const unsigned char *p = outlined.at(x, y);
    return p[0] > 230 && p[1] > 150 && p[1] < 215 && p[2] < 100;
  };
  size_t outline = 0;
  for (int y = 0; y < outlined.height; ++y)
    for (int x = 0; x < outlined.width; ++x) outline += is_outline(x, y);
  EXPECT_GT(outline, 100u) << "no outline drawn";
  for (int y = outlined.height / 2 - 3; y <= outlined.height / 2 + 3; ++y)
    for (int x = outlined.width / 2 - 3; x <= outlined.width / 2 + 3; ++x)
      EXPECT_FALSE(is_outline(x, y)) << x << "," << y;
}

// A grid of SIZE x SIZE squares as an OBJ file.
std::string grid_obj(int size) {
  std::string text;
  text.reserve(static_cast<size_t>(size + 1) * (size + 1) * 30 + static_cast<size_t>(size) * size * 40);
  char line[96];
  for (int y = 0; y <= size; ++y)
    for (int x = 0; x <= size; ++x) {
      std::snprintf(line, sizeof line, "v %d %d 0\n", x, y);
      text += line;
    }
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const int a = y * (size + 1) + x + 1;
      std::snprintf(line, sizeof line, "f %d %d %d %d\n", a, a + 1, a + size + 2, a + size + 1);
      text += line;
    }
  return text;
}

// The model of the command line and File > Open are read beside the event
// loop: the window answers, refuses Open and Export meanwhile, and Cancel
// keeps the model that was there.  A script begins once the model of the
// command line is in, and one that cannot be read ends molv as a bad
// scene does.
TEST_F(View, ALoadRunsBesideTheEventLoopAndCancelKeepsTheModel) {
  const std::string big = write("big.obj", grid_obj(500) + "l 1 2\n");
  const std::string cube = write("cube.json", kRedCube);
  const auto r = run_gui(R"(
    puts "startup_polls=$::molv::gui::load_polls"
    puts "summary_startup=[.summary cget -text]"
    puts "warnings=[.warnings cget -text]"
    ::molv::gui::load_model )" + cube + R"(
    set ::ran_during_load 0
    set ::statuses {}
    proc tick {} {
        if {[::molv::gui::loading]} {
            incr ::ran_during_load
            if {$::ran_during_load == 1} {
                lappend ::statuses $::molv::status
                # Open and Export wait for the load.
                ::molv::gui::open_file
                .menubar.file.export invoke 0
                puts "dialog_during_load=[winfo exists .x_export_save]"
                puts "cancel_shown=[expr {[winfo manager .cancel] eq "pack"}]"
                if {$::cancel} {.cancel invoke}
            }
        }
        after 10 tick
    }
    proc tk_getOpenFile {args} {return )" +
                         big + R"(}
    set ::cancel 1
    puts "summary_before=[.summary cget -text]"
    after 10 tick
    ::molv::gui::open_file
    puts "cancelled=$::molv::status"
    puts "summary_cancelled=[.summary cget -text]"
    puts "title_cancelled=[wm title .]"
    set ::ran_during_load 0
    set ::cancel 0
    ::molv::gui::open_file
    puts "ran=$::ran_during_load"
    puts "loading_status=[lindex $::statuses 0]"
    puts "status=$::molv::status"
    puts "summary=[.summary cget -text]"
    exit 0
  )",
                         big);
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  const std::string big_summary = "Objects : 1    Vertices : 251001    Surfaces : 250001";
  EXPECT_GT(std::stoi(value_of(r.out, "startup_polls")), 1) << "the window did not answer";
  EXPECT_EQ(value_of(r.out, "summary_startup"), big_summary);
  EXPECT_EQ(value_of(r.out, "warnings").rfind("warning: 1 line", 0), 0u) << r.out;
  EXPECT_EQ(value_of(r.out, "loading_status").rfind("Loading big.obj (", 0), 0u) << r.out;
  EXPECT_EQ(value_of(r.out, "cancel_shown"), "1");
  EXPECT_EQ(value_of(r.out, "dialog_during_load"), "0");
  std::vector<std::string> messages;
  for (const std::string &line : qel_test::text_lines(r.out))
    if (line.rfind("message=", 0) == 0) messages.push_back(line);
  ASSERT_EQ(messages.size(), 4u) << r.out;
  EXPECT_EQ(messages[0], "message=A model is loading: let it finish or cancel it first.");
  EXPECT_EQ(value_of(r.out, "cancelled").rfind("Loading big.obj cancelled", 0), 0u) << r.out;
  EXPECT_EQ(value_of(r.out, "summary_cancelled"), value_of(r.out, "summary_before"));
  EXPECT_EQ(value_of(r.out, "title_cancelled"), "molv - cube.json");
  EXPECT_GT(std::stoi(value_of(r.out, "ran")), 1) << "no event ran during the load";
  EXPECT_EQ(value_of(r.out, "status"),
            "Opened big.obj: 1 object, 251,001 vertices, 250,001 surfaces; size 500 x 500 x 0 (x y z)")
      << r.out;
  EXPECT_EQ(value_of(r.out, "summary"), big_summary);

  const std::string notes = write("notes.xyz", "nothing a reader knows\n");
  const auto bad = run_gui("puts ran\n", notes);
  EXPECT_EQ(bad.exit_status, 2) << bad.out << bad.err;
  EXPECT_EQ(bad.err.rfind("molv: " + notes + ": No suitable reader found", 0), 0u) << bad.err;
  EXPECT_EQ(qel_test::text_lines(bad.err).size(), 1u) << bad.err;
  EXPECT_EQ(bad.out, "");
}

// A red and a green quad side by side, each of its own material: the
// picture of the export gives each its own colour, as the verdict beside
// it (a reader that gives every reference the first material paints both
// red).
TEST_F(View, TheExportsPictureGivesEachFaceItsOwnMaterial) {
  const std::string scene = write("two.json", R"({"palette": [{"name": "red", "diffuse": [1, 0, 0]},
      {"name": "green", "diffuse": [0, 1, 0]}], "world": {"children": [
   {"name": "Red", "vertices": [[-2,-1,0],[0,-1,0],[0,1,0],[-2,1,0]],
    "surfaces": [{"material": 0, "verts": [0,1,2,3]}]},
   {"name": "Green", "vertices": [[0,-1,0],[2,-1,0],[2,1,0],[0,1,0]],
    "surfaces": [{"material": 1, "verts": [0,1,2,3]}]}]}})");
  const auto r = run_gui(R"(
    export_as two
    ::molv::gui::wait_check
    puts "agreement=[.scene.agreement cget -text]"
    ::molv::gui::view show export
    ::molv::gui::view frame
    set w [winfo width .scene.gl]
    set h [winfo height .scene.gl]
    puts "left=[::molv::gui::view pixel [expr {$w / 2 - $w / 8}] [expr {$h / 2}]]"
    puts "right=[::molv::gui::view pixel [expr {$w / 2 + $w / 8}] [expr {$h / 2}]]"
    exit 0
  )",
                         scene);
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(value_of(r.out, "agreement").rfind("verified: the .x agrees with the model", 0), 0u)
      << r.out;
  int left[3] = {0, 0, 0}, right[3] = {0, 0, 0};
  std::istringstream(value_of(r.out, "left")) >> left[0] >> left[1] >> left[2];
  std::istringstream(value_of(r.out, "right")) >> right[0] >> right[1] >> right[2];
  EXPECT_GT(left[0], left[1] + 40) << r.out;
  EXPECT_GT(right[1], right[0] + 40) << r.out;
}

TEST_F(View, NamesAreLiteralTheDialogFollowsTheModelAsksBeforeReplacingAndKeepsItsSize) {
  const std::string cube = write("cube.json", kRedCube);
  qel_test::RunOptions exporting;
  exporting.args = {"export", cube, "-o", "~m", "--plugin-dir", plugin_.path(), "--quiet"};
  exporting.cwd = work_;
  ASSERT_EQ(qel_test::run_molv(exporting).exit_status, 0);
  const auto r = run_gui(R"(
    puts "title=[wm title .]"
    .menubar.file.export invoke 0
    update
    set d .x_export_save
    puts "proposed=[regsub {^.*/} [$d.file.name get] {}]"
    set height [winfo height $d]
    ::qel_export::hint [string repeat "A help text long enough to wrap. " 12]
    update
    puts "steady=[expr {[winfo height $d] == $height}]"
    # The open model, typed with its tilde.
    $d.file.name delete 0 end
    $d.file.name insert 0 ~m
    $d.buttons.export invoke
    # A file that exists is not replaced without a yes.
    $d.file.name delete 0 end
    $d.file.name insert 0 cube
    close [open cube.x w]
    $d.buttons.export invoke
    puts "cube_size=[file size cube.x]"
    # File > Open while the dialog is open: the proposal follows.
    proc tk_getOpenFile {args} {return )" +
                         cube + R"(}
    ::molv::gui::open_file
    puts "follows=[file tail [$d.file.name get]]"
    exit 0
  )",
                         "~m.x");
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(value_of(r.out, "title"), "molv - ~m.x");
  EXPECT_EQ(value_of(r.out, "proposed"), "~m.x");
  EXPECT_EQ(value_of(r.out, "steady"), "1");
  std::vector<std::string> messages;
  for (const std::string &line : qel_test::text_lines(r.out))
    if (line.rfind("message=", 0) == 0) messages.push_back(line);
  EXPECT_EQ(messages, (std::vector<std::string>{"message=~m.x is the model that is open.",
                                                "message=cube.x already exists."}));
  EXPECT_EQ(value_of(r.out, "cube_size"), "0");
  EXPECT_EQ(value_of(r.out, "follows"), "cube.x");
}

// The pixels of IMAGE in the light orange of the outline.
size_t outline_pixels(const Image &image) {
  size_t count = 0;
  for (size_t i = 0; i + 2 < image.rgb.size(); i += 3)
    count += image.rgb[i] > 230 && image.rgb[i + 1] > 150 && image.rgb[i + 1] < 215 &&
             image.rgb[i + 2] < 100;
  return count;
}

// The window at its first size on a 1280-wide screen: a name of 24
// letters shows whole and the columns grow with the window; a status line
// too long for it is elided in the middle, whole in its tooltip; the
// status says what was opened; the export dialog's help line keeps its
// last letters.
TEST_F(View, TheWindowFitsItsTextAndSaysWhatWasOpened) {
  const std::string scene = write("named.json", R"({"world": {"children": [
      {"name": "VisualSceneNode_Armature", "vertices": [[0,0,0],[2,0,0],[2,3,0],[0,3,0]],
       "surfaces": [{"verts": [0,1,2,3]}]}]}})");
  const auto r = run_gui(R"(
    update
    puts "status=$::molv::status"
    # The text begins after the indicator and the indent of one level.
    set font [ttk::style lookup Treeview -font]
    if {$font eq ""} {set font TkDefaultFont}
    set need [expr {18 + 20 + [font measure $font [.tree item o1 -text]] + 4}]
    set name_width [lindex [.tree bbox o1 #0] 2]
    puts "name_fits=[expr {$name_width >= $need}] $name_width $need"
    wm geometry . 1260x760
    update
    puts "name_grows=[expr {[lindex [.tree bbox o1 #0] 2] > $name_width + 200}]"
    set long "Wrote [string repeat /folder 40]/spider.x (113.4 kB): 1 mesh, 2 faces"
    set ::molv::status $long
    update
    set shown [.status cget -text]
    puts "elided=[string match "Wrote /folder*\u2026*2 faces" $shown] [expr {[font measure TkDefaultFont $shown] <= [winfo width .status]}]"
    ::molv::gui::show_tooltip .status
    puts "tooltip=[expr {[.tooltip.text cget -text] eq $long}]"
    # A long list of warnings shows its first lines, the whole list in the tooltip.
    ::molv::gui::show_warnings {a b c d e f}
    puts "warnings=[llength [split [.warnings cget -text] \n]] [llength [split $::molv::gui::tooltips(.warnings) \n]]"
    # The dialog's help line is not cut: it asks for no more than it has.
    .menubar.file.export invoke 0
    update
    set cut 0
    foreach n {3 4 5 6 7 8 9 10 11 12 13} {
        ::qel_export::hint [string repeat "[string repeat x $n] " 40]
        update
        incr cut [expr {[winfo reqwidth .x_export_save.help] > [winfo width .x_export_save.help]}]
    }
    puts "help_cut=$cut"
    exit 0
  )",
                         scene);
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(value_of(r.out, "status"),
            "Opened named.json: 1 object, 4 vertices, 1 surface; size 2 x 3 x 0 (x y z)");
  EXPECT_EQ(value_of(r.out, "name_fits").substr(0, 1), "1") << value_of(r.out, "name_fits");
  EXPECT_EQ(value_of(r.out, "name_grows"), "1");
  EXPECT_EQ(value_of(r.out, "elided"), "1 1");
  EXPECT_EQ(value_of(r.out, "tooltip"), "1");
  EXPECT_EQ(value_of(r.out, "warnings"), "3 6");
  EXPECT_EQ(value_of(r.out, "help_cut"), "0");
}

// A chosen grid of a million triangles is outlined around its silhouette,
// and its inside keeps the model's colour (no edges drawn over it).
TEST_F(View, AChosenGridOfAMillionTrianglesIsOutlinedAroundIt) {
  const std::string grid = write("grid.obj", grid_obj(707));
  const auto r = run_gui(R"(
    set w [winfo width .scene.gl]
    set h [winfo height .scene.gl]
    .tree selection set o1
    update
    puts "centre=[::molv::gui::view pixel [expr {$w / 2}] [expr {$h / 2}]]"
    ::molv::gui::view ppm grid.ppm
    exit 0
  )",
                         grid);
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  const Image image = read_ppm(work_ + "/grid.ppm");
  ASSERT_GT(image.width, 100);
  size_t model = 0;
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) model += !image.is_background(x, y);
  const size_t outline = outline_pixels(image);
  EXPECT_GT(outline, 400u) << "no outline around the grid";
  EXPECT_LT(outline, model / 8) << "the grid is covered, not outlined";
  std::istringstream centre(value_of(r.out, "centre"));
  int red = 0, green = 0, blue = 0;
  centre >> red >> green >> blue;
  EXPECT_TRUE(std::abs(red - green) < 12 && std::abs(green - blue) < 12 && red > 60)
      << "the grid's own grey, not the outline's orange: " << value_of(r.out, "centre");
}

// A .glb that embeds its texture: the view draws the texture, the panel
// offers to extract it for the next export instead of naming a flag, and
// the warning about it goes once an export has extracted it.
TEST_F(View, AnEmbeddedTextureIsDrawnAndOfferedForExtraction) {
  const auto r = run_gui(R"(
    # A quad facing +z with a red image of its own, in a binary glTF.
    image create photo red -width 4 -height 4
    red put #ff0000 -to 0 0 4 4
    set png [red data -format png]
    set bin [binary format f12f8s6 {-1 -1 0 1 -1 0 1 1 0 -1 1 0} {0 0 1 0 1 1 0 1} {0 1 2 0 2 3}]
    append bin $png
    while {[string length $bin] % 4} {append bin \0}
    set json [string map [list PNG [string length $png] BIN [string length $bin]] {{"asset":
      {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}], "nodes": [{"mesh": 0}],
      "meshes": [{"primitives": [{"attributes": {"POSITION": 0, "TEXCOORD_0": 1},
        "indices": 2, "material": 0}]}],
      "materials": [{"pbrMetallicRoughness": {"baseColorTexture": {"index": 0}}}],
      "textures": [{"source": 0}], "images": [{"bufferView": 3, "mimeType": "image/png"}],
      "buffers": [{"byteLength": BIN}],
      "bufferViews": [{"buffer": 0, "byteLength": 48}, {"buffer": 0, "byteOffset": 48, "byteLength": 32},
        {"buffer": 0, "byteOffset": 80, "byteLength": 12}, {"buffer": 0, "byteOffset": 92, "byteLength": PNG}],
      "accessors": [{"bufferView": 0, "componentType": 5126, "count": 4, "type": "VEC3",
        "min": [-1, -1, 0], "max": [1, 1, 0]},
        {"bufferView": 1, "componentType": 5126, "count": 4, "type": "VEC2"},
        {"bufferView": 2, "componentType": 5123, "count": 6, "type": "SCALAR"}]}}]
    while {[string length $json] % 4} {append json " "}
    set out [open quad.glb wb]
    puts -nonewline $out [binary format a4ii glTF 2 [expr {28 + [string length $json] + [string length $bin]}]]
    puts -nonewline $out [binary format ia4 [string length $json] JSON]$json
    puts -nonewline $out [binary format ia4 [string length $bin] BIN\0]$bin
    close $out
    ::molv::gui::load_model quad.glb
    set w [winfo width .scene.gl]
    set h [winfo height .scene.gl]
    puts "centre=[::molv::gui::view pixel [expr {$w / 2}] [expr {$h / 2}]]"
    update
    puts "offered=[winfo ismapped .textures.extract]"
    puts "warning=[.warnings cget -text]"
    .textures.extract invoke
    export_as quad
    puts "after=[.warnings cget -text]"
    puts "extracted=[file exists quad_0.png]"
    exit 0
  )",
                         "");
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  std::istringstream centre(value_of(r.out, "centre"));
  int red = 0, green = 0, blue = 0;
  centre >> red >> green >> blue;
  EXPECT_TRUE(red > 100 && green < 40 && blue < 40) << value_of(r.out, "centre");
  EXPECT_EQ(value_of(r.out, "offered"), "1");
  EXPECT_NE(value_of(r.out, "warning").find("tick \"Extract textures\" below"), std::string::npos)
      << r.out;
  EXPECT_EQ(value_of(r.out, "warning").find("--"), std::string::npos) << r.out;
  EXPECT_EQ(value_of(r.out, "after"), "") << r.out;
  EXPECT_EQ(value_of(r.out, "extracted"), "1");
}

}  // namespace
