/*
 * A private X server (Xvfb) for one test, so that window tests run without
 * a desktop and side by side.  Without Xvfb the display has no name and the
 * test skips itself.
 */
#ifndef QEL_TESTS_SUPPORT_VIRTUAL_DISPLAY_H
#define QEL_TESTS_SUPPORT_VIRTUAL_DISPLAY_H

#include <sys/types.h>

#include <string>

namespace qel_test {

class VirtualDisplay {
 public:
  // Starts Xvfb on a display number it picks itself and waits until it
  // accepts clients.
  VirtualDisplay();
  // Stops the server.
  ~VirtualDisplay();
  VirtualDisplay(const VirtualDisplay &) = delete;
  VirtualDisplay &operator=(const VirtualDisplay &) = delete;

  // ":N" for DISPLAY, or empty when the server did not start.
  const std::string &name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

}  // namespace qel_test

#endif  // QEL_TESTS_SUPPORT_VIRTUAL_DISPLAY_H
