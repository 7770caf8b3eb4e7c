/*
 * What the report and the depfile say about the model just exported:
 * its textures (found beside the model or the .x, embedded, extracted)
 * and the files it depends on, from the record of its load.
 */
#ifndef MOLV_CLI_MODEL_REPORT_H
#define MOLV_CLI_MODEL_REPORT_H

#include <string>
#include <vector>

#include "cli/report.h"
#include "import/load.h"

namespace molv {
namespace cli {

// The texture table of LOAD's model, as TABLE names it now, exported to
// NAME.x (EXTRACTED: with --extract-textures).
std::vector<ReportTexture> model_textures(const Load &load, const std::vector<std::string> &table,
                                          const std::string &name, bool extracted);

// The files an export of LOAD depends on: every file the load opened, then
// the textures found beside the model.
std::vector<std::string> model_dependencies(const Load &load,
                                            const std::vector<ReportTexture> &textures);

}  // namespace cli
}  // namespace molv

#endif  // MOLV_CLI_MODEL_REPORT_H
