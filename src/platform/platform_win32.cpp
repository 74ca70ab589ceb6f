// The operating-system services of platform.h on 32-bit Windows, through the
// ANSI ("-A") Win32 calls, with drives and their current directories.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "platform/claim_key.h"
#include "platform/listing_order.h"
#include "platform/platform.h"
#include "platform/quoted_word.h"
#include "platform/raw_file.h"

// The command line reaches main() as written: the program's own matcher
// decides what a wildcard fits, never the C runtime.
extern "C" {
int _dowildcard = 0;
}

namespace platform {

const char kSeparator = '\\';

const bool kProgramsCarryExtension = true;

namespace {

// The longest current directory Windows accepts: MAX_PATH less the closing
// backslash and the NUL. Deeper directories are refused, as the system does.
constexpr size_t kMaxCurrentDirectory = MAX_PATH - 2;

constexpr int kDrives = 26;

// An empty floppy or card drive must never stop an unattended run with a
// dialog box: the call fails instead.
const UINT kErrorMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

// Every drive keeps its own current directory; "" where none was set yet.
std::string driveDirectories[kDrives];

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Seconds between 1601-01-01 (FILETIME) and 1970-01-01 (the program's time).
constexpr int64_t kEpochDifference = 11644473600LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

char upperByte(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }

int driveIndex(std::string_view path) {
  return driveLength(path) == 2 ? upperByte(path[0]) - 'A' : -1;
}

bool isHandle(HANDLE handle) { return handle != INVALID_HANDLE_VALUE; }

int64_t ticksOf(const FILETIME& time) {
  return (int64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

int64_t toSeconds(const FILETIME& time) {
  return ticksOf(time) / kTicksPerSecond - kEpochDifference;
}

// 100-nanosecond ticks since 1601 as nanoseconds since the epoch.
int64_t toNanoseconds(int64_t ticks) { return (ticks - kEpochDifference * kTicksPerSecond) * 100; }

FILETIME toFileTime(int64_t seconds) {
  const int64_t ticks =
      seconds < -kEpochDifference ? 0 : (seconds + kEpochDifference) * kTicksPerSecond;
  FILETIME time;
  time.dwLowDateTime = DWORD(ticks & 0xFFFFFFFF);
  time.dwHighDateTime = DWORD(uint64_t(ticks) >> 32);
  return time;
}

std::string withBackslashes(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

std::string joined(const std::string& dir, std::string_view name) {
  if (name.empty()) return dir;
  if (!dir.empty() && isSeparator(dir.back())) return dir + std::string(name);
  return dir + "\\" + std::string(name);
}

// The current directory of a drive: the process's own when it is current,
// else the one the run set there, else one a parent handed down in the
// environment the Windows way ("=C:"), else its root.
std::string driveDirectory(int drive) {
  const std::string current = currentDirectory();
  if (driveIndex(current) == drive) return current;
  if (!driveDirectories[drive].empty()) return driveDirectories[drive];
  const char name[] = {'=', char('A' + drive), ':', '\0'};
  char inherited[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA(name, inherited, sizeof inherited);
  if (length > 0 && length < sizeof inherited && driveIndex(inherited) == drive) return inherited;
  return std::string(1, char('A' + drive)) + ":\\";
}

void rememberDriveDirectory(const std::string& dir) {
  const int drive = driveIndex(dir);
  if (drive < 0) return;
  driveDirectories[drive] = dir;
  // Children started from here find it where Windows programs look.
  const char name[] = {'=', char('A' + drive), ':', '\0'};
  SetEnvironmentVariableA(name, dir.c_str());
}

// `name` made independent of the current directories, not yet normalised.
std::string qualified(std::string_view name) {
  const std::string path = withBackslashes(name);
  if (path.empty()) return currentDirectory();
  if (driveLength(path) == 2) {
    if (path.size() > 2 && path[2] == '\\') return path;
    return joined(driveDirectory(driveIndex(path)), std::string_view(path).substr(2));
  }
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') return path;
  const std::string current = currentDirectory();
  if (path[0] == '\\') return current.substr(0, driveLength(current)) + path;
  return joined(current, path);
}

// Drops "." and ".." components and doubled separators by hand, for paths
// too long for the system to normalise.
std::string normalisedByHand(const std::string& path) {
  size_t rootEnd = driveLength(path) == 2 ? 2 : 0;
  if (rootEnd == 0 && path.rfind("\\\\", 0) == 0) {
    const size_t share = path.find('\\', path.find('\\', 2) + 1);
    rootEnd = share == std::string::npos ? path.size() : share;
  }
  std::string out = path.substr(0, rootEnd);
  std::vector<std::string> parts;
  size_t at = rootEnd;
  while (at < path.size()) {
    const size_t next = std::min(path.find('\\', at), path.size());
    const std::string part = path.substr(at, next - at);
    at = next + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  if (parts.empty()) return out + "\\";
  for (const auto& part : parts) out += "\\" + part;
  return out;
}

bool isRoot(const std::string& path) {
  return path.size() == 3 && driveLength(path) == 2 && path[2] == '\\';
}

bool notFound(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A name that the Win32 calls cannot reach as it is listed: they would strip
// a trailing dot or blank, take a reserved name for a device, or read a
// wildcard or separator. Such an entry would be confused with another file.
bool isReservedName(std::string_view name) {
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  const std::string_view base = name.substr(0, name.find('.'));
  std::string upper;
  for (char c : base) upper += upperByte(c);
  while (!upper.empty() && upper.back() == ' ') upper.pop_back();
  for (const char* device : kDevices) {
    if (upper == device) return true;
  }
  return upper.size() == 4 && (upper.rfind("COM", 0) == 0 || upper.rfind("LPT", 0) == 0) &&
         upper[3] >= '1' && upper[3] <= '9';
}

bool isAddressable(std::string_view name) {
  if (name == "." || name == "..") return true;
  if (name.empty() || name.back() == '.' || name.back() == ' ') return false;
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || std::strchr("<>:\"/\\|?*", c) != nullptr) {
      return false;
    }
  }
  return !isReservedName(name);
}

HANDLE openForQuery(const std::string& path, bool followLinks, DWORD access) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  return CreateFileA(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
}

// Opens an existing regular file for reading: devices (CON, NUL, COM1),
// pipes and directories are refused, and with `followLinks` clear so is a
// reparse point.
HANDLE openRegularForReading(const std::string& path, bool followLinks) {
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  // Sharing deletion too: a reader must never keep another run from
  // removing a source it has converted.
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
  if (!isHandle(file)) return file;
  BY_HANDLE_FILE_INFORMATION info;
  const DWORD unwanted =
      FILE_ATTRIBUTE_DIRECTORY | (followLinks ? 0 : FILE_ATTRIBUTE_REPARSE_POINT);
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & unwanted) != 0) {
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

// Prepares `path` to be written: a link of that name is removed (when
// `replaceLink`), a read-only file or a directory refuses.
bool readyForWriting(const std::string& path, bool replaceLink) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return notFound(GetLastError());
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return replaceLink && deleteFile(path);
  return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
}

bool writeAll(HANDLE file, const char* data, size_t size) {
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(file, data, DWORD(size), &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

bool readAll(HANDLE file, std::string& out) {
  size_t filled = 0;
  while (filled < out.size()) {
    DWORD got = 0;
    if (!ReadFile(file, out.data() + filled, DWORD(out.size() - filled), &got, nullptr)) {
      out.resize(filled);
      return false;
    }
    if (got == 0) break;
    filled += got;
  }
  out.resize(filled);
  return true;
}

bool sameFile(HANDLE a, const std::string& path) {
  BY_HANDLE_FILE_INFORMATION first;
  if (!GetFileInformationByHandle(a, &first)) return false;
  const auto second = fileStatus(path, true);
  return second && second->id.volume == first.dwVolumeSerialNumber &&
         second->id.index == ((uint64_t(first.nFileIndexHigh) << 32) | first.nFileIndexLow);
}

constexpr uint16_t kFirstDosYear = 1980;
constexpr uint16_t kLastDosYear = 2107;
const DosDateTime kEarliestDos{uint16_t((1 << 5) | 1), 0};
const DosDateTime kLatestDos{uint16_t(((kLastDosYear - kFirstDosYear) << 9) | (12 << 5) | 31),
                             uint16_t((23 << 11) | (59 << 5) | 29)};

DosDateTime toDos(const FILETIME& utc) {
  FILETIME local;
  SYSTEMTIME when;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &when)) {
    return kLatestDos;
  }
  if (when.wYear < kFirstDosYear) return kEarliestDos;
  if (when.wYear > kLastDosYear) return kLatestDos;
  DosDateTime out;
  if (!FileTimeToDosDateTime(&local, &out.date, &out.time)) return kEarliestDos;
  return out;
}

// Quotes one argument so that the usual command-line parsing of a Windows
// program gives it back unchanged.
std::string quotedArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  return quoteWord(arg);
}

// Stop requests from the console: the first one's number, and how many came.
volatile LONG stopNumber = 0;
volatile LONG stopRequests = 0;
volatile LONG stopReported = 0;

// How long a program asked to end may take before it is killed.
constexpr DWORD kGraceMilliseconds = 2000;
constexpr DWORD kPollMilliseconds = 50;

// The signal numbers the run reports for the console's events, as the C
// runtime numbers them: Ctrl-C is SIGINT (2), Ctrl-Break SIGBREAK (21), a
// closed console window, a log-off or a shut-down SIGTERM (15).
LONG stopNumberOf(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      return 2;
    case CTRL_BREAK_EVENT:
      return 21;
    default:
      return 15;
  }
}

// Runs on a thread of its own: it only notes the request. Once the run has
// seen one, a further request gets the system's default (the process ends).
BOOL WINAPI noteConsoleEvent(DWORD event) {
  InterlockedCompareExchange(&stopNumber, stopNumberOf(event), 0);
  InterlockedIncrement(&stopRequests);
  if (stopReported != 0 && stopRequests > 1) return FALSE;
  // After a close, log-off or shut-down the system ends the process as soon
  // as this returns: the run gets the few seconds it allows to clean up.
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) Sleep(INFINITE);
  return TRUE;
}

// A job that holds the program and everything it starts, all ended together
// when the job is terminated or its last handle closed (also when this
// process dies). Null when the system refuses one (a job of our own that
// allows no nesting): then only the program itself can be ended.
HANDLE makeKillingJob() {
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job == nullptr) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
  std::memset(&limits, 0, sizeof limits);
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    CloseHandle(job);
    return nullptr;
  }
  return job;
}

// Asks the program's process group to end (Ctrl-Break), waits the grace
// time, then ends the job (or the program alone) for good.
void endProgram(const PROCESS_INFORMATION& child, HANDLE job) {
  GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, child.dwProcessId);
  if (WaitForSingleObject(child.hProcess, kGraceMilliseconds) != WAIT_OBJECT_0 || job != nullptr) {
    if (job != nullptr) TerminateJobObject(job, 1);
    if (WaitForSingleObject(child.hProcess, 0) != WAIT_OBJECT_0) {
      TerminateProcess(child.hProcess, 1);
    }
  }
  WaitForSingleObject(child.hProcess, INFINITE);
}

// Waits for the started program until it ends, its time runs out or a stop
// request arrives.
// Where a program's standard output and standard error go: the console
// (nothing to set up), the null device, or a pipe that this process reads.
struct OutputRoute {
  HANDLE give = INVALID_HANDLE_VALUE;  // handed to the program, closed here once it started
  HANDLE read = INVALID_HANDLE_VALUE;  // Capture: the end this process reads
};

bool prepareOutput(const RunOptions& options, OutputRoute& route) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  if (options.output == ProgramOutput::Discard) {
    route.give = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inheritable, OPEN_EXISTING, 0, nullptr);
    return isHandle(route.give);
  }
  if (options.output != ProgramOutput::Capture) return true;
  // A roomy pipe, so that a chatty program rarely waits for the next read.
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  if (!CreatePipe(&read, &write, &inheritable, 1 << 20)) return false;
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  route.read = read;
  route.give = write;
  return true;
}

void closeRoute(OutputRoute& route) {
  if (isHandle(route.give) && route.give != nullptr) CloseHandle(route.give);
  if (isHandle(route.read) && route.read != nullptr) CloseHandle(route.read);
  route = OutputRoute{};
}

// Hands on what the pipe holds now, never waiting for more.
void drainOutput(HANDLE read, const RunOptions& options) {
  if (!isHandle(read)) return;
  char buffer[65536];
  DWORD available = 0;
  while (PeekNamedPipe(read, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
    DWORD got = 0;
    const DWORD want = available < sizeof buffer ? available : DWORD(sizeof buffer);
    if (!ReadFile(read, buffer, want, &got, nullptr) || got == 0) return;
    if (options.takeOutput) options.takeOutput(std::string_view(buffer, got));
  }
}

RunResult waitForProgram(const PROCESS_INFORMATION& child, HANDLE job, HANDLE output,
                         const RunOptions& options) {
  const ULONGLONG deadline = options.timeLimitSeconds > 0
                                 ? GetTickCount64() + ULONGLONG(options.timeLimitSeconds) * 1000
                                 : 0;
  RunResult result;
  for (;;) {
    drainOutput(output, options);
    if (WaitForSingleObject(child.hProcess, kPollMilliseconds) == WAIT_OBJECT_0) break;
    if (stopNumber != 0) {
      endProgram(child, job);
      result.end = RunEnd::Stopped;
      return result;
    }
    if (deadline != 0 && GetTickCount64() >= deadline) {
      endProgram(child, job);
      result.end = RunEnd::TimedOut;
      return result;
    }
  }
  drainOutput(output, options);
  DWORD code = 0;
  result.end = RunEnd::Exited;
  result.exitCode = GetExitCodeProcess(child.hProcess, &code) ? int(code) : -1;
  // What the program left running ends with it, as its group would on POSIX.
  if (job != nullptr) TerminateJobObject(job, 1);
  return result;
}

// Starts exactly the file `program` (never a search, never an added
// extension) with `line` as its command line, in a process group of its own
// and a job that holds its children, its standard input the null device,
// and waits for it.
RunResult startAndWait(const std::string& program, const std::string& line,
                       const RunOptions& options) {
  RunResult result;
  if (stopNumber != 0) {
    result.end = RunEnd::Stopped;
    return result;
  }
  // The child shares our standard output: what we wrote must come before it.
  std::fflush(stdout);
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE nullInput = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inheritable, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  OutputRoute route;
  if (!prepareOutput(options, route)) {
    if (isHandle(nullInput)) CloseHandle(nullInput);
    closeRoute(route);
    return result;
  }
  if (isHandle(nullInput)) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullInput;
    const bool routed = isHandle(route.give);
    startup.hStdOutput = routed ? route.give : GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = routed ? route.give : GetStdHandle(STD_ERROR_HANDLE);
  }
  HANDLE job = makeKillingJob();
  PROCESS_INFORMATION child;
  std::string commandLine = line;
  const DWORD flags = CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED;
  const bool started = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                      flags, nullptr, nullptr, &startup, &child);
  if (isHandle(nullInput)) CloseHandle(nullInput);
  // Only the program holds the writing end now, so the pipe ends with it.
  if (isHandle(route.give)) CloseHandle(route.give);
  route.give = INVALID_HANDLE_VALUE;
  if (!started) {
    if (job != nullptr) CloseHandle(job);
    closeRoute(route);
    return result;
  }
  if (job != nullptr && !AssignProcessToJobObject(job, child.hProcess)) {
    CloseHandle(job);
    job = nullptr;
  }
  ResumeThread(child.hThread);
  CloseHandle(child.hThread);
  result = waitForProgram(child, job, route.read, options);
  closeRoute(route);
  CloseHandle(child.hProcess);
  if (job != nullptr) CloseHandle(job);
  return result;
}

}  // namespace

bool listDirectory(const std::string& dir, std::vector<DirEntry>& entries) {
  entries.clear();
  const std::string where = driveLength(dir) == dir.size() ? qualified(dir) : dir;
  const std::string pattern = joined(where, "*");
  WIN32_FIND_DATAA found;
  HANDLE search =
      FindFirstFileExA(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (!isHandle(search)) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    if (!isAddressable(found.cFileName)) continue;
    DirEntry entry;
    entry.name = found.cFileName;
    entry.isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                        (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    entry.lastWrite = toSeconds(found.ftLastWriteTime);
    entry.size = (uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    entries.push_back(std::move(entry));
  } while (FindNextFileA(search, &found));
  FindClose(search);
  sortListing(entries);
  return true;
}

std::string currentDirectory() {
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetCurrentDirectoryA(DWORD(buffer.size()), buffer.data());
    if (length == 0) return "";
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(length + 1);
  }
}

bool changeDirectory(const std::string& path) {
  if (path.empty()) return false;
  const std::string target = absolutePath(path);
  if (target.size() > kMaxCurrentDirectory) return false;
  // The drive being left keeps its directory, however it was set.
  rememberDriveDirectory(currentDirectory());
  if (!SetCurrentDirectoryA(target.c_str())) return false;
  rememberDriveDirectory(currentDirectory());
  return true;
}

std::string absolutePath(const std::string& name) {
  const std::string path = qualified(name);
  std::string full(MAX_PATH, '\0');
  DWORD length = GetFullPathNameA(path.c_str(), DWORD(full.size()), full.data(), nullptr);
  if (length >= full.size()) {
    full.resize(length + 1);
    length = GetFullPathNameA(path.c_str(), DWORD(full.size()), full.data(), nullptr);
  }
  if (length == 0 || length >= full.size()) {
    full = normalisedByHand(path);
  } else {
    full.resize(length);
  }
  if (full.size() > 1 && full.back() == '\\' && !isRoot(full)) full.pop_back();
  return full;
}

size_t driveLength(std::string_view name) {
  const bool letter = !name.empty() && upperByte(name[0]) >= 'A' && upperByte(name[0]) <= 'Z';
  return letter && name.size() >= 2 && name[1] == ':' ? 2 : 0;
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool isAbsolute(std::string_view name) {
  if (!name.empty() && isSeparator(name[0])) return true;
  return driveLength(name) == 2 && name.size() > 2 && isSeparator(name[2]);
}

bool sameEntryName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (upperByte(a[i]) != upperByte(b[i])) return false;
  }
  return true;
}

bool makeDirectory(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr); }

bool makeSharedDirectory(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr);
}

bool removeDirectory(const std::string& path) { return RemoveDirectoryA(path.c_str()); }

bool deleteFile(const std::string& path) {
  if (DeleteFileA(path.c_str())) return true;
  // A link to a directory is removed as a directory, the link itself only.
  const DWORD attributes = GetFileAttributesA(path.c_str());
  const DWORD directoryLink = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & directoryLink) == directoryLink &&
         RemoveDirectoryA(path.c_str());
}

// Windows refuses to replace a file that anyone holds open, however briefly:
// another run looking at a catalog, or a reader of the user's. Such a hold is
// waited out for a moment before the rename counts as failed.
namespace {

constexpr int kReplaceTries = 50;
constexpr DWORD kReplacePauseMs = 20;

bool heldByAnother(DWORD error, const std::string& to) {
  if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) return false;
  const DWORD attributes = GetFileAttributesA(to.c_str());
  const DWORD refusing = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY;
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & refusing) == 0;
}

}  // namespace

bool renameFile(const std::string& from, const std::string& to) {
  for (int tries = 1;; ++tries) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    if (tries == kReplaceTries || !heldByAnother(GetLastError(), to)) return false;
    Sleep(kReplacePauseMs);
  }
}

bool setNormalAttributes(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
  const DWORD special = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  if ((attributes & special) == 0) return true;
  return SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

std::optional<FileStatus> fileStatus(const std::string& path, bool followLinks) {
  if (path.empty()) return std::nullopt;
  HANDLE file = openForQuery(path, followLinks, FILE_READ_ATTRIBUTES);
  BY_HANDLE_FILE_INFORMATION info;
  FileStatus status;
  if (isHandle(file)) {
    const bool disk = GetFileType(file) == FILE_TYPE_DISK;
    const bool known = disk && GetFileInformationByHandle(file, &info);
    FILE_BASIC_INFO basic;
    const bool changeKnown =
        known && GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic);
    CloseHandle(file);
    if (!known) return status;  // a device: CON, NUL, COM1
    status.id = FileId{info.dwVolumeSerialNumber,
                       (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    status.changeTime = changeKnown ? toNanoseconds(basic.ChangeTime.QuadPart)
                                    : toNanoseconds(ticksOf(info.ftLastWriteTime));
  } else {
    // Some entries exist but cannot be opened at all (a file another
    // program holds without sharing); their identity stays unknown (0).
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    info.dwFileAttributes = data.dwFileAttributes;
    info.nFileSizeHigh = data.nFileSizeHigh;
    info.nFileSizeLow = data.nFileSizeLow;
    info.ftLastWriteTime = data.ftLastWriteTime;
    status.changeTime = toNanoseconds(ticksOf(data.ftLastWriteTime));
  }
  const DWORD attributes = info.dwFileAttributes;
  if (!followLinks && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    status.kind = EntryKind::Link;
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    status.kind = EntryKind::Directory;
  } else {
    status.kind = EntryKind::File;
  }
  status.readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  status.size = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  status.lastWrite = toSeconds(info.ftLastWriteTime);
  return status;
}

bool isProgramFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

DosDateTime toDosDateTime(int64_t seconds) { return toDos(toFileTime(seconds)); }

bool readDosTime(const std::string& path, DosDateTime& out) {
  HANDLE file = openForQuery(path, true, FILE_READ_ATTRIBUTES);
  if (!isHandle(file)) return false;
  FILETIME written;
  const bool ok = GetFileTime(file, nullptr, nullptr, &written);
  CloseHandle(file);
  if (ok) out = toDos(written);
  return ok;
}

bool writeDosTime(const std::string& path, const DosDateTime& when) {
  FILETIME local;
  FILETIME utc;
  if (!DosDateTimeToFileTime(when.date, when.time, &local) ||
      !LocalFileTimeToFileTime(&local, &utc)) {
    return false;
  }
  HANDLE file = openForQuery(path, true, FILE_WRITE_ATTRIBUTES);
  if (!isHandle(file)) return false;
  const bool ok = SetFileTime(file, nullptr, nullptr, &utc);
  CloseHandle(file);
  return ok;
}

std::string localTimeText() {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  SYSTEMTIME now;
  GetLocalTime(&now);
  char text[64];
  std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %d\n", kDays[now.wDayOfWeek % 7],
                kMonths[(now.wMonth + 11) % 12], now.wDay, now.wHour, now.wMinute, now.wSecond,
                now.wYear);
  return text;
}

std::string executablePath() {
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), DWORD(buffer.size()));
    if (length == 0) return "";
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::vector<std::string> pathEntries() {
  std::vector<std::string> entries;
  const DWORD size = GetEnvironmentVariableA("PATH", nullptr, 0);
  if (size == 0) return entries;
  std::string value(size, '\0');
  value.resize(GetEnvironmentVariableA("PATH", value.data(), size));
  std::string_view rest(value);
  for (;;) {
    const size_t semicolon = rest.find(';');
    entries.emplace_back(rest.substr(0, semicolon));
    if (semicolon == std::string_view::npos) break;
    rest.remove_prefix(semicolon + 1);
  }
  return entries;
}

RunResult runAndWait(const std::string& program, const std::vector<std::string>& args,
                     const RunOptions& options) {
  std::string line = quotedArgument(program);
  for (const auto& arg : args) line += " " + quotedArgument(arg);
  return startAndWait(program, line, options);
}

RunResult runCommandLine(const std::string& program, const std::vector<std::string>&,
                         const std::string& line, const RunOptions& options) {
  return startAndWait(program, line, options);
}

bool consoleIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

int consoleColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

void catchStopSignals() { SetConsoleCtrlHandler(noteConsoleEvent, TRUE); }

int stopSignal() {
  const LONG number = stopNumber;
  if (number == 0) return 0;
  InterlockedExchange(&stopReported, 1);
  // A second request that came before this report ends the run at once.
  if (stopRequests > 1) ExitProcess(UINT(128 + number));
  return int(number);
}

bool readFileHead(const std::string& path, size_t count, std::string& out) {
  out.clear();
  HANDLE file = openRegularForReading(path, true);
  if (!isHandle(file)) return false;
  out.resize(count);
  const bool ok = readAll(file, out);
  CloseHandle(file);
  return ok;
}

bool readFileTail(const std::string& path, size_t count, std::string& out) {
  out.clear();
  HANDLE file = openRegularForReading(path, true);
  if (!isHandle(file)) return false;
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(file, &size);
  if (ok) {
    const int64_t start = size.QuadPart > int64_t(count) ? size.QuadPart - int64_t(count) : 0;
    LARGE_INTEGER offset;
    offset.QuadPart = start;
    out.resize(size_t(size.QuadPart - start));
    ok = SetFilePointerEx(file, offset, nullptr, FILE_BEGIN) && readAll(file, out);
  }
  CloseHandle(file);
  return ok;
}

bool copyFile(const std::string& from, const std::string& to) {
  HANDLE in = openRegularForReading(from, true);
  if (!isHandle(in)) return false;
  // Copying a file onto itself would empty it before it is read.
  if (sameFile(in, to) || !readyForWriting(to, true)) {
    CloseHandle(in);
    return false;
  }
  HANDLE out = CreateFileA(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (!isHandle(out)) {
    CloseHandle(in);
    return false;
  }
  std::string buffer(65536, '\0');
  bool ok = true;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in, buffer.data(), DWORD(buffer.size()), &got, nullptr)) ok = false;
    if (!ok || got == 0) break;
    if (!writeAll(out, buffer.data(), got)) {
      ok = false;
      break;
    }
  }
  CloseHandle(in);
  if (!CloseHandle(out)) ok = false;
  return ok;
}

bool readFilePieces(const std::string& path,
                    const std::function<bool(std::string_view piece)>& consume) {
  HANDLE file = openRegularForReading(path, false);
  if (!isHandle(file)) return false;
  static char buffer[1 << 16];
  bool ok = true;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) ok = false;
    if (!ok || got == 0) break;
    if (!consume(std::string_view(buffer, got))) {
      ok = false;
      break;
    }
  }
  CloseHandle(file);
  return ok;
}

// Reparse points are never followed, so the text one holds is of no use:
// every name reads as no link.
std::optional<std::string> readLinkTarget(const std::string&) { return std::nullopt; }

// ---- Locks, claims and the places a run writes to ----

namespace {

std::string hex(uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

// The byte claimed in a source: far beyond any end of file, because a
// Windows lock keeps other programs (the packers) from reading what it covers.
constexpr DWORD kClaimOffsetLow = 0xFFFFFFFE;
constexpr DWORD kClaimOffsetHigh = 0x7FFFFFFF;

bool isDirectoryPath(const std::string& path) {
  const auto status = fileStatus(path, true);
  return status && status->kind == EntryKind::Directory;
}

}  // namespace

DirectoryLock::~DirectoryLock() { unlock(); }

bool DirectoryLock::lock(const std::string& dir) {
  unlock();
  // Windows locks no directories, so the lock is a mutex named after the
  // directory's identity: nothing is left on disk, and a run that dies
  // leaves it abandoned, which the next one takes over. It binds the runs
  // of one machine (and of one session where sessions are kept apart).
  const auto status = fileStatus(dir, true);
  if (!status || status->kind != EntryKind::Directory || status->id == FileId{}) return false;
  const std::string name =
      "Local\\zelm-directory-" + hex(status->id.volume) + "-" + hex(status->id.index);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) return false;
  const DWORD waited = WaitForSingleObject(mutex, INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    CloseHandle(mutex);
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(mutex);
  return true;
}

void DirectoryLock::unlock() {
  if (handle_ == -1) return;
  HANDLE mutex = reinterpret_cast<HANDLE>(handle_);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  handle_ = -1;
}

bool makeDirectoryPath(const std::string& path) {
  const std::string full = withBackslashes(path);
  // The drive or the server's share is where the making starts.
  size_t start = driveLength(full) + 1;
  if (full.rfind("\\\\", 0) == 0) {
    const size_t share = full.find('\\', full.find('\\', 2) + 1);
    start = share == std::string::npos ? full.size() : share + 1;
  }
  for (size_t at = full.find('\\', start); at != std::string::npos; at = full.find('\\', at + 1)) {
    CreateDirectoryA(full.substr(0, at).c_str(), nullptr);
  }
  CreateDirectoryA(full.c_str(), nullptr);
  return isDirectoryPath(full);
}

bool canCreateEntriesIn(const std::string& path) {
  // Windows ignores the read-only attribute of a directory, so only trying
  // tells.
  if (!isDirectoryPath(path)) return false;
  const std::string probe = joined(path, ".zelm-probe-" + std::to_string(GetCurrentProcessId()) +
                                             "-" + std::to_string(GetTickCount64()));
  if (!CreateDirectoryA(probe.c_str(), nullptr)) return false;
  RemoveDirectoryA(probe.c_str());
  return true;
}

// ---- The walk: directory handles, listings, change reports, claims ----

// Windows keeps no handle that a directory can be entered through, so a
// held directory is its full path and its identity; coming back checks
// that the path still leads to that very directory.
DirectoryHandle::DirectoryHandle(DirectoryHandle&& other) noexcept
    : handle_(other.handle_), path_(std::move(other.path_)), id_(other.id_) {
  other.handle_ = -1;
  other.path_.clear();
}

DirectoryHandle& DirectoryHandle::operator=(DirectoryHandle&& other) noexcept {
  if (this != &other) {
    handle_ = other.handle_;
    path_ = std::move(other.path_);
    id_ = other.id_;
    other.handle_ = -1;
    other.path_.clear();
  }
  return *this;
}

DirectoryHandle::~DirectoryHandle() { close(); }

bool DirectoryHandle::openCurrent() {
  close();
  const std::string current = currentDirectory();
  const auto status = current.empty() ? std::nullopt : fileStatus(current, false);
  if (!status || status->kind != EntryKind::Directory) return false;
  path_ = current;
  id_ = status->id;
  handle_ = 0;
  return true;
}

bool DirectoryHandle::openChild(const DirectoryHandle& parent, const std::string& name) {
  close();
  if (!parent.isOpen() || !isAddressable(name) || name == "." || name == "..") return false;
  const std::string path = joined(parent.path_, name);
  // A directory too deep to be made current is passed over, as Windows
  // programs must.
  if (path.size() > kMaxCurrentDirectory) return false;
  // A reparse point that took the directory's place is refused, not entered.
  const auto status = fileStatus(path, false);
  if (!status || status->kind != EntryKind::Directory) return false;
  path_ = path;
  id_ = status->id;
  handle_ = 0;
  return true;
}

bool DirectoryHandle::isCurrent() const {
  if (!isOpen()) return false;
  const auto status = fileStatus(currentDirectory(), false);
  return status && status->id == id_;
}

bool DirectoryHandle::makeCurrent() const {
  if (!isOpen()) return false;
  const std::string before = currentDirectory();
  if (!changeDirectory(path_)) return false;
  if (isCurrent()) return true;
  // Another directory has taken the name since: go back, report failure.
  changeDirectory(before);
  return false;
}

bool DirectoryHandle::list(std::vector<ListedName>& names) const {
  names.clear();
  if (!isOpen()) return false;
  const std::string pattern = joined(path_, "*");
  WIN32_FIND_DATAA found;
  HANDLE search =
      FindFirstFileExA(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (!isHandle(search)) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    const std::string_view name = found.cFileName;
    if (name == "." || name == ".." || !isAddressable(name)) continue;
    EntryKind kind = EntryKind::File;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      kind = EntryKind::Link;
    } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      kind = EntryKind::Directory;
    }
    names.push_back(ListedName{std::string(name), kind});
  } while (FindNextFileA(search, &found));
  const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
  FindClose(search);
  if (!complete) {
    names.clear();
    return false;
  }
  std::sort(names.begin(), names.end(),
            [](const ListedName& a, const ListedName& b) { return listedBefore(a.name, b.name); });
  return true;
}

void DirectoryHandle::close() {
  handle_ = -1;
  path_.clear();
  id_ = FileId{};
}

// Directory changes are not watched on Windows: the walk lists a directory
// afresh each time it needs it, which is correct, only slower.
DirectoryWatch::~DirectoryWatch() = default;

bool DirectoryWatch::watchCurrent() { return false; }

bool DirectoryWatch::changes(std::vector<Change>&) { return false; }

void DirectoryWatch::stop() {}

FileClaim::~FileClaim() { release(); }

ClaimOutcome FileClaim::claim(const std::string& name) {
  release();
  // Sharing everything: the packers read the source and the run removes it
  // while the claim holds.
  HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (!isHandle(file)) {
    // Windows refuses to open a file that another run has removed while a
    // reader still holds it: that one is gone too.
    const DWORD error = GetLastError();
    const bool gone = notFound(error) || error == ERROR_ACCESS_DENIED;
    return gone ? ClaimOutcome::Missing : ClaimOutcome::NoLocks;
  }
  OVERLAPPED where;
  std::memset(&where, 0, sizeof where);
  where.Offset = kClaimOffsetLow;
  where.OffsetHigh = kClaimOffsetHigh;
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where)) {
    const DWORD error = GetLastError();
    CloseHandle(file);
    return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? ClaimOutcome::HeldElsewhere
                                                                      : ClaimOutcome::NoLocks;
  }
  // The holder before us may have removed or replaced the file: the claim
  // counts only while the name still leads to the file it was taken on.
  // A file removed while others hold it open lingers until the last handle
  // closes: it is gone all the same.
  FILE_STANDARD_INFO standard;
  const bool removed =
      GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) &&
      standard.DeletePending;
  if (removed || !sameFile(file, name)) {
    CloseHandle(file);
    return ClaimOutcome::Missing;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return ClaimOutcome::Claimed;
}

void FileClaim::release() {
  if (handle_ == -1) return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

NameClaim::~NameClaim() { release(); }

ClaimOutcome NameClaim::claim(const std::string& dir, const std::string& name) {
  release();
  const auto status = fileStatus(dir, true);
  if (!status || status->kind != EntryKind::Directory) return ClaimOutcome::Missing;
  if (status->id == FileId{}) return ClaimOutcome::NoLocks;
  // A mutex that exists is held: the system removes it when the last run
  // holding it ends, however it ends. Names differ in case only as the
  // file system sees them.
  std::string upper(name);
  for (char& c : upper) c = upperByte(c);
  const std::string key = "Local\\" + claimKey(status->id, upper, MAX_PATH - 7);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, key.c_str());
  if (mutex == nullptr) {
    // Another user's run made it.
    return GetLastError() == ERROR_ACCESS_DENIED ? ClaimOutcome::HeldElsewhere
                                                 : ClaimOutcome::NoLocks;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return ClaimOutcome::HeldElsewhere;
  }
  handle_ = reinterpret_cast<std::intptr_t>(mutex);
  return ClaimOutcome::Claimed;
}

void NameClaim::release() {
  if (handle_ == -1) return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

namespace raw {

namespace {

HANDLE handleOf(File file) { return reinterpret_cast<HANDLE>(file); }

File fileOf(HANDLE handle) { return isHandle(handle) ? reinterpret_cast<File>(handle) : kNoFile; }

}  // namespace

File openForReading(const std::string& path, bool followLinks) {
  return fileOf(openRegularForReading(path, followLinks));
}

File openForWriting(const std::string& path, TextWriter::Mode mode, bool throughLink) {
  const bool append = mode == TextWriter::Mode::Append;
  DWORD disposition = append ? OPEN_ALWAYS : CREATE_ALWAYS;
  DWORD flags = FILE_ATTRIBUTE_NORMAL;
  if (mode == TextWriter::Mode::CreateNew) {
    // Refuses every existing name, a reparse point included.
    disposition = CREATE_NEW;
    flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  } else if (throughLink) {
    const auto status = fileStatus(path, true);
    if (status && (status->kind != EntryKind::File || status->readOnly)) return kNoFile;
  } else if (!readyForWriting(path, !append)) {
    return kNoFile;
  }
  // Append-only access makes every write land at the end in one piece, also
  // when other runs append to the same file.
  const DWORD access =
      (append ? FILE_APPEND_DATA | SYNCHRONIZE : GENERIC_WRITE) | FILE_READ_ATTRIBUTES;
  HANDLE file = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            disposition, flags, nullptr);
  if (isHandle(file) && GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return kNoFile;
  }
  return fileOf(file);
}

long long read(File file, char* data, size_t size) {
  DWORD got = 0;
  if (!ReadFile(handleOf(file), data, DWORD(size), &got, nullptr)) return -1;
  return got;
}

bool write(File file, const char* data, size_t size) {
  return writeAll(handleOf(file), data, size);
}

int64_t size(File file) {
  LARGE_INTEGER size;
  return GetFileSizeEx(handleOf(file), &size) ? size.QuadPart : -1;
}

bool truncate(File file, int64_t size) {
  LARGE_INTEGER end;
  end.QuadPart = size;
  // An append-only handle may not move its end: a second handle of the same
  // file with write access does it, and the first keeps appending.
  HANDLE writer = ReOpenFile(handleOf(file), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
  if (!isHandle(writer)) return false;
  const bool ok = SetFilePointerEx(writer, end, nullptr, FILE_BEGIN) && SetEndOfFile(writer);
  CloseHandle(writer);
  return ok;
}

bool close(File file) { return CloseHandle(handleOf(file)); }

}  // namespace raw

}  // namespace platform
