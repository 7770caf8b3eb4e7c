/*
 * The file an export writes.  Nothing the user had under that name is
 * truncated, removed or replaced before the run is complete: every run goes
 * into a temporary file first.
 *
 * - Replaced: the usual case.  The run goes into a new file beside the
 *   target, which gets the target's owner, group, mode and extended
 *   attributes (ACLs among them), reaches the disk and is renamed over the
 *   target; then the folder is synced.  The new file has no name until the
 *   run is complete (a run that dies leaves nothing), then a short hidden
 *   one that fits beside any name the system accepts; where the file
 *   system has no nameless files it has that name from the start.  A new
 *   file gets 0666 less the umask.  A symbolic link is followed: the file
 *   it names is replaced, the link stays.
 * - Copied in: where a rename would lose something (a target with several
 *   hard links; an owner, group or attribute the process may not give the
 *   new file; a folder that takes no new file or, sticky, refuses the
 *   rename), the complete run is copied into the target, which keeps its
 *   inode.  The space is reserved before the first byte of the target
 *   changes, so a full disk leaves the earlier content whole.
 * - Streamed: a target that is no regular file (a pipe, a terminal, a
 *   device, also behind a link such as /dev/stdout) receives the complete
 *   run, header patch included, and is never removed.
 *
 * The temporary file of a copy or a stream has no name (or loses it at
 * once), beside the target, in the temporary folder or in memory, so
 * nothing is ever left of it.  When no temporary file can be made anywhere
 * the target is refused, never written directly.
 */
#ifndef QEL_EXPORT_TARGET_FILE_H
#define QEL_EXPORT_TARGET_FILE_H

#include <sys/stat.h>

#include <string>

namespace qel {

class TargetFile {
 public:
  TargetFile() = default;
  ~TargetFile();
  TargetFile(const TargetFile &) = delete;
  TargetFile &operator=(const TargetFile &) = delete;

  // False when the target may not be written: a directory, a file without
  // write permission, a link that loops, a pipe that nobody reads, a folder
  // that does not exist or cannot take the file.
  bool open(const std::string &path);
  // Where the run's bytes go: always a regular file that can seek.
  int fd() const { return fd_; }
  // True when the run is copied or streamed into the target at the end.
  bool in_place() const { return kind_ != Kind::kReplace; }

  // Ends a complete run: puts it in the target's place.  False when that
  // fails; the run's file is then removed.
  bool commit();
  // Ends a cancelled or failed run: the run's file is removed, the target
  // stays as it was.
  void discard();

 private:
  enum class Kind { kReplace, kCopy, kStream };
  bool open_replace(const struct stat *existing);
  bool open_in_place(const std::string &path, Kind kind);
  bool rename_into_target();
  bool copy_into_target();
  bool copy_in_by_name();
  void close_all();

  std::string target_;  // the file the path names, links followed
  std::string temp_;    // the temporary file's name in the folder (replace; empty: none yet)
  int folder_fd_ = -1;  // the target's folder (replace)
  int fd_ = -1;         // the run
  int target_fd_ = -1;  // the target, open while the run waits to go in
  Kind kind_ = Kind::kReplace;
  bool active_ = false;  // opened, neither committed nor discarded
};

}  // namespace qel

#endif  // QEL_EXPORT_TARGET_FILE_H
