/*
 * --depfile FILE: what each export depends on, as a Makefile rule
 * ("OUT.x: MODEL MTL TEXTURES...", then an empty rule per file but the
 * model), as compilers write with -MD -MP, so that
 * make or ninja export a model again only when one of its files changed.
 * The files are those the import opened (import/load.h) and the
 * texture files found beside the model.  One rule per complete export;
 * the --jobs workers append to the one file the run opened.
 */
#ifndef MOLV_CLI_DEPFILE_H
#define MOLV_CLI_DEPFILE_H

#include <string>
#include <vector>

#include "cli/args.h"

namespace molv {
namespace cli {

// What keeps NAME out of a rule GNU make reads (a line end, '=', ';', a
// backslash before a character make escapes, '%' in the target), or null.
const char *make_cannot_name(const std::string &name, bool target);

// NAME as make reads it in a rule: spaces, '#', ':', '|' and the wildcard
// characters behind a backslash, '$' doubled; any other backslash stays one.
std::string make_escaped(const std::string &name);

// Whether TARGET's rule with DEPS (a superset is fine) can be written;
// false with the one-line *error.  True without a depfile.
bool depfile_can_name(const std::string &target, const std::vector<std::string> &deps,
                      std::string *error);

// "TARGET: DEP DEP ...\n", each name once and normal (cli/paths.h), then
// "\nDEP:\n" for each DEP after the first (the model), as -MP writes.
std::string make_rule(const std::string &target, const std::vector<std::string> &deps);

// Prepares the run's depfile (nothing without --depfile), put in place
// when the run ends.  False with a one-line *error.
bool open_depfile(const Args &args, std::string *error);
// Appends TARGET's rule.
void depfile_rule(const std::string &target, const std::vector<std::string> &deps);
// Set when a file the run reads turns out to be the depfile's.
bool *depfile_taken();
// KEEP: the run was not cancelled.  False with the one-line *error when
// the depfile could not be written.
bool close_depfile(bool keep, std::string *error);

}  // namespace cli
}  // namespace molv

#endif  // MOLV_CLI_DEPFILE_H
