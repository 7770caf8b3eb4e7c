/*
 * The molv executable.  It exports the host interface to the plug-ins it
 * loads (the build links it with its symbols exported); the command line
 * itself lives in cli/.
 */
#include "api/host_memory.h"
#include "api/test_hooks.h"
#include "cli/cli.h"
#include "import/isolated_read.h"

#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
// Under the leak checker: the font library behind Tk keeps its caches until
// the process ends, which is no leak of ours.
extern "C" const char *__lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
extern "C" const char *__lsan_default_options() { return "print_suppressions=0"; }
#endif

int main(int argc, char **argv) {
  // The reader's child, started by a molv whose load runs off its main
  // thread.
  if (argc == 6 && std::strcmp(argv[1], molv::kReadApartCommand) == 0)
    return molv::read_apart(argv[2], argv[3], argv[4], argv[5]);
  molv::keep_freed_memory();
  // What a plug-in shows is for the user; the recording is for tests.
  molv::set_recording(false);
  return molv::cli::run(argc, argv);
}
