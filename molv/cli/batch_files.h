/*
 * The command line's run as one plan of files (common/run_files.h): the
 * models, the plug-in's files, the .x files and the debug log before any
 * model is read, then each model's own files as it is loaded.
 */
#ifndef MOLV_CLI_BATCH_FILES_H
#define MOLV_CLI_BATCH_FILES_H

#include <memory>
#include <string>
#include <vector>

#include "cli/args.h"
#include "common/run_files.h"
#include "files/output_file.h"
#include "import/load.h"

namespace molv {
namespace cli {

using molv::RunFiles;
using molv::texture_stem;

// A batch that writes more than its .x files (textures, a debug log) reads
// each of its models once before anything is written, so that the files
// a later model refers to (its .mtl, buffers, textures) are held against
// what the earlier ones write.  Each model is read again for its export;
// one that cannot be read is left to that moment.  The plan of what they
// read.
RunFiles look_ahead(const Args &args, const std::vector<std::string> &scenes);

// The plan before any model is read for its export, *FILES holding what a
// look ahead found already: the models, the plug-in's files, the .x files
// and the debug log.  False (the line shown) on a clash.
bool plan_run_files(const Args &args, const std::vector<std::string> &scenes,
                    const std::vector<std::string> &names, RunFiles *files);

// The files of LOAD for NAME.x under OPTIONS: what the load opened and
// its textures are read, its EXTRACTED textures and, with
// --copy-textures, its textures copied beside the .x are written (prepared
// into *copies).  0, or the exit status (the reason shown).
int plan_model_files(const Args &args, const Load &load, const std::string &name,
                     const std::string &options, const std::vector<std::string> &extracted,
                     RunFiles *files, std::vector<std::unique_ptr<OutputFile>> *copies);

}  // namespace cli
}  // namespace molv

#endif  // MOLV_CLI_BATCH_FILES_H
