/*
 * molv info MODEL...: what a model holds, as Assimp reads it, and what
 * its .x file would hold or leave out, as the host's model made from it
 * holds it, with the textures it names and whether each is found, and the
 * warnings of an export.  Nothing is written; --report gives one JSON
 * object per model instead of the text.
 */
#ifndef MOLV_CLI_INFO_H
#define MOLV_CLI_INFO_H

#include "cli/args.h"

namespace molv {
namespace cli {

// The whole of molv info: returns the exit status (0, or 2 when a model
// cannot be read).
int run_info(const Args &args);

}  // namespace cli
}  // namespace molv

#endif  // MOLV_CLI_INFO_H
