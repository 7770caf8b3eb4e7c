/*
 * The output context every writer takes: a byte sink with a large buffer of
 * its own, the write position (for the header patch) and a sticky error.
 * The sink is an open file descriptor or, for tests, a string in memory.
 *
 * Ownership: the save command opens and closes the sink; writers only
 * append.  The first failed write sets the sticky error, and later writes
 * are dropped, so a writer never needs to look at a result: the run looks
 * at the error (ExportRun::running) and fails with it.
 *
 * On the floor: includes nothing of the plug-in.
 */
#ifndef QEL_CORE_OUTPUT_H
#define QEL_CORE_OUTPUT_H

#include <cstddef>
#include <cstring>
#include <string>

namespace qel {

// "00" "01" ... "99": the digit pairs of put_integer.
inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes all `size` bytes to `fd`, again after an interrupted or short
// write.  False when a write fails or writes nothing.
bool write_all(int fd, const char *data, std::size_t size);

class Output {
 public:
  Output();
  ~Output();
  Output(const Output &) = delete;
  Output &operator=(const Output &) = delete;

  // Writes into an open file descriptor (not owned: the caller closes it).
  // WRITE_AHEAD: the file is synced to the disk when the run is over, so
  // its pages are sent to the disk as the run goes, every few megabytes,
  // and that sync has only the last of them to wait for.
  void attach_fd(int fd, bool write_ahead = false);
  // Writes into a string the caller keeps.
  void attach_string(std::string *sink);

  void write(const char *data, std::size_t size) {
    if (size <= kCapacity - used_) {
      std::memcpy(buffer_ + used_, data, size);
      used_ += size;
    } else {
      write_slow(data, size);
    }
  }
  void puts(const char *text) { write(text, std::strlen(text)); }
  void puts(const std::string &text) { write(text.data(), text.size()); }
  void put(char c) {
    if (used_ == kCapacity) flush();
    buffer_[used_++] = c;
  }
  // printf-style, for the rare texts; the numbers of meshes go through
  // integer() and format_number_to, which format straight into the buffer
  // (reserve_tail / commit_tail).
  void printf(const char *format, ...) __attribute__((format(printf, 2, 3)));

  // A decimal integer ("%d").
  void integer(long value) {
    char *p = reserve_tail(kIntegerMax);
    commit_tail(static_cast<std::size_t>(put_integer(p, value) - p));
  }

  // Writes the "%d" text of `value` at `p` (room for kIntegerMax bytes)
  // and returns its end: for writers that lay out a whole line in the
  // buffer.  Two digits per step from a table: the face and index blocks
  // are millions of integers.
  static constexpr std::size_t kIntegerMax = 24;
  static char *put_integer(char *p, long value) {
    unsigned long v = static_cast<unsigned long>(value);
    if (value < 0) {
      *p++ = '-';
      v = 0UL - v;
    }
    int length = 1;
    for (unsigned long rest = v;; rest /= 10000, length += 4) {
      if (rest < 10) break;
      if (rest < 100) {
        length += 1;
        break;
      }
      if (rest < 1000) {
        length += 2;
        break;
      }
      if (rest < 10000) {
        length += 3;
        break;
      }
    }
    char *end = p + length;
    char *q = end;
    while (v >= 100) {
      q -= 2;
      std::memcpy(q, kDigitPairs + 2 * (v % 100), 2);
      v /= 100;
    }
    if (v >= 10) {
      std::memcpy(q - 2, kDigitPairs + 2 * v, 2);
    } else {
      q[-1] = static_cast<char>('0' + v);
    }
    return end;
  }

  // Bytes written so far (position of the next byte).
  long tell() const { return flushed_ + static_cast<long>(used_); }
  // Overwrites bytes at an earlier position (the header patch).
  void patch(long position, const char *data, std::size_t size);

  // Writes out the buffer.  False once any write has failed.
  bool flush();
  // A write (or the patch) failed since the sink was attached.
  bool failed() const { return failed_; }

  // Room for one call of reserve_tail(); writers that format into the
  // buffer directly ask for at most this much.
  static constexpr std::size_t kMaxDirect = 256;
  char *reserve_tail(std::size_t size) {
    if (kCapacity - used_ < size) flush();
    return buffer_ + used_;
  }
  void commit_tail(std::size_t size) { used_ += size; }

 private:
  static constexpr std::size_t kCapacity = std::size_t{1} << 20;
  // A new run into FD or SINK: nothing buffered, written or failed yet.
  void attach(int fd, std::string *sink, bool write_ahead);
  void write_slow(const char *data, std::size_t size);
  void send_ahead(long end);

  char *buffer_;
  std::size_t used_ = 0;
  long flushed_ = 0;
  long sent_ = 0;  // the bytes before this offset are on their way to the disk
  int fd_ = -1;
  bool write_ahead_ = false;
  std::string *sink_ = nullptr;
  bool failed_ = false;
};

}  // namespace qel

#endif  // QEL_CORE_OUTPUT_H
