/*
 * What a run of molv export tells programs (--report FILE): one JSON
 * object per model on a line of its own (JSON Lines), written the moment
 * the model is done, and the run's total (models done, failed, refused,
 * cancelled, warnings, time) as its last line, and on standard error
 * after a batch.  The --jobs workers write
 * to the one file the run opened, each line in one write, and count into
 * counters they share with the parent.
 */
#ifndef MOLV_CLI_REPORT_H
#define MOLV_CLI_REPORT_H

#include <string>
#include <vector>

#include "cli/args.h"
#include "common/verify.h"
#include "common/x_summary.h"

namespace molv {
namespace cli {

struct ReportWarning {
  std::string code;  // stable: "lights-left-out", "no-mesh", ...
  std::string text;
};

struct ReportTexture {
  std::string name;  // as the .x names it
  bool found = false;      // a file of that name is there, beside the model or the .x
  bool embedded = false;   // the model holds the image (glTF's *0)
  bool extracted = false;  // written beside the .x by --extract-textures
  bool copied = false;     // copied beside the .x by --copy-textures
};

// One model of the run.
struct ModelReport {
  std::string input;   // the SCENE as given ("" for the built-in sample)
  std::string output;  // the .x written ("-" for standard output)
  std::string status;  // "done", "failed", "cancelled" or "refused" (not read)
  int exit_status = 0;
  std::string reason;  // why it did not complete; empty when done
  bool counted = false;  // the counts below are known
  XFileCounts counts;
  double seconds = 0.0;
  std::string options;  // the option string the export used
  std::vector<ReportWarning> warnings;
  std::vector<std::string> failed_by;  // the codes of the warnings that failed it
  std::vector<ReportTexture> textures;
  bool verified = false;  // --verify ran: VERIFY holds its verdict
  Verification verify;
};

// The stable code of a warning line of the load (import/load.h)
// or of molv's own.
std::string warning_code(const std::string &text);

// Every code warning_code gives, for --fail-on.
const std::vector<std::string> &warning_codes();

// The codes of WARNINGS that fail their model under --strict or
// --fail-on, each once; none without either.
std::vector<std::string> failing_warnings(const Args &args,
                                          const std::vector<ReportWarning> &warnings);

// The model as one line of JSON, without the line end.
std::string report_json(const ModelReport &model);

// Opens the run's report (nothing without --report; "-" is standard
// output) and the counters of the total, before any worker starts.
// False with a one-line *error.
bool open_report(const Args &args, std::string *error);
// Writes one LINE (a JSON object, without its line end) to the report.
void report_line(const std::string &line);
// Writes MODEL's line and counts it.
void report_model(const ModelReport &model);
// Whether a line is written per model (else only the counts are kept).
bool report_wanted();
// The total of a run of COUNT models: the report's last line,
// {"total": {"models": N, "done": D, ...}}, and after a batch "molv: N
// models: D done, F failed ... in T s" on standard error (not with
// --quiet).
void report_total(const Args &args, size_t count);
// Set when a file the run reads turns out to be the report's.
bool *report_taken();
// Ends the report: KEEP puts it in place (the run was not cancelled).
// False with the one-line *error when it could not be written.
bool close_report(bool keep, std::string *error);

}  // namespace cli
}  // namespace molv

#endif  // MOLV_CLI_REPORT_H
