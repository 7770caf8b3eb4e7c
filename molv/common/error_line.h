/*
 * molv's own error lines, for both front ends: "molv: TEXT" on standard
 * error, one line each, the last one kept for the report; and how they
 * name a model that came from standard input ("-", never the private file
 * it was put in).
 */
#ifndef MOLV_COMMON_ERROR_LINE_H
#define MOLV_COMMON_ERROR_LINE_H

#include <string>

namespace molv {

// "molv: TEXT" on standard error, as one line (files/one_line.h).
void error_line(const std::string &text);
// The TEXT of the last error_line since clear_last_error (for the report:
// why a model failed).
const std::string &last_error();
void clear_last_error();

// How messages name a scene of the command line (empty: the sample; the
// file a model from standard input was put in, PATH: "-").
std::string scene_label(const std::string &scene);
void name_stdin_scene(const std::string &path);

}  // namespace molv

#endif  // MOLV_COMMON_ERROR_LINE_H
