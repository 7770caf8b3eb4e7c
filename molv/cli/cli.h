/*
 * The molv command line: `molv export` exports models without a window,
 * `molv gui` opens the modeller's window, `molv --help` and `--version`.
 * The words are read in args.h, the export runs in batch.h (one model in
 * export_model.h, --jobs in jobs.h), what the user sees in console.h.
 */
#ifndef MOLV_CLI_CLI_H
#define MOLV_CLI_CLI_H

namespace molv {
namespace cli {

// The whole program: returns the exit status.
int run(int argc, char **argv);

}  // namespace cli
}  // namespace molv

#endif  // MOLV_CLI_CLI_H
