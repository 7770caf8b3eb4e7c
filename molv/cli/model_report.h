/*
 * What the report and the depfile say about the model just exported:
 * its textures (found beside the model or the .x, embedded, extracted)
 * and the files it depends on.
 */
#ifndef MOLV_CLI_MODEL_REPORT_H
#define MOLV_CLI_MODEL_REPORT_H

#include <string>
#include <vector>

#include "cli/report.h"

namespace molv {
namespace cli {

// The texture table of the current model, loaded from SCENE and exported
// to NAME.x (EXTRACTED: with --extract-textures).
std::vector<ReportTexture> model_textures(const std::string &scene, const std::string &name,
                                          bool extracted);

// The files an export of SCENE depends on: every file the import opened
// (the scene itself for a scene file), then the textures found beside it.
std::vector<std::string> model_dependencies(const std::string &scene,
                                            const std::vector<ReportTexture> &textures);

}  // namespace cli
}  // namespace molv

#endif  // MOLV_CLI_MODEL_REPORT_H
