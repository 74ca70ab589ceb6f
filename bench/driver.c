// Baseline for the speed benchmark: converts archives with the least work a program can do.
//
// For each archive it does what one conversion must do and nothing more: a private work
// directory beside the archive, the unpack program run inside it on "../OLD.ext", the pack
// program run on "../OLD.target", the source's time (even seconds) onto the new archive,
// the work directory removed, the source removed. No shell, no configuration file, no
// detection, no log: whatever the converter spends beyond this is its own overhead.
//
// Usage: driver --unpack "PROG ARGS" [--unpack-append "WORDS"] --pack "PROG ARGS"
//               [--pack-append "WORDS"] --target-ext EXT [--source-ext EXT] [-q] PATH...
// A PATH that is a directory stands for every regular file in it whose extension is
// --source-ext (any case), in name order; any other PATH is one archive.
#define _GNU_SOURCE
#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

typedef struct {
  char** words;
  int count;
} WordList;

static WordList unpackCmd, unpackAppend, packCmd, packAppend;
static const char* targetExt;
static const char* sourceExt;
static unsigned workCounter;
static int converted, failed;

// Splits at blanks and tabs as a Windows command line is split, the way the converter reads
// its templates: double quotes group words and are dropped; 2n backslashes before a quote
// give n backslashes and a grouping quote, 2n+1 give n backslashes and a literal quote.
static WordList splitWords(const char* text) {
  WordList list = {NULL, 0};
  size_t len = strlen(text);
  list.words = calloc(len / 2 + 2, sizeof(char*));
  const char* p = text;
  while (*p) {
    while (*p == ' ' || *p == '\t') p++;
    if (!*p) break;
    char* word = malloc(len + 1);
    size_t n = 0;
    int quoted = 0;
    while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
      if (*p == '\\') {
        size_t run = 0;
        while (*p == '\\') run++, p++;
        size_t keep = *p == '"' ? run / 2 : run;
        for (size_t i = 0; i < keep; i++) word[n++] = '\\';
        if (*p == '"' && run % 2 == 1) word[n++] = *p++;
        continue;
      }
      if (*p == '"') {
        quoted = !quoted;
      } else {
        word[n++] = *p;
      }
      p++;
    }
    word[n] = 0;
    list.words[list.count++] = word;
  }
  return list;
}

// Runs cmd's program with cmd's arguments, then `archive`, then the append words; returns
// the exit code, 128 + signal, or -1 when it cannot start.
static int runTemplate(const WordList* cmd, const char* archive, const WordList* append) {
  if (cmd->count == 0) return -1;
  char** argv = calloc((size_t)(cmd->count + append->count + 2), sizeof(char*));
  int n = 0;
  for (int i = 0; i < cmd->count; i++) argv[n++] = cmd->words[i];
  argv[n++] = (char*)archive;
  for (int i = 0; i < append->count; i++) argv[n++] = append->words[i];
  argv[n] = NULL;
  fflush(stdout);
  pid_t pid;
  int rc = posix_spawnp(&pid, argv[0], NULL, NULL, argv, environ);
  free(argv);
  if (rc != 0) return -1;
  int status;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

static int removeEntry(const char* path, const struct stat* st, int flag, struct FTW* ftw) {
  (void)st;
  (void)ftw;
  if (flag == FTW_DP) return rmdir(path) == 0 ? 0 : -1;
  return unlink(path) == 0 ? 0 : -1;
}

// Depth first, never following a link out of the tree.
static int removeTree(const char* dir) { return nftw(dir, removeEntry, 16, FTW_DEPTH | FTW_PHYS); }

// A new private work directory beside the archive; the counter moves past taken names.
static int makeWorkDir(char* name, size_t size) {
  for (int tries = 0; tries < 1000; tries++) {
    workCounter = workCounter % 999 + 1;
    snprintf(name, size, "$TMP$.%03u", workCounter);
    if (mkdir(name, 0700) == 0) return 0;
    if (errno != EEXIST) return -1;
  }
  return -1;
}

static const char* extensionOf(const char* name) {
  const char* dot = strrchr(name, '.');
  return dot && dot != name ? dot + 1 : "";
}

// Converts `name` (a bare name in the current directory).
static void convertOne(const char* name) {
  struct stat source;
  if (lstat(name, &source) != 0 || !S_ISREG(source.st_mode)) {
    failed++;
    return;
  }
  size_t len = strlen(name);
  const char* dot = strrchr(name, '.');
  size_t base = dot && dot != name ? (size_t)(dot - name) : len;
  char* target = malloc(base + strlen(targetExt) + 2);
  memcpy(target, name, base);
  sprintf(target + base, ".%s", targetExt);
  char* sourceRef = malloc(len + 4);
  sprintf(sourceRef, "../%s", name);
  char* targetRef = malloc(strlen(target) + 4);
  sprintf(targetRef, "../%s", target);

  char work[32];
  int ok = 0;
  if (makeWorkDir(work, sizeof work) == 0) {
    if (chdir(work) == 0) {
      ok = runTemplate(&unpackCmd, sourceRef, &unpackAppend) == 0 &&
           runTemplate(&packCmd, targetRef, &packAppend) == 0;
      if (chdir("..") != 0) {
        perror("chdir ..");
        exit(1);
      }
    }
    struct stat made;
    ok = ok && lstat(target, &made) == 0 && S_ISREG(made.st_mode);
    if (ok) {
      struct timespec times[2];
      times[0].tv_sec = source.st_mtim.tv_sec & ~(time_t)1;
      times[0].tv_nsec = 0;
      times[1] = times[0];
      utimensat(AT_FDCWD, target, times, AT_SYMLINK_NOFOLLOW);
    }
    removeTree(work);
    if (ok && (made.st_dev != source.st_dev || made.st_ino != source.st_ino)) unlink(name);
  }
  if (ok) {
    converted++;
  } else {
    failed++;
  }
  free(target);
  free(sourceRef);
  free(targetRef);
}

static int compareNames(const void* a, const void* b) {
  return strcmp(*(char* const*)a, *(char* const*)b);
}

// Every matching file of `dir`, listed first so new archives are not picked up.
static void convertDirectory(const char* dir) {
  int start = open(".", O_RDONLY | O_DIRECTORY);
  if (start < 0 || chdir(dir) != 0) {
    fprintf(stderr, "driver: cannot enter %s\n", dir);
    exit(1);
  }
  DIR* d = opendir(".");
  char** names = NULL;
  size_t count = 0, capacity = 0;
  struct dirent* e;
  while (d && (e = readdir(d)) != NULL) {
    if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN) continue;
    if (sourceExt && strcasecmp(extensionOf(e->d_name), sourceExt) != 0) continue;
    if (count == capacity) {
      capacity = capacity ? capacity * 2 : 64;
      names = realloc(names, capacity * sizeof(char*));
    }
    names[count++] = strdup(e->d_name);
  }
  if (d) closedir(d);
  qsort(names, count, sizeof(char*), compareNames);
  for (size_t i = 0; i < count; i++) {
    convertOne(names[i]);
    free(names[i]);
  }
  free(names);
  if (fchdir(start) != 0) exit(1);
  close(start);
}

static void convertPath(const char* path) {
  struct stat st;
  if (stat(path, &st) == 0 && S_ISDIR(st.st_mode)) {
    convertDirectory(path);
    return;
  }
  const char* slash = strrchr(path, '/');
  if (!slash) {
    convertOne(path);
    return;
  }
  int start = open(".", O_RDONLY | O_DIRECTORY);
  char* dir = strndup(path, (size_t)(slash - path) + (slash == path));
  if (start < 0 || chdir(dir) != 0) {
    failed++;
  } else {
    convertOne(slash + 1);
  }
  free(dir);
  if (start >= 0) {
    if (fchdir(start) != 0) exit(1);
    close(start);
  }
}

static void usage(void) {
  fprintf(stderr,
          "usage: driver --unpack \"PROG ARGS\" [--unpack-append WORDS] --pack \"PROG ARGS\"\n"
          "              [--pack-append WORDS] --target-ext EXT [--source-ext EXT] [-q] "
          "PATH...\n");
  exit(2);
}

int main(int argc, char** argv) {
  const char* unpack = NULL;
  const char* pack = NULL;
  const char* unpackApp = "";
  const char* packApp = "";
  int quiet = 0;
  int first = argc;
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    int hasValue = i + 1 < argc;
    if (strcmp(a, "--unpack") == 0 && hasValue) {
      unpack = argv[++i];
    } else if (strcmp(a, "--unpack-append") == 0 && hasValue) {
      unpackApp = argv[++i];
    } else if (strcmp(a, "--pack") == 0 && hasValue) {
      pack = argv[++i];
    } else if (strcmp(a, "--pack-append") == 0 && hasValue) {
      packApp = argv[++i];
    } else if (strcmp(a, "--target-ext") == 0 && hasValue) {
      targetExt = argv[++i];
    } else if (strcmp(a, "--source-ext") == 0 && hasValue) {
      sourceExt = argv[++i];
    } else if (strcmp(a, "-q") == 0) {
      quiet = 1;
    } else if (strcmp(a, "--") == 0) {
      first = i + 1;
      break;
    } else if (a[0] == '-') {
      usage();
    } else {
      first = i;
      break;
    }
  }
  if (!unpack || !pack || !targetExt || first >= argc) usage();
  unpackCmd = splitWords(unpack);
  unpackAppend = splitWords(unpackApp);
  packCmd = splitWords(pack);
  packAppend = splitWords(packApp);
  for (int i = first; i < argc; i++) convertPath(argv[i]);
  if (!quiet) printf("driver: %d converted, %d failed\n", converted, failed);
  return failed ? 1 : 0;
}
