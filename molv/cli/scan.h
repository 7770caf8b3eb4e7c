/*
 * A SCENE that is a folder stands for every model in it: the files below
 * it, at any depth, whose extension molv reads (a scene file or any
 * format of Assimp's), kept or dropped by --include and --exclude
 * patterns, in name order.  Each keeps the folders it was found in below
 * the SCENE, so that -o OUT/ gets the same tree; --relative-to DIR keeps
 * any model's folders below DIR instead.
 */
#ifndef MOLV_CLI_SCAN_H
#define MOLV_CLI_SCAN_H

#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/report.h"

namespace molv {
namespace cli {

// Whether the file at RELATIVE (its path below the SCENE folder) is taken
// by the patterns of --include (any one, when there are some) and
// --exclude (none).  A pattern is matched against the whole relative path
// and against the file name alone (shell patterns: *, ?, [...]).
bool pattern_takes(const Args &args, const std::string &relative);

// *SCENES with each folder replaced by its models; *BELOW gets, for each
// model, the folders it keeps below the output folder ("sub/" or ""): its
// folders below the SCENE folder, behind the folder's own name when there
// are several folder SCENEs; with --relative-to DIR, its folders below
// DIR, a SCENE given as a file too.  Folders named SKIP (the output folder) are not
// entered.  0, or the exit status (the reason is shown).
int expand_folders(const Args &args, std::vector<std::string> *scenes,
                   std::vector<std::string> *below);

// The output names of *SCENES (export_name), each placed in its *BELOW
// folder when it goes into a folder; every clash of two models on one
// name is shown.  0, or the exit status 2; with --keep-going the models
// that clash are taken out of the three lists into *LEFT_OUT, as their
// reports, and the run goes on.
int place_outputs(const Args &args, std::vector<std::string> *scenes,
                  std::vector<std::string> *below, std::vector<std::string> *names,
                  std::vector<ModelReport> *left_out);

}  // namespace cli
}  // namespace molv

#endif  // MOLV_CLI_SCAN_H
