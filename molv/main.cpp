/*
 * The molv executable.  It exports the host interface to the plug-ins it
 * loads (the build links it with its symbols exported); the command line
 * itself lives in cli.cpp.
 */
#include "cli.h"
#include "host.h"

#if defined(__SANITIZE_ADDRESS__)
// Under the leak checker: the font library behind Tk keeps its caches until
// the process ends, which is no leak of ours.
extern "C" const char *__lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
extern "C" const char *__lsan_default_options() { return "print_suppressions=0"; }
#endif

int main(int argc, char **argv) {
  molv::keep_freed_memory();
  return molv::cli::run(argc, argv);
}
