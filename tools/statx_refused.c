// An LD_PRELOAD shim that makes every statx() call fail, as it fails on a
// kernel before 4.11 (ENOSYS) or under a seccomp profile that refuses the
// call (EPERM), so that the reader's fallback runs. STATX_REFUSED_ERRNO
// chooses the error: ENOSYS (the default) or EPERM. Built and used by
// tools/statx_refused.sh.
#define _GNU_SOURCE
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

// How many calls were refused: the script reads it to show that the calls
// it means to refuse do reach the shim.
long statx_refusals = 0;

static int refused_errno = ENOSYS;

// Read once at load: getenv() is not safe while another thread sets a
// variable, and the reader calls statx without the interpreter lock.
__attribute__((constructor)) static void choose_errno(void) {
  const char* name = getenv("STATX_REFUSED_ERRNO");
  if (name != NULL && strcmp(name, "EPERM") == 0) {
    refused_errno = EPERM;
  }
}

int statx(int dirfd, const char* restrict path, int flags, unsigned int mask,
          struct statx* restrict buf) {
  (void)dirfd;
  (void)path;
  (void)flags;
  (void)mask;
  (void)buf;
  __atomic_add_fetch(&statx_refusals, 1, __ATOMIC_RELAXED);
  errno = refused_errno;
  return -1;
}
