/*
 * The buffered output context.  Every byte of an export passes through
 * here; the first failed write sets the sticky error.
 */
#include "core/output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace qel {

Output::Output() : buffer_(new char[kCapacity]) {}

Output::~Output() { delete[] buffer_; }

void Output::attach_fd(int fd, bool write_ahead) { attach(fd, nullptr, write_ahead); }

void Output::attach_string(std::string *sink) { attach(-1, sink, false); }

void Output::attach(int fd, std::string *sink, bool write_ahead) {
  fd_ = fd;
  sink_ = sink;
  used_ = 0;
  flushed_ = 0;
  sent_ = 0;
  failed_ = false;
  write_ahead_ = write_ahead;
}

bool write_all(int fd, const char *data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool Output::flush() {
  if (used_ > 0 && !failed_) {
    if (sink_ != nullptr) {
      sink_->append(buffer_, used_);
    } else if (fd_ < 0 || !write_all(fd_, buffer_, used_)) {
      failed_ = true;
    } else if (write_ahead_) {
      send_ahead(flushed_ + static_cast<long>(used_));
    }
  }
  // After a failure the bytes are dropped, but the position still moves,
  // so that tell() stays what the writers expect.
  flushed_ += static_cast<long>(used_);
  used_ = 0;
  return !failed_;
}

void Output::send_ahead(long end) {
  // Only a start: the writes go on while the disk takes these pages, and
  // the sync at the end still waits for every one of them.
  constexpr long kStep = long{8} << 20;
  if (end - sent_ < kStep) return;
  (void)::sync_file_range(fd_, sent_, end - sent_, SYNC_FILE_RANGE_WRITE);
  sent_ = end;
}

void Output::write_slow(const char *data, std::size_t size) {
  while (size > 0) {
    if (used_ == kCapacity) flush();
    std::size_t room = kCapacity - used_;
    std::size_t n = size < room ? size : room;
    std::memcpy(buffer_ + used_, data, n);
    used_ += n;
    data += n;
    size -= n;
  }
}

void Output::printf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  char small[512];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n >= 0 && static_cast<std::size_t>(n) < sizeof small) {
    write(small, static_cast<std::size_t>(n));
  } else if (n >= 0) {
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(&big[0], big.size(), format, args);
    write(big.data(), static_cast<std::size_t>(n));
  }
  va_end(args);
}

void Output::patch(long position, const char *data, std::size_t size) {
  if (failed_ || position < 0) return;
  long end = position + static_cast<long>(size);
  if (end > tell()) return;
  if (position >= flushed_) {
    // Still in the buffer.
    std::memcpy(buffer_ + (position - flushed_), data, size);
    return;
  }
  if (sink_ != nullptr) {
    // The string holds everything flushed so far.
    std::size_t in_sink = static_cast<std::size_t>(flushed_ - position);
    std::size_t n = size < in_sink ? size : in_sink;
    sink_->replace(static_cast<std::size_t>(position), n, data, n);
    if (n < size) std::memcpy(buffer_, data + n, size - n);
    return;
  }
  std::size_t on_disk = static_cast<std::size_t>(flushed_ - position);
  std::size_t n = size < on_disk ? size : on_disk;
  std::size_t done = 0;
  while (done < n) {
    ssize_t w = ::pwrite(fd_, data + done, n - done, static_cast<off_t>(position) + static_cast<off_t>(done));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      failed_ = true;
      return;
    }
    done += static_cast<std::size_t>(w);
  }
  if (n < size) std::memcpy(buffer_, data + n, size - n);
}

}  // namespace qel
