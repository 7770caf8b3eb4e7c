/*
 * Files molv writes beside a name and renames over it once they are
 * complete (the textures it extracts from a model, the plug-in's options
 * copied back after a --jobs run): a new hidden file in the same folder,
 * so that the rename replaces whatever stands at the name, a link
 * included, and never writes through it; a file that fails is removed and
 * leaves the name as it was.
 */
#ifndef MOLV_FILE_BESIDE_H
#define MOLV_FILE_BESIDE_H

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace molv {

// A new hidden file ("." NAME ".XXXXXX") in the folder of PATH, open for
// writing, its path in *temp.  -1 (errno set) when none can be made.
int open_beside(const std::string &path, std::string *temp);

// The mode a new file gets: 0666 less the process's umask.
mode_t new_file_mode();

// Writes all SIZE bytes of DATA, again after an interrupted or short
// write.  False when a write fails or writes nothing.
bool write_all(int fd, const void *data, std::size_t size);

}  // namespace molv

#endif  // MOLV_FILE_BESIDE_H
