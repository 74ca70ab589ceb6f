/* The reference of the scan benchmark: a minimal scanner that walks a tree as
 * zelm's search does (list a directory completely, sort the names, handle them
 * in order, descend depth first, pass over dot-directories) and reads the
 * first 128 bytes of every file, each opened relative to its directory.
 * Usage: scan_reference DIR; prints the number of files read. */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

struct name {
  char *text;
  unsigned char type;
};

static long filesRead;

static int byText(const void *a, const void *b) {
  return strcmp(((const struct name *)a)->text, ((const struct name *)b)->text);
}

static void readHead(int dir, const char *name) {
  char head[128];
  const int fd = openat(dir, name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  if (read(fd, head, sizeof head) >= 0) ++filesRead;
  close(fd);
}

static void walk(int dir) {
  const int listFd = openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR *stream = listFd < 0 ? NULL : fdopendir(listFd);
  if (stream == NULL) return;
  struct name *names = NULL;
  size_t count = 0, room = 0;
  for (struct dirent *item; (item = readdir(stream)) != NULL;) {
    if (count == room) {
      room = room ? room * 2 : 64;
      names = realloc(names, room * sizeof *names);
      if (names == NULL) abort();
    }
    names[count].text = strdup(item->d_name);
    names[count].type = item->d_type;
    ++count;
  }
  closedir(stream);
  qsort(names, count, sizeof *names, byText);
  for (size_t i = 0; i < count; ++i) {
    if (names[i].type == DT_DIR) {
      if (names[i].text[0] == '.') continue;
      const int sub = openat(dir, names[i].text, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub < 0) continue;
      walk(sub);
      close(sub);
    } else if (names[i].type == DT_REG) {
      readHead(dir, names[i].text);
    }
  }
  for (size_t i = 0; i < count; ++i) free(names[i].text);
  free(names);
}

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: scan_reference DIR\n");
    return 2;
  }
  const int top = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (top < 0) {
    perror(argv[1]);
    return 1;
  }
  walk(top);
  close(top);
  printf("%ld\n", filesRead);
  return 0;
}
