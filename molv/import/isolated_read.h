/*
 * A reader's planner in a child process.  A model can crash its reader (a
 * glTF image whose mime type has no '/', a chain of twenty thousand nested
 * nodes): read in a child, such a model ends the child, and molv names the
 * file instead of going down with it.  The child runs the planner once
 * (model_reader.h) and hands its plan back through a memory file
 * (plan_wire.h) with the files the read opened; molv builds the model from
 * the plan.  How far the read got comes back as it goes, through a pipe,
 * and a Cancel ends the child.  The child is bounded: it dies with molv
 * (whatever ends molv), has a time and a memory limit, and says nothing
 * on molv's standard output or error (a reader's own messages would land
 * beside molv's lines, or in a .x sent to standard output).  Every reader
 * gets all of this alike.
 */
#ifndef MOLV_IMPORT_ISOLATED_READ_H
#define MOLV_IMPORT_ISOLATED_READ_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "import/model_plan.h"
#include "import/model_reader.h"

namespace molv {

// What one read may take: the seconds until the child is ended, and the
// bytes of memory it may take on top of what it starts with (0: no limit).
// The defaults leave room many times over for every real model we know
// (docs/command-line.md says how they were found).
inline constexpr double kDefaultReadSeconds = 120;
inline constexpr std::uint64_t kDefaultReadBytes = std::uint64_t{4} << 30;
struct ReadLimits {
  double seconds = kDefaultReadSeconds;
  std::uint64_t bytes = kDefaultReadBytes;
};

// How the child ended: it answered (with a plan or the reader's reason),
// or it failed otherwise (a crash), was stopped (STOP, a signal), or
// reached one of the limits.
enum class ReadEnd { kAnswered, kFailed, kStopped, kTimeLimit, kMemoryLimit };

// "4 GiB", "300 s": a limit as the lines name it.
std::string bytes_text(std::uint64_t bytes);
std::string seconds_text(double seconds);

struct IsolatedRead {
  ReadEnd end = ReadEnd::kFailed;
  // Whether the child read the file and planned the model in `plan`.
  bool planned = false;
  ModelPlan plan;
  // Why not (the reader's error, what the plan refused, or that the
  // reader crashed), when not planned.
  std::string reason;
  // The files the reader opened, and why one was refused (model_files.h).
  std::vector<std::string> opened;
  std::string refusal;
  // The child's answer, mapped: the plan's arrays are read from there
  // (Planned::received), so it stays until the model is built.
  std::shared_ptr<void> answer;
  // The child, once its answer is whole: it ends while molv builds the
  // model, and is waited for when the read goes.
  std::shared_ptr<void> ending_child;
};

// The hidden command of a child that reads apart in a new molv (used off
// the main thread):
// `molv --read-apart READER PATH ANSWER_FD PROGRESS_FD MEMORY_BYTES`.
inline constexpr const char *kReadApartCommand = "--read-apart";
int read_apart(const char *reader, const char *path, const char *answer_fd,
               const char *progress_fd, const char *memory_bytes);

// Reads PATH with READER and plans its model in a child process; PROGRESS
// (may be empty) hears how far it got, 0 to 100.  STOP (may be empty) is
// asked a few times a second, and at once after a signal, whether to give
// up: when it says so, the child is ended and the read is "the load was
// cancelled".  A child that reaches one of LIMITS is ended too.  MEANWHILE
// (may be empty) runs once the child has started, while it reads.
IsolatedRead read_isolated(const ModelReader &reader, const std::string &path,
                           const std::function<void(int)> &progress,
                           const std::function<bool()> &stop,
                           const ReadLimits &limits = ReadLimits(),
                           const std::function<void()> &meanwhile = {});

}  // namespace molv

#endif  // MOLV_IMPORT_ISOLATED_READ_H
