/*
 * A file a run writes besides the export (an extracted or copied texture,
 * the debug log), prepared in full before it replaces anything and put in
 * place with the run's other files, by the rules the export file keeps:
 *
 * - The new file lies beside its name without a name of its own (a run
 *   that dies leaves nothing); at the commit it gets a short hidden name
 *   (".molv." and six characters, so that it fits beside any name the
 *   system accepts), reaches the disk and is renamed over the name.
 * - It takes the mode, owner and group of the file it replaces (0666 less
 *   the umask for a new name).  Where a rename would lose something (a file
 *   with several hard links, an owner the process cannot give) the content
 *   is copied into the earlier file instead, which keeps its inode.
 * - A symbolic link at the name is replaced, never written through.
 * - A pipe, terminal or device at the name (the debug log only) is opened
 *   without blocking and written directly; a pipe nobody reads is refused.
 */
#ifndef MOLV_FILES_OUTPUT_FILE_H
#define MOLV_FILES_OUTPUT_FILE_H

#include <cstddef>
#include <sys/stat.h>

#include <string>

namespace molv {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile() { discard(); }
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;

  // Prepares the file for PATH.  STREAMS: a pipe or device at PATH is
  // written directly; otherwise it is refused.  False with the one-line
  // reason in *error (without PATH) when PATH cannot take a file.
  bool open(const std::string &path, bool streams, std::string *error);
  // Where the content goes (-1 when not open).
  int fd() const { return fd_; }
  const std::string &path() const { return path_; }
  // True when an earlier file stands at the name (a commit replaces it).
  bool replaces() const { return replaces_; }

  // Puts the content in its place.  False (errno set) when it cannot be;
  // the prepared file is then removed and the name stays as it was.
  bool commit();
  // Removes the prepared file; the name stays as it was.
  void discard();

 private:
  enum class Kind { kRename, kCopyIn, kStream };
  bool copy_in();
  void close_all();
  bool open_stream(const std::string &path, bool append);
  bool set_up_like(const struct stat *earlier);

  std::string path_;
  std::string name_;  // the file name in the folder
  int folder_fd_ = -1;
  int fd_ = -1;
  std::string temp_;  // the hidden name of a prepared file that has one
  Kind kind_ = Kind::kRename;
  bool replaces_ = false;
  bool active_ = false;
};

// PATH with the symbolic links of its last part followed, as opening it
// for writing would (also to a name that does not exist yet); PATH itself
// for a link of /proc (an open file, not a path) or one that loops.
std::string follow_name_links(const std::string &path);

// Copies the regular file FROM into OUT's prepared file, opened without
// blocking (a FIFO or device at FROM is refused).  False with the reason in
// *error.
bool copy_regular_file(const std::string &from, int out_fd, std::string *error);

}  // namespace molv

#endif  // MOLV_FILES_OUTPUT_FILE_H
