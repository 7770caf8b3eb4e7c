/*
 * A plug-in folder of one run's own.  The plug-in keeps its remembered
 * options beside itself (qel_export.opt) and reads them each time its
 * dialog opens; a run that must neither see nor change them (--defaults)
 * loads the plug-in from a new temporary folder that holds links to the
 * files of the real one and no options file.  The plug-in runs as it does
 * in the modeller, only in a folder where nothing was remembered yet.
 * The folder is named after the run's process (molv-plugin-PID-XXXXXX):
 * one whose run died before it could remove it (SIGKILL, a crash) is
 * removed by the next run that makes one.
 */
#ifndef MOLV_PRIVATE_PLUGIN_FOLDER_H
#define MOLV_PRIVATE_PLUGIN_FOLDER_H

#include <string>

namespace molv {

class PrivatePluginFolder {
 public:
  PrivatePluginFolder() = default;
  // Removes the folder and everything the plug-in left in it.
  ~PrivatePluginFolder();
  PrivatePluginFolder(const PrivatePluginFolder &) = delete;
  PrivatePluginFolder &operator=(const PrivatePluginFolder &) = delete;

  // Makes the folder (under $TMPDIR, else /tmp) with a link to every file
  // of SOURCE but its options file, which is copied when COPY_OPTIONS is
  // set (and SOURCE has one).  False with a one-line *error.
  bool create(const std::string &source, bool copy_options, std::string *error);
  // Absolute, without a trailing slash; empty before create.
  const std::string &path() const { return path_; }
  // Where the plug-in keeps its options in the folder.
  std::string options_file() const;
  // Removes the options file a complete export saved there, so that the
  // next dialog of the run finds none either.
  void forget_options() const;

 private:
  std::string path_;
};

// Copies the options file FROM as TO through a new file renamed over TO,
// so a link at TO is never written through and a failed copy leaves TO
// whole (nothing when FROM does not exist).  False with a one-line *error.
bool copy_options_file(const std::string &from, const std::string &to, std::string *error);

}  // namespace molv

#endif  // MOLV_PRIVATE_PLUGIN_FOLDER_H
