/*
 * What molv --help and molv --version show.
 */
#ifndef MOLV_CLI_USAGE_H
#define MOLV_CLI_USAGE_H

#include <string>

#include "cli/args.h"

namespace molv {
namespace cli {

// The usage text of `molv --help`.
std::string usage_text();

// What `molv --version` shows: the host's and the plug-in's versions.
// False with *error when the plug-in cannot be loaded.
bool version_text(const Args &args, std::string *text, std::string *error);

}  // namespace cli
}  // namespace molv

#endif  // MOLV_CLI_USAGE_H
