// Reading a whole file with POSIX calls. Pure C++: knows nothing of Python,
// so the caller may run it without the interpreter lock.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace pykora::core {

class File {
 public:
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  // Opens `path` read-only. Returns 0 or an errno value; a directory gives
  // EISDIR. EINTR is returned too, not retried: the caller decides, after
  // running signal handlers, whether to try again.
  int open(const char* path);
  int fd() const { return fd_; }
  // Size reported by the file system: a hint only, the file may change.
  std::size_t size_hint() const { return size_hint_; }

 private:
  int fd_ = -1;
  std::size_t size_hint_ = 0;
};

// What File::open learns without statx: EISDIR for a directory, else 0 and
// the size of a regular file in `size_hint`; the descriptor is left at the
// file's start.
int probe_without_statx(int fd, std::size_t& size_hint);

struct ReadStep {
  std::size_t bytes = 0;  // read by this call
  bool at_end = false;    // the file has no more data
  int error = 0;          // errno of a failed read (EINTR included), else 0
};

// Reads into `buffer` until it is full, the file ends or a read fails.
ReadStep read_into(const File& file, std::span<std::byte> buffer);

// Reads what follows in the file up to its end, appending to `tail`.
ReadStep read_rest(const File& file, std::vector<std::byte>& tail);

}  // namespace pykora::core
