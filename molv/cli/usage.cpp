/*
 * What molv --help and molv --version show.
 */
#include "cli/usage.h"

#include <cstdio>
#include <string>

#include "api/model.h"
#include "api/plugin_loader.h"
#include "cli/args.h"
#include "cli/console.h"
#include "common/plugin_options.h"

namespace molv {
namespace cli {
namespace {

// The commands and the export's own options, up to the option table.
constexpr const char *kUsageHead =
    "Usage:\n"
    "  molv export [SCENE...] [OPTIONS]  export models to DirectX (.x) files\n"
    "  molv gui [SCENE] [--script FILE] [--plugin-dir DIR]\n"
    "                                    open the modeller's window\n"
    "  molv info MODEL... [--report FILE] [-j N] [--timeout S] [--max-memory SIZE]\n"
    "                                    what a model (or a folder's) holds and\n"
    "                                    what its .x would hold\n"
    "  molv --version                    show the host's and the plug-in's versions\n"
    "  molv --help                       show this text\n"
    "\n"
    "SCENE is a .json scene file or a model in a format Assimp reads (OBJ, glTF 2,\n"
    "PLY, STL, 3DS, Collada, OFF, ...); without one, a built-in sample scene is used.\n"
    "Several SCENEs are exported one after the other by one plug-in; one that fails\n"
    "is named and the others still go.  A SCENE that is a folder stands for every\n"
    "model below it (by the extensions molv reads), each written with the same\n"
    "folders below -o DIR/ (behind the folder's own name when there are several\n"
    "folders).  SCENE - reads one model from standard input.\n"
    "\n"
    "Export options:\n"
    "  -o, --output OUT       write OUT.x (a trailing .x is not doubled); default:\n"
    "                         the scene's name, or \"sample\", in the current folder\n"
    "  -o DIR/                write DIR/<scene name>.x (also for a folder that\n"
    "                         exists without the slash); DIR/ is made if need be\n"
    "  -o -                   write the .x to standard output (one model)\n"
    "  --set NAME=C, --set N=C\n"
    "                         option NAME (or number N) becomes C: 0 or 1, for\n"
    "                         decimals a digit (repeatable, applied in order)\n"
    "  --options STRING       option characters from number 0 on, applied before\n"
    "                         --set (\"0000111\" sets 4, 5 and 6)\n"
    "  --remembered           start from the options of the last complete export\n"
    "                         and remember this one's, as the modeller's dialog\n"
    "  --defaults             start from the plug-in's defaults (what a plain run\n"
    "                         does); the remembered options are neither read nor\n"
    "                         changed\n"
    "  --extract-textures     write textures embedded in a model (glTF's *0) as\n"
    "                         files beside the .x and name those files in it\n"
    "  --copy-textures        copy the model's texture files beside the .x, under\n"
    "                         the names the .x gives them\n"
    "  --verify               read every .x back and compare it with the model\n"
    "                         face by face; a real difference fails the model\n"
    "  -j, --jobs N           export several SCENEs in N processes side by side\n"
    "                         (default: one per core, as each export keeps one\n"
    "                         core busy and shares nothing with the others)\n"
    "  --strict               any warning fails its model (exit status 1)\n"
    "  --fail-on CODE,...     the warnings of these codes fail their model (the\n"
    "                         codes of the report: texture-missing, no-mesh, ...)\n"
    "  --report FILE          one JSON object per model (JSON Lines; - for\n"
    "                         standard output), then the run's {\"total\": ...}\n"
    "  --depfile FILE         a Makefile rule per export: OUT.x and every file\n"
    "                         the model was read from, and an empty rule for each\n"
    "                         file but the model (as compilers' -MD -MP)\n"
    "  --format EXT           the format of a SCENE - read from standard input\n"
    "  --include PATTERN      of a folder SCENE only the models that match (a shell\n"
    "                         pattern on the path below it or the file name)\n"
    "  --exclude PATTERN      of a folder SCENE leave out the models that match\n"
    "  --keep-extension       write duck.dae as duck.dae.x (no clash with duck.obj)\n"
    "  --relative-to DIR      write each SCENE with its folders below DIR, below\n"
    "                         -o OUT/ (models/a/x.obj: OUT/a/x.x for DIR models)\n"
    "  --keep-going           models that would be written to the same file are\n"
    "                         left out, the others written (exit status 1)\n"
    "  --quiet                nothing but failures on standard output and error\n"
    "  --verbose              the plug-in's status lines also when standard error\n"
    "                         is no terminal (else a line per model: its summary\n"
    "                         or its failure, and its warnings)\n"
    "  --plugin-dir DIR       the plug-in folder (default: " MOLV_DEFAULT_PLUGIN_DIR
    ")\n"
    "  --debug-log FILE       write the plug-in's trace to FILE\n"
    "  --host-version V       report host version V to the plug-in\n"
    "  --timeout SECONDS      a model whose reader takes longer fails, and the\n"
    "                         others go on (default 120; 0: no limit)\n"
    "  --max-memory SIZE      a model whose reader needs more memory fails\n"
    "                         (512M, 4G, ...; default 4G; 0: no limit)\n"
    "\n"
    "After each complete export one line gives the file's size, its meshes,\n"
    "vertices and faces, and the time taken; warnings name what a .x file cannot\n"
    "hold (lights, cameras, lines, embedded textures, no mesh at all).\n"
    "\n"
    "A plain run starts from the defaults below, whatever ran before; --remembered\n"
    "starts from the options of the last complete export, which the plug-in keeps\n"
    "in qel_export.opt in its folder, and keeps this run's there.  Then --options\n"
    "and --set apply.  The summary and the report name the option string used.\n"
    "\n"
    "Options (number, name, default, what it does when 1):\n";

// After the option table: the window, signals, exit status, the test hooks.
constexpr const char *kUsageTail =
    "\n"
    "Window options (molv gui): --script FILE runs a Tcl file once the window is up;\n"
    "--plugin-dir, --debug-log and --host-version as above.\n"
    "\n"
    "Ctrl-C cancels a running export or read; a second Ctrl-C, SIGTERM or SIGHUP\n"
    "cancels it too and then ends molv (\"stopped by SIGTERM\").\n"
    "Exit status: 0 when every export ended with \"Ready !\", 1 when one was\n"
    "cancelled, failed, showed a message or warned under --strict or --fail-on,\n"
    "2 for a usage error or a bad scene (of several models, the worst).\n"
    "\n"
    "For tests:\n"
    "  --cancel-at-poll N     cancel at the N-th event pass of the export\n"
    "  --fail-alloc-after N   host allocations after the N-th fail\n";

// One line per option of the plug-in's table.
std::string option_lines() {
  std::string text;
  const std::string defaults = default_option_string();
  for (const PluginOption &option : plugin_options()) {
    char line[160];
    std::snprintf(line, sizeof line, "  %2d %-20s %c  %s\n", option.index, option.name,
                  defaults[static_cast<size_t>(option.index)], option.meaning);
    text += line;
  }
  return text;
}

}  // namespace

std::string usage_text() { return kUsageHead + option_lines() + kUsageTail; }

bool version_text(const Args &args, std::string *text, std::string *error) {
  const std::string dir = plugin_folder(args);
  std::string about;
  if (!plugin_about(dir, &about, error)) return false;
  clear_model();
  *text = host_version_string() + " (the stand-in host of qel_export)\n" + one_line(about) + " (" +
          dir + ")\n";
  return true;
}

}  // namespace cli
}  // namespace molv
