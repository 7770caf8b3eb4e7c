/*
 * "did you mean ...?": the nearest of a few known words to one the user
 * typed, for unknown flags and option names.
 */
#ifndef MOLV_CLI_SUGGEST_H
#define MOLV_CLI_SUGGEST_H

#include <string>
#include <vector>

namespace molv {
namespace cli {

// The word of KNOWN nearest to TYPED by edits (insert, delete, replace,
// swap of neighbours), when it is near enough to be a slip (at most a
// third of its length, and at least 1); empty otherwise.  A known word
// that TYPED begins or ends (--extract-texture) counts as near.
std::string nearest_word(const std::string &typed, const std::vector<std::string> &known);

// " (did you mean WORD?)", or empty when nothing is near.
std::string did_you_mean(const std::string &typed, const std::vector<std::string> &known);

}  // namespace cli
}  // namespace molv

#endif  // MOLV_CLI_SUGGEST_H
