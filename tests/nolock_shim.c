/* A file system that keeps no locks, for the black-box tests: loaded into
 * zelm with LD_PRELOAD, it makes every flock fail as such a file system does. */
#include <errno.h>
#include <sys/file.h>

int flock(int fd, int operation) {
  (void)fd;
  (void)operation;
  errno = ENOLCK;
  return -1;
}
