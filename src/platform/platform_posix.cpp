// The operating-system services of platform.h on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>

#include "platform/claim_key.h"
#include "platform/listing_order.h"
#include "platform/platform.h"
#include "platform/raw_file.h"

extern char** environ;

namespace platform {

namespace {

bool isReadOnly(const struct stat& st) { return (st.st_mode & S_IWUSR) == 0; }

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// Opens an existing regular file for reading without ever blocking on a FIFO
// or waking a device: non-regular names are refused before and after opening.
int openRegularForReading(const std::string& path, bool followLinks) {
  struct stat st;
  const int found = followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
  if (found != 0 || !S_ISREG(st.st_mode)) return -1;
  int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
  if (!followLinks) flags |= O_NOFOLLOW;
  const int fd = ::open(path.c_str(), flags);
  if (fd < 0) return -1;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// openRegularForReading for the one read of every file a scan meets, in
// fewer system calls: the name is opened as itself, never blocking, and
// refused after opening unless it is a regular file; a link is followed
// only once its target was seen to be one. The walk hands over no name that
// its listing knows to be a pipe or a device.
int openScannedFile(const std::string& path) {
  const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
  int fd = ::open(path.c_str(), flags | O_NOFOLLOW);
  if (fd < 0 && errno == ELOOP) {
    struct stat target;
    if (::stat(path.c_str(), &target) != 0 || !S_ISREG(target.st_mode)) return -1;
    fd = ::open(path.c_str(), flags);
  }
  if (fd < 0) return -1;
  // A regular file reads the same with or without O_NONBLOCK, so it stays.
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Prepares `path` to be written: a link of that name is removed (when
// `replaceLink`), a read-only file or anything but a regular file refuses.
bool readyForWriting(const std::string& path, bool replaceLink) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (S_ISLNK(st.st_mode)) return replaceLink && ::unlink(path.c_str()) == 0;
  return S_ISREG(st.st_mode) && !isReadOnly(st);
}

constexpr int kFirstDosYear = 1980;
constexpr int kLastDosYear = 2107;

DosDateTime packDos(const std::tm& t) {
  DosDateTime out;
  out.date = static_cast<uint16_t>(((t.tm_year + 1900 - kFirstDosYear) << 9) |
                                   ((t.tm_mon + 1) << 5) | t.tm_mday);
  out.time = static_cast<uint16_t>((t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec / 2));
  return out;
}

const DosDateTime kEarliestDos{static_cast<uint16_t>((1 << 5) | 1), 0};
const DosDateTime kLatestDos{
    static_cast<uint16_t>(((kLastDosYear - kFirstDosYear) << 9) | (12 << 5) | 31),
    static_cast<uint16_t>((23 << 11) | (59 << 5) | 29)};

// The name in the directory `parent` of its subdirectory `child`; empty
// when it has none (it was moved or removed).
std::string nameOfChild(int parent, const struct stat& child) {
  const int listFd = ::openat(parent, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* stream = listFd < 0 ? nullptr : ::fdopendir(listFd);
  if (stream == nullptr) {
    if (listFd >= 0) ::close(listFd);
    return "";
  }
  std::string found;
  while (const dirent* item = ::readdir(stream)) {
    const std::string_view name = item->d_name;
    if (name == "." || name == ".." || (item->d_type != DT_DIR && item->d_type != DT_UNKNOWN)) {
      continue;
    }
    // A mount point lists the inode beneath it, so the identity is taken
    // from the name itself.
    struct stat st;
    if (::fstatat(parent, item->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        st.st_dev == child.st_dev && st.st_ino == child.st_ino) {
      found = name;
      break;
    }
  }
  ::closedir(stream);
  return found;
}

// The current directory's path when it is longer than the system will hand
// out: its names looked up one level after the other, up to the root.
std::string pathFoundUpwards() {
  int fd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  struct stat here;
  if (fd < 0 || ::fstat(fd, &here) != 0) {
    if (fd >= 0) ::close(fd);
    return "";
  }
  std::vector<std::string> names;
  for (;;) {
    const int parent = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    struct stat above;
    if (parent < 0 || ::fstat(parent, &above) != 0) {
      if (parent >= 0) ::close(parent);
      return "";
    }
    fd = parent;
    if (above.st_dev == here.st_dev && above.st_ino == here.st_ino) break;
    std::string name = nameOfChild(parent, here);
    if (name.empty()) {
      ::close(fd);
      return "";
    }
    names.push_back(std::move(name));
    here = above;
  }
  ::close(fd);
  std::string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) path += "/" + *it;
  return path.empty() ? "/" : path;
}

}  // namespace

bool listDirectory(const std::string& dir, std::vector<DirEntry>& entries) {
  entries.clear();
  DIR* stream = ::opendir(dir.c_str());
  if (stream == nullptr) return false;
  const int dirFd = ::dirfd(stream);
  while (const dirent* item = ::readdir(stream)) {
    struct stat st;
    // An entry that vanished between readdir and the lstat is simply gone.
    if (::fstatat(dirFd, item->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    DirEntry entry;
    entry.name = item->d_name;
    entry.isDirectory = S_ISDIR(st.st_mode);
    entry.lastWrite = st.st_mtime;
    entry.size = static_cast<uint64_t>(st.st_size);
    entries.push_back(std::move(entry));
  }
  ::closedir(stream);
  sortListing(entries);
  return true;
}

std::string currentDirectory() {
  std::string buffer(256, '\0');
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno == ENAMETOOLONG) return pathFoundUpwards();
    if (errno != ERANGE) return "";
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer;
}

bool changeDirectory(const std::string& path) { return ::chdir(path.c_str()) == 0; }

std::string absolutePath(const std::string& name) {
  std::string joined = name;
  if (name.empty() || name[0] != '/') joined = currentDirectory() + "/" + name;
  std::vector<std::string_view> parts;
  std::string_view rest(joined);
  while (!rest.empty()) {
    const size_t slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  if (parts.empty()) return "/";
  std::string out;
  for (const auto part : parts) {
    out += '/';
    out += part;
  }
  return out;
}

size_t driveLength(std::string_view) { return 0; }

bool isSeparator(char c) { return c == '/' || c == '\\'; }

bool makeDirectory(const std::string& path) { return ::mkdir(path.c_str(), 0700) == 0; }

bool makeSharedDirectory(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

bool removeDirectory(const std::string& path) { return ::rmdir(path.c_str()) == 0; }

bool deleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool renameFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool setNormalAttributes(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return false;
  if (S_ISLNK(st.st_mode)) return true;
  if (!isReadOnly(st)) return true;
  return ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

std::optional<FileStatus> fileStatus(const std::string& path, bool followLinks) {
  struct stat st;
  const int found = followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
  if (found != 0) return std::nullopt;
  FileStatus status;
  if (S_ISREG(st.st_mode)) {
    status.kind = EntryKind::File;
  } else if (S_ISDIR(st.st_mode)) {
    status.kind = EntryKind::Directory;
  } else if (S_ISLNK(st.st_mode)) {
    status.kind = EntryKind::Link;
  }
  status.readOnly = isReadOnly(st);
  status.size = static_cast<uint64_t>(st.st_size);
  status.lastWrite = st.st_mtime;
  status.id = FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  status.changeTime = int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return status;
}

bool isProgramFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  return S_ISREG(st.st_mode) && (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
}

DosDateTime toDosDateTime(int64_t seconds) {
  const auto when = static_cast<time_t>(seconds);
  std::tm local{};
  if (static_cast<int64_t>(when) != seconds || ::localtime_r(&when, &local) == nullptr) {
    return seconds < 0 ? kEarliestDos : kLatestDos;
  }
  const int year = local.tm_year + 1900;
  if (year < kFirstDosYear) return kEarliestDos;
  if (year > kLastDosYear) return kLatestDos;
  return packDos(local);
}

bool readDosTime(const std::string& path, DosDateTime& out) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  out = toDosDateTime(st.st_mtime);
  return true;
}

bool writeDosTime(const std::string& path, const DosDateTime& when) {
  std::tm local{};
  local.tm_year = (when.date >> 9) + kFirstDosYear - 1900;
  local.tm_mon = ((when.date >> 5) & 0x0F) - 1;
  local.tm_mday = when.date & 0x1F;
  local.tm_hour = when.time >> 11;
  local.tm_min = (when.time >> 5) & 0x3F;
  local.tm_sec = (when.time & 0x1F) * 2;
  local.tm_isdst = -1;
  const time_t seconds = std::mktime(&local);
  if (seconds == static_cast<time_t>(-1)) return false;
  const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

std::string localTimeText() {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const time_t now = std::time(nullptr);
  std::tm local{};
  if (::localtime_r(&now, &local) == nullptr) return "??? ??? ?? ??:??:?? ????\n";
  char text[64];
  std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %d\n", kDays[local.tm_wday % 7],
                kMonths[local.tm_mon % 12], local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, local.tm_year + 1900);
  return text;
}

std::string executablePath() {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return "";
    if (static_cast<size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<size_t>(length));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::vector<std::string> pathEntries() {
  std::vector<std::string> entries;
  const char* value = std::getenv("PATH");
  if (value == nullptr) return entries;
  std::string_view rest(value);
  for (;;) {
    const size_t colon = rest.find(':');
    entries.emplace_back(rest.substr(0, colon));
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return entries;
}

bool readFileHead(const std::string& path, size_t count, std::string& out) {
  out.clear();
  const int fd = openScannedFile(path);
  if (fd < 0) return false;
  out.resize(count);
  size_t filled = 0;
  bool ok = true;
  while (filled < count) {
    const ssize_t got = ::read(fd, out.data() + filled, count - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ok = false;
    if (got <= 0) break;
    filled += static_cast<size_t>(got);
  }
  ::close(fd);
  out.resize(filled);
  return ok;
}

bool readFileTail(const std::string& path, size_t count, std::string& out) {
  out.clear();
  const int fd = openRegularForReading(path, true);
  if (fd < 0) return false;
  struct stat status;
  bool ok = ::fstat(fd, &status) == 0;
  if (ok) {
    const off_t size = status.st_size;
    const off_t start = size > off_t(count) ? size - off_t(count) : 0;
    out.resize(size_t(size - start));
    size_t filled = 0;
    while (filled < out.size()) {
      const ssize_t got =
          ::pread(fd, out.data() + filled, out.size() - filled, start + off_t(filled));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) ok = false;
      if (got <= 0) break;
      filled += static_cast<size_t>(got);
    }
    out.resize(filled);
  }
  ::close(fd);
  return ok;
}

bool copyFile(const std::string& from, const std::string& to) {
  const int in = openRegularForReading(from, true);
  if (in < 0) return false;
  struct stat source;
  struct stat target;
  // Copying a file onto itself would truncate it before it is read.
  const bool sameFile = ::fstat(in, &source) == 0 && ::stat(to.c_str(), &target) == 0 &&
                        source.st_dev == target.st_dev && source.st_ino == target.st_ino;
  if (sameFile || !readyForWriting(to, true)) {
    ::close(in);
    return false;
  }
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (out < 0) {
    ::close(in);
    return false;
  }
  char buffer[65536];
  bool ok = true;
  for (;;) {
    const ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ok = false;
    if (got <= 0) break;
    if (!writeAll(out, buffer, static_cast<size_t>(got))) {
      ok = false;
      break;
    }
  }
  ::close(in);
  if (::close(out) != 0) ok = false;
  return ok;
}

bool readFilePieces(const std::string& path,
                    const std::function<bool(std::string_view piece)>& consume) {
  const int fd = openRegularForReading(path, false);
  if (fd < 0) return false;
  static char buffer[1 << 16];
  bool ok = true;
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ok = false;
    if (got <= 0) break;
    if (!consume(std::string_view(buffer, static_cast<size_t>(got)))) {
      ok = false;
      break;
    }
  }
  ::close(fd);
  return ok;
}

std::optional<std::string> readLinkTarget(const std::string& path) {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (length < 0) return std::nullopt;
    if (static_cast<size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<size_t>(length));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

namespace raw {

File openForReading(const std::string& path, bool followLinks) {
  const int fd = openRegularForReading(path, followLinks);
  return fd < 0 ? kNoFile : fd;
}

File openForWriting(const std::string& path, TextWriter::Mode mode, bool throughLink) {
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
  if (mode == TextWriter::Mode::CreateNew) {
    // O_EXCL refuses every existing name, a dangling link included.
    flags |= O_EXCL | O_NOFOLLOW;
  } else if (throughLink) {
    flags |= mode == TextWriter::Mode::Truncate ? O_TRUNC : O_APPEND;
    struct stat st;
    const bool found = ::stat(path.c_str(), &st) == 0;
    if (found ? !S_ISREG(st.st_mode) || isReadOnly(st) : errno != ENOENT) return kNoFile;
  } else {
    const bool truncate = mode == TextWriter::Mode::Truncate;
    if (!readyForWriting(path, truncate)) return kNoFile;
    flags |= O_NOFOLLOW | (truncate ? O_TRUNC : O_APPEND);
  }
  const int fd = ::open(path.c_str(), flags, 0666);
  return fd < 0 ? kNoFile : fd;
}

long long read(File file, char* data, size_t size) {
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(file), data, size);
    if (got >= 0 || errno != EINTR) return got;
  }
}

bool write(File file, const char* data, size_t size) {
  return writeAll(static_cast<int>(file), data, size);
}

int64_t size(File file) {
  struct stat st;
  if (::fstat(static_cast<int>(file), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool truncate(File file, int64_t size) {
  while (::ftruncate(static_cast<int>(file), static_cast<off_t>(size)) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

bool close(File file) { return ::close(static_cast<int>(file)) == 0; }

}  // namespace raw

const char kSeparator = '/';

const bool kProgramsCarryExtension = false;

bool isAbsolute(std::string_view name) { return !name.empty() && name[0] == '/'; }

bool sameEntryName(std::string_view a, std::string_view b) { return a == b; }

RunResult runCommandLine(const std::string& program, const std::vector<std::string>& words,
                         const std::string&, const RunOptions& options) {
  return runAndWait(program, words, options);
}

DirectoryLock::~DirectoryLock() { unlock(); }

bool DirectoryLock::lock(const std::string& dir) {
  unlock();
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  // flock on the directory itself: no lock file to leave behind or to race
  // over, and the lock goes with the process however it ends.
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(fd);
      return false;
    }
  }
  handle_ = fd;
  return true;
}

void DirectoryLock::unlock() {
  if (handle_ == -1) return;
  ::close(static_cast<int>(handle_));
  handle_ = -1;
}

bool makeDirectoryPath(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    ::mkdir(path.substr(0, slash).c_str(), 0777);
  }
  ::mkdir(path.c_str(), 0777);
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool canCreateEntriesIn(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || isReadOnly(st)) return false;
  // Permission bits do not tell a read-only mount or another owner's
  // directory: only trying does.
  std::string probe = path + "/.zelm-probe-XXXXXX";
  if (::mkdtemp(probe.data()) == nullptr) return false;
  ::rmdir(probe.c_str());
  return true;
}

// ---- Child programs under a time limit, and the signals that stop a run ----

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
// How long a program asked to end may take before it is killed.
constexpr int kGraceSeconds = 2;

volatile sig_atomic_t stopSignalNumber = 0;
volatile sig_atomic_t stopRequests = 0;
volatile sig_atomic_t childChanged = 0;
bool stopSignalCaught[std::size(kStopSignals)] = {};
bool stopDefaultsBack = false;

void noteStopSignal(int signal) {
  if (stopSignalNumber == 0) stopSignalNumber = signal;
  stopRequests = stopRequests + 1;
}

// Its arrival is what matters: it wakes the wait for a child.
void noteChild(int) { childChanged = 1; }

// With `once` the system gives each signal its default action back after its
// first delivery, so that a second one ends the process even while it is
// blocked in a system call.
void armStopSignals(bool once) {
  struct sigaction action {};
  action.sa_handler = noteStopSignal;
  action.sa_flags = SA_RESTART | (once ? SA_RESETHAND : 0);
  sigemptyset(&action.sa_mask);
  for (const int signal : kStopSignals) sigaddset(&action.sa_mask, signal);
  for (size_t i = 0; i < std::size(kStopSignals); ++i) {
    if (stopSignalCaught[i]) ::sigaction(kStopSignals[i], &action, nullptr);
  }
}

void giveStopSignalsTheirDefaults() {
  for (size_t i = 0; i < std::size(kStopSignals); ++i) {
    if (stopSignalCaught[i]) ::signal(kStopSignals[i], SIG_DFL);
  }
  stopDefaultsBack = true;
}

[[noreturn]] void endAtOnce(int signal) {
  ::signal(signal, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signal);
  ::_exit(128 + signal);
}

void watchChildren() {
  static bool watching = false;
  if (watching) return;
  struct sigaction action {};
  action.sa_handler = noteChild;
  action.sa_flags = SA_RESTART;  // stops are reported too: see stoppedAtTerminal
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGCHLD, &action, nullptr);
  watching = true;
}

// Where the program's standard output and standard error are sent.
void directOutput(posix_spawn_file_actions_t& actions, ProgramOutput output, int captureFd) {
  if (output == ProgramOutput::Discard) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  } else if (output == ProgramOutput::Capture) {
    posix_spawn_file_actions_adddup2(&actions, captureFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, captureFd, STDERR_FILENO);
  }
}

bool spawnInOwnGroup(const std::string& program, const std::vector<std::string>& args,
                     ProgramOutput output, int captureFd, pid_t& child) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 2);
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  // What this process ignores or catches is its own business: the program
  // gets the default handling (a stop signal ignored at our start stays so).
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGCHLD);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  directOutput(actions, output, captureFd);

  const int failed =
      ::posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return failed == 0;
}

timespec monotonicNow() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return now;
}

timespec secondsAfter(const timespec& from, int seconds) {
  timespec at = from;
  at.tv_sec += seconds;
  return at;
}

bool reached(const timespec& deadline) {
  const timespec now = monotonicNow();
  return now.tv_sec > deadline.tv_sec ||
         (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

timespec timeUntil(const timespec& deadline) {
  const timespec now = monotonicNow();
  timespec left{deadline.tv_sec - now.tv_sec, deadline.tv_nsec - now.tv_nsec};
  if (left.tv_nsec < 0) {
    left.tv_nsec += 1000000000L;
    --left.tv_sec;
  }
  if (left.tv_sec < 0) left = timespec{0, 0};
  return left;
}

// True once the program has ended; it stays unreaped, so that its group id
// cannot go to another process while the group is being killed.
bool hasEnded(pid_t child) {
  siginfo_t info{};
  if (::waitid(P_PID, child, &info, WEXITED | WNOHANG | WNOWAIT) != 0) return errno != EINTR;
  return info.si_pid == child;
}

// A program in a background group that reads the terminal (or writes to it
// under `stty tostop`) is stopped by the system and can never go on.
bool stoppedAtTerminal(pid_t child) {
  siginfo_t info{};
  if (::waitid(P_PID, child, &info, WSTOPPED | WNOHANG) != 0) return false;
  return info.si_pid == child && (info.si_status == SIGTTIN || info.si_status == SIGTTOU);
}

int exitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// The pipe a program's output is captured through. Its reading end never
// blocks, so the wait for the program reads whatever is there and goes on.
class OutputPipe {
 public:
  OutputPipe() = default;
  OutputPipe(const OutputPipe&) = delete;
  OutputPipe& operator=(const OutputPipe&) = delete;
  ~OutputPipe() {
    closeWritingEnd();
    if (reading_ >= 0) ::close(reading_);
  }

  bool open(const std::function<void(std::string_view)>* take) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return false;
    reading_ = ends[0];
    writing_ = ends[1];
    ::fcntl(reading_, F_SETFL, ::fcntl(reading_, F_GETFL) | O_NONBLOCK);
    take_ = take;
    return true;
  }

  int writingEnd() const { return writing_; }
  // -1 when nothing is captured or everything has been read.
  int readingEnd() const { return reading_; }

  // Only the program holds the writing end, so the pipe ends when it does.
  void closeWritingEnd() {
    if (writing_ >= 0) ::close(writing_);
    writing_ = -1;
  }

  // One read of what is there; false once there is nothing more to come.
  bool readSome() {
    if (reading_ < 0) return false;
    char buffer[65536];
    const ssize_t got = ::read(reading_, buffer, sizeof buffer);
    if (got > 0) {
      if (take_ != nullptr && *take_) (*take_)(std::string_view(buffer, size_t(got)));
      return true;
    }
    if (got < 0 && errno == EINTR) return true;
    if (got < 0 && errno == EAGAIN) return false;  // more may come later
    ::close(reading_);
    reading_ = -1;
    return false;
  }

  // After the program has ended: what it wrote is all in the pipe. Whatever
  // it left running may go on writing, so no more than a full pipe's worth
  // of reads is waited for.
  void readRest() {
    for (int reads = 0; reads < 64 && readSome(); ++reads) {
    }
  }

 private:
  int reading_ = -1;
  int writing_ = -1;
  const std::function<void(std::string_view)>* take_ = nullptr;
};

// One program being waited for, and how it is brought to an end.
class ChildWait {
 public:
  ChildWait(pid_t child, const RunOptions& options, OutputPipe& output)
      : child_(child), output_(output) {
    if (options.timeLimitSeconds > 0) {
      limit_ = secondsAfter(monotonicNow(), options.timeLimitSeconds);
      hasLimit_ = true;
    }
  }

  // Waits with the signals of `blocked` held back except while asleep.
  RunResult wait(const sigset_t& blocked) {
    sigset_t asleep = blocked;
    for (const int signal : {SIGCHLD, SIGINT, SIGTERM, SIGHUP}) sigdelset(&asleep, signal);
    while (!hasEnded(child_)) {
      if (stoppedAtTerminal(child_)) kill();
      if (!askedToEnd_ && stopSignalNumber != 0) askToEnd(RunEnd::Stopped);
      if (!askedToEnd_ && hasLimit_ && reached(limit_)) askToEnd(RunEnd::TimedOut);
      if (askedToEnd_ && (reached(killAt_) || stopRequests > 1)) kill();
      sleep(asleep);
    }
    // Whatever it started goes with it.
    if (askedToEnd_) kill();
    output_.readRest();
    int status = 0;
    pid_t reaped = -1;
    do {
      reaped = ::waitpid(child_, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    RunResult result;
    result.end = end_;
    if (end_ == RunEnd::Exited && reaped == child_) result.exitCode = exitCodeOf(status);
    if (end_ == RunEnd::Stopped) finishStop();
    return result;
  }

 private:
  // Until a signal of interest, the next deadline, or output to read. The
  // output is read as it comes: a full pipe would hold the program up, and
  // with it the run, past any time limit.
  void sleep(const sigset_t& asleep) {
    const timespec* timeout = nullptr;
    timespec left{};
    if (askedToEnd_ && !killed_) {
      left = timeUntil(killAt_);
      timeout = &left;
    } else if (!askedToEnd_ && hasLimit_) {
      left = timeUntil(limit_);
      timeout = &left;
    }
    pollfd output{output_.readingEnd(), POLLIN, 0};
    const nfds_t watched = output.fd >= 0 ? 1 : 0;
    if (::ppoll(&output, watched, timeout, &asleep) > 0 && output.revents != 0) {
      output_.readSome();
    }
  }

  void askToEnd(RunEnd why) {
    end_ = why;
    askedToEnd_ = true;
    killAt_ = secondsAfter(monotonicNow(), kGraceSeconds);
    // Until the program is gone every stop signal is counted here, so that
    // a second one kills the group before this process ends.
    if (why == RunEnd::Stopped) armStopSignals(false);
    ::kill(-child_, SIGTERM);
  }

  void kill() {
    if (killed_) return;
    ::kill(-child_, SIGKILL);
    killed_ = true;
  }

  void finishStop() {
    giveStopSignalsTheirDefaults();
    if (stopRequests > 1) endAtOnce(stopSignalNumber);
  }

  pid_t child_;
  OutputPipe& output_;
  bool hasLimit_ = false;
  timespec limit_{};
  bool askedToEnd_ = false;
  bool killed_ = false;
  timespec killAt_{};
  RunEnd end_ = RunEnd::Exited;
};

}  // namespace

RunResult runAndWait(const std::string& program, const std::vector<std::string>& args,
                     const RunOptions& options) {
  RunResult result;
  if (stopSignalNumber != 0) {
    result.end = RunEnd::Stopped;
    return result;
  }
  // The child shares our standard output: what we wrote must come before it.
  std::fflush(stdout);
  watchChildren();
  // Held back from before the start, so that no signal of interest can slip
  // in between a check and the sleep.
  sigset_t watched;
  sigset_t before;
  sigemptyset(&watched);
  for (const int signal : {SIGCHLD, SIGINT, SIGTERM, SIGHUP}) sigaddset(&watched, signal);
  ::sigprocmask(SIG_BLOCK, &watched, &before);
  OutputPipe output;
  const bool ready = options.output != ProgramOutput::Capture || output.open(&options.takeOutput);
  pid_t child = 0;
  if (ready && spawnInOwnGroup(program, args, options.output, output.writingEnd(), child)) {
    output.closeWritingEnd();
    result = ChildWait(child, options, output).wait(before);
  }
  ::sigprocmask(SIG_SETMASK, &before, nullptr);
  return result;
}

bool consoleIsTerminal() {
  return ::isatty(STDOUT_FILENO) == 1 && ::tcgetpgrp(STDOUT_FILENO) == ::getpgrp();
}

int consoleColumns() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

void catchStopSignals() {
  for (size_t i = 0; i < std::size(kStopSignals); ++i) {
    struct sigaction old {};
    ::sigaction(kStopSignals[i], nullptr, &old);
    // An ignored signal was ignored on purpose (nohup, a background job).
    stopSignalCaught[i] = old.sa_handler != SIG_IGN;
  }
  armStopSignals(true);
  ::signal(SIGPIPE, SIG_IGN);
  watchChildren();
}

int stopSignal() {
  const int signal = stopSignalNumber;
  if (signal == 0) return 0;
  if (!stopDefaultsBack) giveStopSignalsTheirDefaults();
  if (stopRequests > 1) endAtOnce(signal);
  return signal;
}

// ---- The walk: directory handles, name listings, change reports, claims ----

namespace {

FileId idOf(const struct stat& st) {
  return FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

bool isMissingError(int error) { return error == ENOENT || error == ENOTDIR; }

EntryKind kindOf(unsigned char type) {
  switch (type) {
    case DT_REG:
      return EntryKind::File;
    case DT_DIR:
      return EntryKind::Directory;
    case DT_LNK:
      return EntryKind::Link;
    default:
      return EntryKind::Other;
  }
}

}  // namespace

DirectoryHandle::DirectoryHandle(DirectoryHandle&& other) noexcept
    : handle_(other.handle_), id_(other.id_) {
  other.handle_ = -1;
}

DirectoryHandle& DirectoryHandle::operator=(DirectoryHandle&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    id_ = other.id_;
    other.handle_ = -1;
  }
  return *this;
}

namespace {

// Keeps a freshly opened directory descriptor in `handle` with its identity;
// false, holding nothing, when the open failed or it cannot be examined.
bool holdDirectory(int fd, std::intptr_t& handle, FileId& id) {
  struct stat st;
  if (fd < 0) return false;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return false;
  }
  handle = fd;
  id = idOf(st);
  return true;
}

}  // namespace

DirectoryHandle::~DirectoryHandle() { close(); }

bool DirectoryHandle::openCurrent() {
  close();
  return holdDirectory(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC), handle_, id_);
}

bool DirectoryHandle::openChild(const DirectoryHandle& parent, const std::string& name) {
  close();
  if (!parent.isOpen()) return false;
  // O_NOFOLLOW: a link that took the directory's place is refused, not entered.
  const int fd = ::openat(static_cast<int>(parent.handle_), name.c_str(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  return holdDirectory(fd, handle_, id_);
}

bool DirectoryHandle::isCurrent() const {
  struct stat st;
  return isOpen() && ::stat(".", &st) == 0 && idOf(st) == id_;
}

bool DirectoryHandle::makeCurrent() const {
  return isOpen() && ::fchdir(static_cast<int>(handle_)) == 0;
}

bool DirectoryHandle::list(std::vector<ListedName>& names) const {
  names.clear();
  const int listFd =
      isOpen() ? ::openat(static_cast<int>(handle_), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
  DIR* stream = listFd < 0 ? nullptr : ::fdopendir(listFd);
  if (stream == nullptr) {
    if (listFd >= 0) ::close(listFd);
    return false;
  }
  while (const dirent* item = ::readdir(stream)) {
    const std::string_view name = item->d_name;
    if (name == "." || name == "..") continue;
    EntryKind kind = kindOf(item->d_type);
    // Only a file system that keeps no kinds in its listing costs a look.
    if (item->d_type == DT_UNKNOWN) {
      struct stat st;
      if (::fstatat(::dirfd(stream), item->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      kind = kindOf(IFTODT(st.st_mode));
    }
    names.push_back(ListedName{std::string(name), kind});
  }
  ::closedir(stream);
  std::sort(names.begin(), names.end(),
            [](const ListedName& a, const ListedName& b) { return listedBefore(a.name, b.name); });
  return true;
}

void DirectoryHandle::close() {
  if (handle_ != -1) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

DirectoryWatch::~DirectoryWatch() {
  if (fd_ >= 0) ::close(fd_);
}

bool DirectoryWatch::watchCurrent() {
  stop();
  if (fd_ < 0) fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) return false;
  watch_ = ::inotify_add_watch(
      fd_, ".", IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_ONLYDIR);
  return watch_ >= 0;
}

bool DirectoryWatch::changes(std::vector<Change>& out) {
  if (watch_ < 0) return false;
  alignas(inotify_event) char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return true;
    if (got <= 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      // Reports of an earlier watch may still be queued.
      if (event->wd != watch_ && !(event->mask & IN_Q_OVERFLOW)) continue;
      if (event->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_UNMOUNT)) {
        stop();
        return false;
      }
      const bool present = (event->mask & (IN_CREATE | IN_MOVED_TO)) != 0;
      out.push_back(Change{event->name, present, (event->mask & IN_ISDIR) != 0});
    }
  }
  stop();
  return false;
}

void DirectoryWatch::stop() {
  if (watch_ >= 0) ::inotify_rm_watch(fd_, watch_);
  watch_ = -1;
}

FileClaim::~FileClaim() { release(); }

ClaimOutcome FileClaim::claim(const std::string& name) {
  release();
  const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return isMissingError(errno) ? ClaimOutcome::Missing : ClaimOutcome::NoLocks;
  int locked;
  while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (locked != 0) {
    const bool held = errno == EWOULDBLOCK;
    ::close(fd);
    return held ? ClaimOutcome::HeldElsewhere : ClaimOutcome::NoLocks;
  }
  // The holder before us may have removed or replaced the file: the claim
  // counts only while the name still leads to the file it was taken on.
  struct stat claimed;
  struct stat named;
  if (::fstat(fd, &claimed) != 0 || claimed.st_nlink == 0 || ::stat(name.c_str(), &named) != 0 ||
      !(idOf(claimed) == idOf(named))) {
    ::close(fd);
    return ClaimOutcome::Missing;
  }
  handle_ = fd;
  return ClaimOutcome::Claimed;
}

void FileClaim::release() {
  if (handle_ != -1) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

NameClaim::~NameClaim() { release(); }

ClaimOutcome NameClaim::claim(const std::string& dir, const std::string& name) {
  release();
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ClaimOutcome::Missing;
  // An address in the abstract socket namespace: nothing on disk, and the
  // system frees it the moment its holder ends, however it ends.
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string key = claimKey(idOf(st), name, sizeof address.sun_path - 1);
  std::memcpy(address.sun_path + 1, key.data(), key.size());
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return ClaimOutcome::NoLocks;
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + key.size());
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    const bool held = errno == EADDRINUSE;
    ::close(fd);
    return held ? ClaimOutcome::HeldElsewhere : ClaimOutcome::NoLocks;
  }
  handle_ = fd;
  return ClaimOutcome::Claimed;
}

void NameClaim::release() {
  if (handle_ != -1) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

}  // namespace platform
