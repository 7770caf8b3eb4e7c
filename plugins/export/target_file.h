/*
 * The file an export writes.  A run writes into a new temporary file in the
 * target's folder and renames it over the target only when the run is
 * complete, so a cancelled or failed export never destroys an earlier file.
 * The result looks as a direct write would have left it: a new file gets
 * 0666 less the umask, an existing target keeps its mode, a symbolic link is
 * followed (the file it names is replaced, the link stays).
 *
 * Where a rename cannot keep that promise (a target with several hard links,
 * a folder in which no new file can be made while the target itself is
 * writable) the target is written in place, so that it keeps its links: the
 * run still goes into a temporary file (beside the target, or in the
 * temporary folder), whose bytes are copied into the target only when the
 * run is complete.  Only when no temporary file can be made anywhere is the
 * target written directly.  A target that is not a regular file (a device, a
 * pipe) is written directly and never removed, whatever becomes of the run:
 * it is not the export's to remove.
 */
#ifndef QEL_EXPORT_TARGET_FILE_H
#define QEL_EXPORT_TARGET_FILE_H

#include <string>

namespace qel {

class TargetFile {
 public:
  TargetFile() = default;
  ~TargetFile();
  TargetFile(const TargetFile &) = delete;
  TargetFile &operator=(const TargetFile &) = delete;

  // False when the target may not be written: a directory, a file without
  // write permission, a folder that does not exist or cannot take the file.
  bool open(const std::string &path);
  int fd() const { return fd_; }
  bool in_place() const { return in_place_; }
  // The file the bytes go to while the run lasts.
  const std::string &written_path() const { return temp_.empty() ? target_ : temp_; }

  // Ends a complete run: closes the file and puts it in the target's place
  // (renamed over it, or copied into it).  False when that fails; the
  // output is then removed.
  bool commit();
  // Ends a cancelled or failed run: the output is removed, an earlier file
  // of that name (unless written in place) stays as it was.
  void discard();

 private:
  bool open_for_copy(const std::string &folder, const std::string &base);

  std::string target_;  // the file a symbolic link names, or the path
  std::string temp_;    // empty while the target is written directly
  int fd_ = -1;
  int target_fd_ = -1;  // the target, open while a run waits to be copied in
  bool in_place_ = false;
  bool removable_ = true;  // false for a device or pipe written in place
  bool active_ = false;    // opened, neither committed nor discarded
};

}  // namespace qel

#endif  // QEL_EXPORT_TARGET_FILE_H
