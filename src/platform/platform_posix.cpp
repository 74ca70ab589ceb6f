// The operating-system services of platform.h on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

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
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
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

int runAndWait(const std::string& program, const std::vector<std::string>& args) {
  // The child shares our standard output: what we wrote must come before it.
  std::fflush(stdout);
  std::vector<char*> argv;
  argv.reserve(args.size() + 2);
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  if (::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    return -1;
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

bool readFileHead(const std::string& path, size_t count, std::string& out) {
  out.clear();
  const int fd = openRegularForReading(path, true);
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

namespace raw {

File openForReading(const std::string& path, bool followLinks) {
  if (!followLinks) return openRegularForReading(path, false);
  // A pipe is a fair list file (a shell's process substitution), so only
  // directories are refused here.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd >= 0 && (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))) {
    ::close(fd);
    fd = -1;
  }
  return fd < 0 ? kNoFile : fd;
}

File openForWriting(const std::string& path, bool append) {
  if (!readyForWriting(path, !append)) return kNoFile;
  const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
  const int fd = ::open(path.c_str(), flags, 0666);
  return fd < 0 ? kNoFile : fd;
}

size_t read(File file, char* data, size_t size) {
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(file), data, size);
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) return 0;
  }
}

bool write(File file, const char* data, size_t size) {
  return writeAll(static_cast<int>(file), data, size);
}

bool close(File file) { return ::close(static_cast<int>(file)) == 0; }

}  // namespace raw

const char kSeparator = '/';

const bool kProgramsCarryExtension = false;

bool isAbsolute(std::string_view name) { return !name.empty() && name[0] == '/'; }

bool sameEntryName(std::string_view a, std::string_view b) { return a == b; }

int runCommandLine(const std::string& program, const std::vector<std::string>& words,
                   const std::string&) {
  return runAndWait(program, words);
}

}  // namespace platform
