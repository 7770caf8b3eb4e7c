/*
 * Where what a plug-in shows goes: the front end that runs (the command
 * line or the window) sets these hooks for the status line, the progress
 * bar, modal messages and the file chooser; debugf output goes to a file.
 * With no hook set, what a plug-in shows goes nowhere.
 */
#ifndef MOLV_API_DISPLAY_H
#define MOLV_API_DISPLAY_H

#include <cstdio>
#include <functional>
#include <string>

namespace molv {

struct Hooks {
  std::function<void(const std::string &)> status;
  std::function<void(int)> progress;
  std::function<void(const std::string &)> message;
  std::function<const char *(const char *title, const char *const *filters)>
      choose_file;  // null hook: the chooser is cancelled
};
Hooks &hooks();

// Where debugf writes: null for nowhere.
void set_debug_file(std::FILE *file);

}  // namespace molv

#endif  // MOLV_API_DISPLAY_H
