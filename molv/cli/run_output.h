/*
 * A file of the run's own that grows while the run goes (the report, the
 * depfile).  At a regular name it is prepared beside the name and put in
 * place when the run ends (files/output_file.h), so that a run that is
 * cancelled or dies leaves the earlier file as it was; a pipe or a device
 * at the name (/dev/stderr) is written as the run goes.  A write that fails
 * is remembered and said when the run ends.
 */
#ifndef MOLV_CLI_RUN_OUTPUT_H
#define MOLV_CLI_RUN_OUTPUT_H

#include <string>

#include "files/output_file.h"

namespace molv {
namespace cli {

class RunOutput {
 public:
  // WHAT: "report", "depfile".  False with the one-line *error.
  bool open(const std::string &path, const char *what, std::string *error);
  bool is_open() const { return fd_ >= 0; }
  // The lines of --jobs workers, which inherit the file, never overwrite
  // one another: each write goes to the end.
  void write(const std::string &text);
  // KEEP: the run ended (its models done or failed, not cancelled), and
  // the file goes in place; else, or when nothing was written into it,
  // the earlier file stays.  False with the
  // one-line *error when a write or putting it in place failed.
  bool finish(bool keep, std::string *error);
  // Set when a file the run reads turned out to be this one: it is then
  // never put in place.  Shared with the --jobs workers, which find the
  // files of their own models.
  bool *taken();

 private:
  OutputFile file_;
  std::string what_;
  int fd_ = -1;
  int write_errno_ = 0;
  bool *taken_ = nullptr;  // in memory shared with the workers
  bool own_taken_ = false;  // where no shared memory could be had
};

}  // namespace cli
}  // namespace molv

#endif  // MOLV_CLI_RUN_OUTPUT_H
