// Helpers of the black-box tests: scratch directories, one run of the zelm
// binary with its console and log captured, files, and the recorder's records.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace harness {

/// True when the binary under test is the Windows build, run under wine: its
/// paths are spelled "Z:\\tmp\\...", its console lines end in CR LF, its
/// PATH is WINEPATH, and its programs are "NAME.exe".
constexpr bool kWindows = ZELM_TARGET_WINDOWS != 0;

/// The file name of the binary under test.
inline const std::string kZelmName = kWindows ? "zelm.exe" : "zelm";

/// `path` as the binary under test spells it: unchanged on POSIX; on Windows
/// every "/" becomes "\\" and an absolute path gets the drive "Z:".
std::string native(std::string_view path);

/// A new directory below /tmp with an absolute, link-free path. It is removed
/// with everything in it, read-only files and directories included, when the
/// object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  /// The absolute path of `relative` inside the directory.
  std::string operator/(std::string_view relative) const;

 private:
  std::string path_;
};

/// One run of zelm.
struct ZelmRun {
  /// Bytes of zelm.cfg beside the binary, written as given; absent: no file.
  std::optional<std::string> config;
  std::vector<std::string> args;
  /// Working directory of the run; empty: the binary's directory.
  std::string cwd;
  /// Changes to this process's environment: a value sets, nullopt unsets.
  std::map<std::string, std::optional<std::string>> env;
  /// Where the binary is copied; empty: a fresh directory removed after the
  /// run. A directory given here keeps zelm.log between runs.
  std::string binDir;
  /// The run is killed (and timedOut set) when it lasts longer.
  int timeoutSeconds = 20;
  /// A program and its first arguments that run the binary (a privilege
  /// dropper); empty: the binary runs directly.
  std::vector<std::string> wrapper;
  /// Signals sent to zelm in order, each as soon as its file exists.
  std::vector<std::pair<int, std::string>> signals;
  /// Standard output is a pipe whose reading end is already closed.
  bool closedConsole = false;
  /// When above 0: standard output is a pseudo-terminal this many columns
  /// wide (0 columns when -1), the controlling terminal of zelm's own session,
  /// with zelm in its foreground. Its bytes come back unchanged in `out`.
  int terminalColumns = 0;
  /// With a terminal: it is closed (hung up) as soon as this file exists.
  std::string hangUpWhen;
};

struct ZelmResult {
  /// The exit code; absent when a signal ended the run (a crash) or it timed out.
  std::optional<int> exitCode;
  int signal = 0;
  bool timedOut = false;
  std::string out;  // standard output, byte for byte
  std::string err;  // standard error
  /// The bytes of zelm.log beside the binary after the run, when it is a
  /// file (or a link to one).
  std::optional<std::string> log;
  /// Where the binary ran from (gone after the run unless given in ZelmRun).
  std::string binDir;
};

/// Copies the zelm binary and the configuration into place and runs it with
/// standard input from /dev/null. The console of the Windows build is read
/// back with each CR LF as LF; a LF without its CR shows as "<LF>" there.
ZelmResult runZelm(const ZelmRun& run);

/// Runs any program the way runZelm runs zelm (argv[0] is `program`, the
/// environment changed by `env`, stdin from /dev/null); `log` stays absent.
/// A Windows program (NAME.exe) runs under wine, with PATH given as WINEPATH.
ZelmResult runBinary(const std::string& program, const std::vector<std::string>& args,
                     const std::string& cwd,
                     const std::map<std::string, std::optional<std::string>>& env,
                     int timeoutSeconds = 20, const ZelmRun* control = nullptr);

/// Copies the zelm binary and `config` (as zelm.cfg) into `binDir`, made
/// when missing; the binary's path. Runs from one such directory share a log.
std::string installZelm(const std::string& binDir, const std::string& config);

/// Runs `program` once per argument list, all released at the same moment,
/// as runBinary does, and waits for every one; results in the lists' order.
std::vector<ZelmResult> runAtOnce(const std::string& program,
                                  const std::vector<std::vector<std::string>>& argLists,
                                  const std::string& cwd,
                                  const std::map<std::string, std::optional<std::string>>& env,
                                  int timeoutSeconds);

/// A summary of a result for failure messages.
std::string describe(const ZelmResult& result);

/// Writes `bytes` to `path`, creating missing parent directories.
void writeFile(const std::string& path, std::string_view bytes);

/// The whole file, or "" when it cannot be read.
std::string readFile(const std::string& path);

/// True when anything, a dangling link included, has this name.
bool exists(const std::string& path);

/// Every entry below `dir`, relative and sorted; a directory ends in '/', a
/// link in '@'. Links are not followed.
std::vector<std::string> listTree(const std::string& dir);

/// Writes a /bin/sh script with `body` after its first line, executable.
void makeScript(const std::string& path, std::string_view body);

/// Copies the recorder to `dir`/`name`, executable; returns its path. For
/// the Windows build a name without extension gets ".exe".
std::string installRecorder(const std::string& dir, const std::string& name);

/// How zelm names the recorder it found in `dir` for `role`: its path, in
/// Windows spelling with the ".EXE" it probed for on Windows.
std::string locatedRecorder(const std::string& dir, const std::string& role);

/// One run of the recorder, as read back from its record file.
struct RecorderRecord {
  std::string cwd;
  std::vector<std::string> argv;   // argv[0] first
  std::string line;                // the raw command line (Windows only)
  std::vector<std::string> files;  // with RECORDER_LIST only
  /// The base name of argv[0], without ".exe" or ".com" for Windows.
  std::string role() const;
};

/// The records of a record file in the order written; none when the file is
/// missing. Parsing stops at the first malformed record.
std::vector<RecorderRecord> readRecords(const std::string& path);

/// `text` with each LF written as CR LF, as zelm writes its text files.
std::string crlf(std::string_view text);

/// The report block zelm prints for these counters: ten places per figure, or
/// as many as the longest figure needs.
std::string report(unsigned converted, unsigned errors, unsigned skipped, uint64_t before,
                   uint64_t after);

/// Seconds since the epoch of a local date and time.
int64_t localTime(int year, int month, int day, int hour, int minute, int second);

/// Sets the last-write time of `path` (a link itself, not its target).
void setMtime(const std::string& path, int64_t seconds);

/// The last-write time of `path` (not following a link), -1 when missing.
int64_t mtimeOf(const std::string& path);

/// One scene of runs with the recorder: a start directory `work` for the
/// archives, a PATH directory `bin` holding the recorder under each role name,
/// and a record file. `baseEnv` is added to every run's environment (after
/// PATH and RECORDER_LOG); a run's own `env` wins over both.
class Scene {
 public:
  Scene(const std::vector<std::string>& roles,
        std::map<std::string, std::optional<std::string>> baseEnv);

  std::string root(const std::string& name = "") const;
  std::string bin() const { return root("bin"); }
  /// How zelm names the recorder it found in `bin` for `role`.
  std::string program(const std::string& role) const { return locatedRecorder(bin(), role); }
  std::string work(const std::string& name = "") const;

  ZelmResult run(const std::string& config, std::vector<std::string> args,
                 const std::map<std::string, std::optional<std::string>>& env = {}) const;
  /// The same with signals, a closed console or a binary directory set in `run`.
  ZelmResult runWith(const std::string& config, ZelmRun run) const;

  std::vector<RecorderRecord> records() const;
  std::vector<RecorderRecord> runsOf(const std::string& role) const;
  std::vector<std::string> roles() const;
  std::vector<std::string> workTree() const { return listTree(work()); }

 private:
  TempDir root_;
  std::map<std::string, std::optional<std::string>> baseEnv_;
};

/// `log` with the time text after "opened " and "closed " replaced by "<time>".
std::string maskTimes(std::string log);

}  // namespace harness
