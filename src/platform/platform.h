// Operating-system services in the program's own terms: directories, files,
// time stamps, text files and child programs. Nothing outside src/platform
// includes an operating-system header; every failure comes back as a result.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

/// One entry of a directory listing. Links are never directories: a link is
/// listed with its own size and time.
struct DirEntry {
  std::string name;
  bool isDirectory = false;
  int64_t lastWrite = 0;  // seconds since the epoch
  uint64_t size = 0;
};

/// Lists `dir` completely, "." and ".." first, then every entry sorted by
/// name with a-z compared as A-Z, ties broken by the raw bytes. Returns false
/// (and leaves `entries` empty) when the directory cannot be read.
bool listDirectory(const std::string& dir, std::vector<DirEntry>& entries);

/// The absolute current directory, or "" when it cannot be read.
std::string currentDirectory();

/// Makes `path` the current directory; false on failure.
bool changeDirectory(const std::string& path);

/// `name` made absolute against the current directory and normalised
/// lexically (no "." or ".." components, no doubled or trailing separator).
/// Links are not resolved.
std::string absolutePath(const std::string& name);

/// Number of leading bytes of `name` that form a drive ("C:"), 0 when none.
size_t driveLength(std::string_view name);

/// True for a byte that separates path components in a name the user gave.
bool isSeparator(char c);

/// The separator the program writes into the paths it builds: "/" on POSIX,
/// "\" on Windows.
extern const char kSeparator;

/// Creates a new private directory; false when it exists already or cannot
/// be created.
bool makeDirectory(const std::string& path);

/// Creates an ordinary directory (as a user's own mkdir would); false when
/// it exists already or cannot be created.
bool makeSharedDirectory(const std::string& path);

/// Removes an empty directory; false otherwise.
bool removeDirectory(const std::string& path);

/// Deletes a file, or a link itself (never its target); false on failure.
bool deleteFile(const std::string& path);

/// Renames a file, replacing `to`; false on failure. Where an open file cannot
/// be replaced (Windows), a `to` that another program holds open is waited for
/// about a second before the rename fails.
bool renameFile(const std::string& from, const std::string& to);

/// Clears the read-only state of a file (never through a link).
bool setNormalAttributes(const std::string& path);

enum class EntryKind { File, Directory, Link, Other };

/// Identity of a file: equal ids name the same file.
struct FileId {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileId&) const = default;
};

struct FileStatus {
  EntryKind kind = EntryKind::Other;
  bool readOnly = false;
  uint64_t size = 0;
  int64_t lastWrite = 0;
  FileId id;
  int64_t changeTime = 0;  // nanoseconds since the epoch of the last change of any kind
};

/// The status of `path`, following a final link when `followLinks` is set;
/// absent when nothing of that name exists.
std::optional<FileStatus> fileStatus(const std::string& path, bool followLinks);

/// True for a regular file that this process may start as a program.
bool isProgramFile(const std::string& path);

/// A last-write time as a DOS date word and time word in local time.
struct DosDateTime {
  uint16_t date = 0;
  uint16_t time = 0;
  bool operator==(const DosDateTime&) const = default;
};

/// Converts seconds since the epoch to local DOS form: seconds rounded down
/// to even, clamped to 1980-01-01 00:00:00 .. 2107-12-31 23:59:58.
DosDateTime toDosDateTime(int64_t seconds);

/// Reads the last-write time of a file; false when it cannot be read.
bool readDosTime(const std::string& path, DosDateTime& out);

/// Sets the last-write time of an existing file, never through a link (a
/// link's own time is set); false on failure.
bool writeDosTime(const std::string& path, const DosDateTime& when);

/// The local time as 24 characters and a newline: "Tue Dec  8 17:08:46 2026\n".
std::string localTimeText();

/// The absolute path of the running executable, or "" when unknown.
std::string executablePath();

/// The entries of the PATH variable in order, empty entries included;
/// empty when PATH is not set.
std::vector<std::string> pathEntries();

/// How a program started by runAndWait came to its end.
enum class RunEnd {
  Exited,     // it ended by itself, or a signal not of ours ended it
  TimedOut,   // it ran past its time limit and was ended with its group
  Stopped,    // a stop signal arrived: it was ended with its group, or not started
  NotStarted  // it could not be started
};

/// Where a started program's standard output and standard error go.
enum class ProgramOutput {
  Console,  // the console this program writes to, shared with it
  Capture,  // handed to RunOptions::takeOutput while the program runs
  Discard   // nowhere
};

struct RunOptions {
  int timeLimitSeconds = 0;  // 0 or less: no limit
  ProgramOutput output = ProgramOutput::Console;
  /// With Capture: called in this process with each piece of what the
  /// program writes to standard output and standard error, in the order
  /// written, as it arrives and lastly when it has ended. The program never
  /// waits for the caller: its output is read while its time limit runs.
  std::function<void(std::string_view piece)> takeOutput = nullptr;
};

struct RunResult {
  RunEnd end = RunEnd::NotStarted;
  int exitCode = -1;  // Exited: the exit code, or 128 + the signal that ended it
};

/// Starts `program` with `args` (its argv after argv[0]) in the current
/// directory with the inherited environment, after flushing standard output,
/// and waits for it. Its standard output and standard error go where
/// `options.output` says (a Capture that cannot be set up starts nothing). The program runs
/// in a group of its own with the default signal handling and reads its
/// standard input from the null device: it can never take the user's
/// keystrokes or wait for them. When the time limit passes or a stop signal
/// arrives, the program and everything it started are asked to end and killed
/// soon after; a program stopped for using the terminal is killed at once. No
/// program is started once a stop signal has arrived.
RunResult runAndWait(const std::string& program, const std::vector<std::string>& args,
                     const RunOptions& options = {});

/// Makes the stop signals (interrupt, terminate, hang-up) set the flag that
/// stopSignal() reports instead of ending the process, and makes writes to a
/// closed console (a broken pipe) fail instead of ending it. A stop signal
/// that was ignored when the program started stays ignored.
void catchStopSignals();

/// The stop signal that asked the run to end, 0 while none has. Once it has
/// reported one, a further stop signal ends the process at once.
int stopSignal();

/// True when standard output is a terminal and this program is in its
/// foreground, so that a line drawn there disturbs no one else's screen.
bool consoleIsTerminal();

/// The width in columns of the terminal standard output is, 0 when unknown.
int consoleColumns();

/// Reads up to `count` bytes from the start of a regular file (a link is
/// followed; devices, pipes and directories are refused); false when the
/// file cannot be read.
bool readFileHead(const std::string& path, size_t count, std::string& out);

/// Reads up to the last `count` bytes of a regular file (a link is
/// followed); false when the file cannot be read.
bool readFileTail(const std::string& path, size_t count, std::string& out);

/// Hands the bytes of the regular file `path` (never through a link) to
/// `consume` piece by piece, start to end, holding one piece in memory at a
/// time. False when the file cannot be opened or read, or `consume` returned
/// false.
bool readFilePieces(const std::string& path,
                    const std::function<bool(std::string_view piece)>& consume);

/// The text a symbolic link holds; absent when `path` is no link.
std::optional<std::string> readLinkTarget(const std::string& path);

/// Copies a file byte for byte. The copy replaces a file of that name (a link
/// of that name is replaced, never written through); an existing read-only
/// copy makes it fail. False on failure.
bool copyFile(const std::string& from, const std::string& to);

/// A text file being read: a CR before a LF is dropped, a lone CR is kept,
/// and a byte 0x1A ends the file.
class TextReader {
 public:
  TextReader() = default;
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;
  ~TextReader();

  /// Opens a regular file for reading, a link followed when `followLinks` is
  /// set; a pipe, a device or a directory is refused without blocking. False
  /// when it cannot be opened.
  bool open(const std::string& path, bool followLinks = true);

  /// The next piece: it ends after a LF or after `maxBytes` bytes, whichever
  /// comes first. False at the end of the file.
  bool readPiece(std::string& piece, size_t maxBytes = 79);

  /// True when reading failed (not merely ended) since the file was opened:
  /// what was read is then not the whole file.
  bool failed() const { return failed_; }

  void close();

 private:
  int nextByte();
  int rawByte();
  std::intptr_t file_ = -1;
  std::string buffer_;
  size_t at_ = 0;
  bool ended_ = false;
  bool failed_ = false;
  int pending_ = -1;
};

/// A text file being written: every LF goes out as CR LF. Each write() goes
/// to the file in one system call, unbuffered, so appenders sharing a file
/// never tear each other's text and nothing waits in memory. An existing
/// read-only file cannot be opened; a link of that name is replaced by a new
/// file when truncating and refused when appending, unless the caller asks
/// to write through it. CreateNew makes a new file and fails when anything
/// of that name exists, a link included, so the file is the caller's alone.
class TextWriter {
 public:
  enum class Mode { Truncate, Append, CreateNew };
  TextWriter() = default;
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;
  ~TextWriter();

  /// Opens or creates the file; false on failure. With `throughLink` a link
  /// of that name is followed to the file it names (a user's own file).
  bool open(const std::string& path, Mode mode, bool throughLink = false);
  bool isOpen() const { return file_ != -1; }
  /// Writes `text` whole; false when the file is not open or the write
  /// failed or fell short (a full disk).
  bool write(std::string_view text);
  /// The open file's size in bytes; -1 when it is not open or unknown.
  int64_t size() const;
  /// Cuts the open file back to `size` bytes (to undo a write that failed
  /// part-way); false on failure.
  bool truncate(int64_t size);
  /// Closes the file; false when it was not open or closing reported an
  /// error (a write the system had deferred failed).
  bool close();

 private:
  std::intptr_t file_ = -1;
};

/// An exclusive lock on a directory, held until unlock() or destruction. It
/// leaves nothing behind on disk and is advisory: it keeps out only those who
/// take it too. Held locks end with the process, however it ends.
class DirectoryLock {
 public:
  DirectoryLock() = default;
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;
  ~DirectoryLock();

  /// Takes the lock on `dir`, waiting while another process holds it. False
  /// when it cannot be taken (a file system without locks, or a directory
  /// that cannot be opened); nothing is held then.
  bool lock(const std::string& dir);
  bool isHeld() const { return handle_ != -1; }
  void unlock();

 private:
  std::intptr_t handle_ = -1;
};

// --- Places a run writes to, checked at start-up ---

/// Creates `path` and its missing parents as ordinary directories (as a
/// user's own mkdir -p would). True when `path` is a directory afterwards, a
/// link to one included; false when it, or a parent, cannot be made or is
/// something else.
bool makeDirectoryPath(const std::string& path);

/// True when new entries can be made in the directory `path`: it is not
/// read-only (the owner-write permission bit is set, whoever runs the
/// program) and a probe directory can be created and removed there.
bool canCreateEntriesIn(const std::string& path);
// ---- The walk: directory handles, name listings, change reports, claims ----

/// True when `a` comes before `b` in a listing: a-z compared as A-Z, ties
/// broken by the raw bytes.
bool listedBefore(std::string_view a, std::string_view b);

/// One name of a directory as its listing gives it, with its kind: Link for
/// a link (never a directory), Other for a pipe, a device or a socket.
struct ListedName {
  std::string name;
  EntryKind kind = EntryKind::File;
};

/// A directory held open, so that the program can come back to it whatever
/// happened to its name or its parent since. Released when the object goes.
class DirectoryHandle {
 public:
  DirectoryHandle() = default;
  DirectoryHandle(DirectoryHandle&& other) noexcept;
  DirectoryHandle& operator=(DirectoryHandle&& other) noexcept;
  DirectoryHandle(const DirectoryHandle&) = delete;
  DirectoryHandle& operator=(const DirectoryHandle&) = delete;
  ~DirectoryHandle();

  /// Holds the current directory; false when it cannot be opened.
  bool openCurrent();
  /// Holds the subdirectory `name` of `parent`; false when that is no
  /// directory (a link never is one) or cannot be opened.
  bool openChild(const DirectoryHandle& parent, const std::string& name);
  bool isOpen() const { return handle_ != -1; }
  /// The directory's identity; meaningful while it is held.
  FileId id() const { return id_; }
  /// True when the current directory is this very directory.
  bool isCurrent() const;
  /// Makes this directory the current one; false on failure.
  bool makeCurrent() const;
  /// Lists the directory, "." and ".." left out, in listing order, looking
  /// at nothing but the names and their kinds. False (and `names` empty)
  /// when it cannot be read.
  bool list(std::vector<ListedName>& names) const;
  void close();

 private:
  std::intptr_t handle_ = -1;  // a descriptor, or 0 where only the path is held
  std::string path_;           // the full path, where the system keeps no handle
  FileId id_;
};

/// Reports what is added to and removed from the current directory from the
/// moment the watch starts, whoever changes it.
class DirectoryWatch {
 public:
  /// One name that came or went.
  struct Change {
    std::string name;
    bool present = false;
    bool isDirectory = false;
  };
  DirectoryWatch() = default;
  DirectoryWatch(const DirectoryWatch&) = delete;
  DirectoryWatch& operator=(const DirectoryWatch&) = delete;
  ~DirectoryWatch();

  /// Starts watching the current directory (ending any earlier watch); false
  /// when the system cannot report its changes.
  bool watchCurrent();
  /// Appends the changes reported since the last call, in the order they
  /// happened; false when some may be missing (no watch, a lost report, the
  /// directory removed), after which the watch has ended.
  bool changes(std::vector<Change>& out);
  void stop();

 private:
  int fd_ = -1;
  int watch_ = -1;
};

/// What claiming a file came to.
enum class ClaimOutcome {
  Claimed,        // this run holds the file until the claim is released
  HeldElsewhere,  // another run holds it
  Missing,        // nothing of that name, or no longer the file that was opened
  NoLocks,        // the file system keeps no claims; the file is unclaimed
};

/// A file claimed for this run alone, as long as the object holds it: other
/// runs asking for it are told it is held. The claim is advisory: it binds
/// only programs that ask.
class FileClaim {
 public:
  FileClaim() = default;
  FileClaim(const FileClaim&) = delete;
  FileClaim& operator=(const FileClaim&) = delete;
  ~FileClaim();

  /// Claims the file `name` (a link is followed) without waiting.
  ClaimOutcome claim(const std::string& name);
  void release();

 private:
  std::intptr_t handle_ = -1;
};

/// A name in a directory claimed for this run alone, whether or not an
/// entry of that name exists, as long as the object holds it: other runs
/// asking for the same name in the same directory are told it is held. It
/// makes nothing on disk, ends with the process however it ends, binds only
/// the runs of one machine, and is advisory.
class NameClaim {
 public:
  NameClaim() = default;
  NameClaim(const NameClaim&) = delete;
  NameClaim& operator=(const NameClaim&) = delete;
  ~NameClaim();

  /// Claims the entry name `name` of the directory `dir` (a link to a
  /// directory is followed) without waiting: Claimed or HeldElsewhere;
  /// Missing when `dir` is no directory, NoLocks when the system keeps no
  /// such claims. Nothing is held unless Claimed.
  ClaimOutcome claim(const std::string& dir, const std::string& name);
  void release();

 private:
  std::intptr_t handle_ = -1;
};

// --- How names and programs differ between the platforms ---

/// True for a name that does not depend on the current directory: "/x" on
/// POSIX; "\x", "C:\x" and "\\server\share" on Windows, where "C:x" depends
/// on drive C's current directory and is not absolute.
bool isAbsolute(std::string_view name);

/// True when two names in one directory name the same entry: byte for byte
/// on POSIX, a-z and A-Z alike on Windows.
bool sameEntryName(std::string_view a, std::string_view b);

/// True where programs are known by their extension (Windows): a program
/// name is then tried as written only when it fits "*.COM" or "*.EXE", so a
/// batch file is never located. False on POSIX, where programs carry no
/// extension and the name itself is always tried first.
extern const bool kProgramsCarryExtension;

/// Starts `program` and waits for it as runAndWait does. Where programs get
/// their arguments as a vector (POSIX) they get `words`; where they get one
/// command line (Windows) they get `line` exactly as given and parse it
/// themselves.
RunResult runCommandLine(const std::string& program, const std::vector<std::string>& words,
                         const std::string& line, const RunOptions& options = {});

}  // namespace platform
