/*
 * The system's reason for a failure the plug-in reports in its own words:
 * "Can not open file 'NAME' for writing !" is the same for a missing
 * folder, a refused permission and a folder in the way.  The host looks
 * at NAME itself and adds why, after the plug-in's text, which stays as
 * it is.
 */
#ifndef MOLV_CLI_WHY_H
#define MOLV_CLI_WHY_H

#include <string>

namespace molv {
namespace cli {

// Why the file of the plug-in's MESSAGE cannot be written ("no such
// folder 'out'", "permission denied in 'out'", ...); empty for any other
// message or when nothing is found wrong.
std::string system_reason(const std::string &message);

}  // namespace cli
}  // namespace molv

#endif  // MOLV_CLI_WHY_H
