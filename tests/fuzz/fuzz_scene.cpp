/*
 * The scene loader fed arbitrary bytes; a scene that loads is exported in
 * the process with options taken from the input.
 *
 * Input: when a line end comes within the first 64 bytes, the bytes before
 * it are the option text (copied over the built-in options, as qel_save
 * copies its third word) and the rest is the scene; a 51st byte of that
 * line from '0' on makes every host allocation after the (byte - '0')-th
 * fail.  Without such a line the whole input is the scene, exported under
 * the built-in options.
 *
 * Findings besides crashes, sanitizer reports and hangs: a refusal that is
 * not one line, a complete export whose text is not sound, a run that ends
 * other than complete while nothing failed, host memory kept by the export.
 *
 * With QEL_FUZZ_SHOW set in the environment (when running single inputs),
 * the refusal or the status and the written text go to standard error.
 */
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/options.h"
#include "fuzz_host.h"
#include "import/scene_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  qel_fuzz::start_host();
  const std::string input(reinterpret_cast<const char *>(data), size);

  std::string options = qel::kDefaultOptions;
  long fail_after = -1;
  std::string scene = input;
  const std::size_t line_end = input.find('\n');
  if (line_end != std::string::npos && line_end <= 64) {
    std::string line = input.substr(0, line_end);
    scene = input.substr(line_end + 1);
    if (line.size() > 50) {
      const int code = static_cast<unsigned char>(line[50]) - '0';
      if (code >= 0) fail_after = code;
      line.resize(50);
    }
    options = line;
  }

  static const bool show = std::getenv("QEL_FUZZ_SHOW") != nullptr;
  std::string error;
  if (!molv::load_scene_text(scene, "fuzz.json", &error)) {
    if (show) std::fprintf(stderr, "refused: %s\n", error.c_str());
    if (error.empty()) qel_fuzz::finding("a scene was refused without a reason");
    if (error.find('\n') != std::string::npos)
      qel_fuzz::finding("the refusal is more than one line: " + error);
    return 0;
  }

  qel::RunStatus status = qel::RunStatus::running;
  const std::string text = qel_fuzz::export_text(options, fail_after, &status);
  if (show) std::fprintf(stderr, "status %d\n%s\n", static_cast<int>(status), text.c_str());
  if (status == qel::RunStatus::completed) {
    if (const char *fault = qel_fuzz::structure_fault(text))
      qel_fuzz::finding(std::string("complete export, unsound text: ") + fault);
  } else if (!(status == qel::RunStatus::failed && fail_after >= 0)) {
    qel_fuzz::finding("the export ended with status " + std::to_string(static_cast<int>(status)) +
                      " though nothing failed");
  }
  return 0;
}
