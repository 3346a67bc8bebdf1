#include "core/file_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace pykora::core {
namespace {
// Linux transfers at most this much per read(2).
constexpr std::size_t kMaxChunk = 0x7ffff000;
constexpr std::size_t kTailChunk = 1 << 16;
}  // namespace

int probe_without_statx(int fd, std::size_t& size_hint) {
  // A read of nothing fails with EISDIR on a directory and returns at once on
  // anything else, a pipe without a writer included.
  if (::read(fd, nullptr, 0) < 0) {
    return errno;
  }
  // Where the end of a regular file lies is its size. Pipes and sockets
  // cannot seek, and devices and /proc files say 0: for them the size stays
  // unknown, as it does with stat.
  const off_t end = ::lseek(fd, 0, SEEK_END);
  if (end > 0) {
    if (::lseek(fd, 0, SEEK_SET) != 0) {
      return errno;
    }
    size_hint = static_cast<std::size_t>(end);
  }
  return 0;
}

File::~File() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

int File::open(const char* path) {
  if (fd_ >= 0) {  // a retry after a failure past the open itself
    ::close(fd_);
  }
  fd_ = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    return errno;
  }
  // statx rather than fstat: glibc 2.33 gave fstat a new symbol version,
  // which would raise the wheels' manylinux floor to glibc 2.34, while statx
  // dates from glibc 2.28. It asks the file system only for the type and size.
  struct statx st{};
  if (::statx(fd_, "", AT_EMPTY_PATH, STATX_TYPE | STATX_SIZE, &st) != 0) {
    // A kernel before 4.11 lacks statx, and an old seccomp profile refuses it.
    return errno == ENOSYS || errno == EPERM ? probe_without_statx(fd_, size_hint_) : errno;
  }
  if (S_ISDIR(st.stx_mode)) {
    return EISDIR;
  }
  if (S_ISREG(st.stx_mode) && st.stx_size > 0) {
    size_hint_ = static_cast<std::size_t>(st.stx_size);
  }
  return 0;
}

ReadStep read_into(const File& file, std::span<std::byte> buffer) {
  ReadStep step;
  while (step.bytes < buffer.size()) {
    const std::size_t want = std::min(buffer.size() - step.bytes, kMaxChunk);
    const ssize_t got = ::read(file.fd(), buffer.data() + step.bytes, want);
    if (got < 0) {
      step.error = errno;
      return step;
    }
    if (got == 0) {
      step.at_end = true;
      return step;
    }
    step.bytes += static_cast<std::size_t>(got);
  }
  return step;
}

ReadStep read_rest(const File& file, std::vector<std::byte>& tail) {
  ReadStep total;
  while (!total.at_end) {
    const std::size_t used = tail.size();
    tail.resize(used + std::max(kTailChunk, used));
    const ReadStep step = read_into(file, std::span(tail).subspan(used));
    tail.resize(used + step.bytes);
    total.bytes += step.bytes;
    total.at_end = step.at_end;
    if (step.error != 0) {
      total.error = step.error;
      return total;
    }
  }
  return total;
}

}  // namespace pykora::core
