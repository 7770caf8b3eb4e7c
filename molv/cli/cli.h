/*
 * The molv command line: `molv export` exports models without a window,
 * `molv info` tells what a model holds, `molv --help` and `--version`;
 * `molv gui` is handed to the window (main.cpp joins the two front ends,
 * which know nothing of each other).  The words are read in args.h, the
 * export runs in batch.h (one model in export_model.h, --jobs in jobs.h),
 * what the user sees in console.h.
 */
#ifndef MOLV_CLI_CLI_H
#define MOLV_CLI_CLI_H

#include <functional>

#include "cli/args.h"

namespace molv {
namespace cli {

// The whole program, `molv gui` run by WINDOW with the words read: returns
// the exit status.
int run(int argc, char **argv, const std::function<int(const Args &)> &window);

}  // namespace cli
}  // namespace molv

#endif  // MOLV_CLI_CLI_H
