/*
 * The small pieces of writing a file that molv's own files share (the
 * run's files, files/output_file.h; the options copied for --jobs
 * workers): the mode a new file gets and a write that writes everything.
 */
#ifndef MOLV_FILES_WRITE_ALL_H
#define MOLV_FILES_WRITE_ALL_H

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace molv {

// The mode a new file gets: 0666 less the process's umask.
mode_t new_file_mode();

// Writes all SIZE bytes of DATA, again after an interrupted or short
// write.  False when a write fails or writes nothing.
bool write_all(int fd, const void *data, std::size_t size);

}  // namespace molv

#endif  // MOLV_FILES_WRITE_ALL_H
