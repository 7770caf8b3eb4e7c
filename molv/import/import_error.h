/*
 * How the import of a model fails: an ImportError with the reason, which
 * the load turns into the one line "FILE: reason".
 */
#ifndef MOLV_IMPORT_IMPORT_ERROR_H
#define MOLV_IMPORT_IMPORT_ERROR_H

#include <string>

#include "files/one_line.h"

namespace molv {

struct ImportError {
  std::string what;
};

}  // namespace molv

#endif  // MOLV_IMPORT_IMPORT_ERROR_H
