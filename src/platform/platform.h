// Operating-system services in the program's own terms: directories, files,
// time stamps, text files and child programs. Nothing outside src/platform
// includes an operating-system header; every failure comes back as a result.
#pragma once

#include <cstdint>
#include <cstdio>
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

/// Renames a file, replacing `to`; false on failure.
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

/// Sets the last-write time of an existing file; false on failure.
bool writeDosTime(const std::string& path, const DosDateTime& when);

/// The local time as 24 characters and a newline: "Tue Dec  8 17:08:46 2026\n".
std::string localTimeText();

/// The absolute path of the running executable, or "" when unknown.
std::string executablePath();

/// The entries of the PATH variable in order, empty entries included;
/// empty when PATH is not set.
std::vector<std::string> pathEntries();

/// Starts `program` with `args` (its argv after argv[0]) in the current
/// directory with the inherited environment and standard handles, after
/// flushing standard output, and waits for it. Returns its exit code,
/// 128 + the signal number when a signal ended it, -1 when it cannot start.
int runAndWait(const std::string& program, const std::vector<std::string>& args);

/// Reads up to `count` bytes from the start of a regular file (a link is
/// followed; devices, pipes and directories are refused); false when the
/// file cannot be read.
bool readFileHead(const std::string& path, size_t count, std::string& out);

/// Reads up to the last `count` bytes of a regular file (a link is
/// followed); false when the file cannot be read.
bool readFileTail(const std::string& path, size_t count, std::string& out);

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

  /// Opens a file for reading; with `followLinks` clear a link or anything
  /// but a regular file is refused. False when it cannot be opened.
  bool open(const std::string& path, bool followLinks = true);

  /// The next piece: it ends after a LF or after `maxBytes` bytes, whichever
  /// comes first. False at the end of the file.
  bool readPiece(std::string& piece, size_t maxBytes = 79);

  void close();

 private:
  int nextByte();
  int rawByte();
  std::intptr_t file_ = -1;
  std::string buffer_;
  size_t at_ = 0;
  bool ended_ = false;
  int pending_ = -1;
};

/// A text file being written: every LF goes out as CR LF. Each write() goes
/// to the file in one system call, unbuffered, so appenders sharing a file
/// never tear each other's text and nothing waits in memory. An existing
/// read-only file cannot be opened; a link of that name is replaced by a new
/// file when truncating and refused when appending.
class TextWriter {
 public:
  enum class Mode { Truncate, Append };
  TextWriter() = default;
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;
  ~TextWriter();

  /// Opens or creates the file; false on failure.
  bool open(const std::string& path, Mode mode);
  bool isOpen() const { return file_ != -1; }
  /// Writes `text` whole; false when the file is not open or the write
  /// failed or fell short (a full disk).
  bool write(std::string_view text);
  /// Closes the file; false when it was not open or closing reported an
  /// error (a write the system had deferred failed).
  bool close();

 private:
  std::intptr_t file_ = -1;
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
int runCommandLine(const std::string& program, const std::vector<std::string>& words,
                   const std::string& line);

}  // namespace platform
