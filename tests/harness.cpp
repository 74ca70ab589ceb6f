// Helpers of the black-box tests: scratch directories, running the binary,
// files, and the recorder's records.
#include "harness.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <latch>
#include <memory>
#include <sstream>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace harness {

namespace {

// Gives back the write bits a test took away, so that everything can go.
void makeRemovable(const fs::path& dir) {
  std::error_code error;
  fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, error);
  for (auto it = fs::recursive_directory_iterator(dir, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_symlink(error)) continue;
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
  }
}

std::vector<std::string> environmentWith(
    const std::map<std::string, std::optional<std::string>>& changes) {
  std::map<std::string, std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const size_t equals = text.find('=');
    if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const auto& [name, value] : changes) {
    if (value) {
      merged[name] = *value;
    } else {
      merged.erase(name);
    }
  }
  std::vector<std::string> out;
  for (const auto& [name, value] : merged) out.push_back(name + "=" + value);
  return out;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Sends each of the run's signals once its file exists; true while some
// are still to be sent.
bool signalWhenDue(pid_t child, const ZelmRun* control, size_t& sent) {
  if (control == nullptr) return false;
  while (sent < control->signals.size() && exists(control->signals[sent].second)) {
    ::kill(child, control->signals[sent++].first);
  }
  return sent < control->signals.size();
}

// Closes the terminal once the run's hang-up file exists; true while it
// is still to come.
bool hangUpWhenDue(const ZelmRun* control, pollfd& terminal, int& outFd, int& open) {
  if (control == nullptr || control->hangUpWhen.empty() || terminal.fd < 0) return false;
  if (!exists(control->hangUpWhen)) return true;
  ::close(outFd);
  outFd = terminal.fd = -1;
  --open;
  return false;
}

// Reads both outputs until they close or the deadline passes; false on
// timeout. `outFd` is closed here when the run hangs its terminal up.
bool drain(int& outFd, int errFd, std::string& out, std::string& err,
           std::chrono::steady_clock::time_point deadline, pid_t child, const ZelmRun* control) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open = 2;
  if (outFd < 0) --open;
  size_t sent = 0;
  while (open > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    // While a signal or a hang-up waits for its file, look again every few
    // milliseconds.
    const bool hangUpDue = hangUpWhenDue(control, fds[0], outFd, open);
    if (open == 0) break;
    const bool due = signalWhenDue(child, control, sent) || hangUpDue;
    const int ready = ::poll(fds, 2, due ? 5 : static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0 && due) continue;
    if (ready <= 0) return false;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[8192];
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open;
      }
    }
  }
  return true;
}

// A pseudo-terminal as a pipe: [0] the side the harness reads, [1] the
// terminal itself. Output is passed unchanged (no LF to CR LF).
bool openTerminal(int columns, int ends[2]) {
  winsize size{};
  size.ws_row = 24;
  size.ws_col = static_cast<unsigned short>(columns < 0 ? 0 : columns);
  if (::openpty(&ends[0], &ends[1], nullptr, nullptr, &size) != 0) return false;
  termios mode{};
  ::tcgetattr(ends[1], &mode);
  mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  ::tcsetattr(ends[1], TCSANOW, &mode);
  ::fcntl(ends[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(ends[1], F_SETFD, FD_CLOEXEC);
  return true;
}

bool endsWithIgnoringCase(std::string_view text, std::string_view end) {
  if (text.size() < end.size()) return false;
  for (size_t i = 0; i < end.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[text.size() - end.size() + i])) != end[i]) {
      return false;
    }
  }
  return true;
}

// Where this process finds a program: the first PATH directory holding it.
std::string findOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string_view rest = path ? path : "/usr/bin:/bin";
  for (;;) {
    const size_t colon = rest.find(':');
    const std::string candidate = std::string(rest.substr(0, colon)) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string_view::npos) return name;
    rest.remove_prefix(colon + 1);
  }
}

// A PATH value as wine's WINEPATH: ';' between entries in Windows spelling.
std::string winePath(std::string_view path) {
  std::string out;
  for (;;) {
    const size_t colon = path.find(':');
    out += native(path.substr(0, colon));
    if (colon == std::string_view::npos) return out;
    out += ';';
    path.remove_prefix(colon + 1);
  }
}

// The environment changes for a Windows program: its PATH goes to wine as
// WINEPATH (wine itself keeps ours), and a crash must end the program rather
// than wait in the debugger.
std::map<std::string, std::optional<std::string>> forWine(
    std::map<std::string, std::optional<std::string>> env) {
  if (auto path = env.find("PATH"); path != env.end()) {
    env["WINEPATH"] = path->second ? std::optional(winePath(*path->second)) : std::nullopt;
    env.erase(path);
  }
  env.try_emplace("WINEDEBUG", "-all");
  env.try_emplace("WINEDLLOVERRIDES", "winedbg.exe=d");
  return env;
}

// The console of a Windows program in the tests' spelling: CR LF as LF, and
// a LF that came without its CR marked so that no expectation can match it.
std::string fromWindowsConsole(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += "<LF>";
    out += text[i];
  }
  return out;
}

// False (with the reason in `why`) when the binary cannot be put in place.
bool prepareBinDir(const ZelmRun& run, const std::string& binDir, std::string& why) {
  const fs::path binary = fs::path(binDir) / kZelmName;
  std::error_code error;
  fs::copy_file(ZELM_BINARY, binary, fs::copy_options::overwrite_existing, error);
  if (error) {
    why = "harness: cannot copy " + std::string(ZELM_BINARY) + ": " + error.message();
    return false;
  }
  ::chmod(binary.c_str(), 0755);
  const std::string config = binDir + "/zelm.cfg";
  if (run.config) {
    writeFile(config, *run.config);
  } else {
    fs::remove(config, error);
  }
  return true;
}

}  // namespace

std::string native(std::string_view path) {
  if (!kWindows) return std::string(path);
  std::string out = !path.empty() && path[0] == '/' ? "Z:" : "";
  for (const char c : path) out += c == '/' ? '\\' : c;
  return out;
}

TempDir::TempDir() {
  char pattern[] = "/tmp/zelm-test-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) std::abort();
  path_ = fs::canonical(pattern).string();
}

TempDir::~TempDir() {
  makeRemovable(path_);
  std::error_code error;
  fs::remove_all(path_, error);
}

std::string TempDir::operator/(std::string_view relative) const {
  return path_ + "/" + std::string(relative);
}

ZelmResult runZelm(const ZelmRun& run) {
  std::unique_ptr<TempDir> ownDir;
  std::string binDir = run.binDir;
  if (binDir.empty()) {
    ownDir = std::make_unique<TempDir>();
    binDir = ownDir->path();
  }
  std::string why;
  if (!prepareBinDir(run, binDir, why)) {
    ZelmResult failed;
    failed.err = why;
    return failed;
  }
  std::string program = binDir + "/" + kZelmName;
  std::vector<std::string> args = run.args;
  if (!run.wrapper.empty()) {
    args.insert(args.begin(), program);
    args.insert(args.begin(), run.wrapper.begin() + 1, run.wrapper.end());
    program = run.wrapper.front();
  }
  ZelmResult result = runBinary(program, args, run.cwd.empty() ? binDir : run.cwd, run.env,
                                run.timeoutSeconds, &run);
  if (kWindows) {
    result.out = fromWindowsConsole(result.out);
    result.err = fromWindowsConsole(result.err);
  }
  result.binDir = binDir;
  if (fs::is_regular_file(binDir + "/zelm.log")) result.log = readFile(binDir + "/zelm.log");
  return result;
}

std::string installZelm(const std::string& binDir, const std::string& config) {
  fs::create_directories(binDir);
  const std::string binary = binDir + "/" + kZelmName;
  fs::copy_file(ZELM_BINARY, binary, fs::copy_options::overwrite_existing);
  writeFile(binDir + "/zelm.cfg", config);
  return binary;
}

std::vector<ZelmResult> runAtOnce(const std::string& program,
                                  const std::vector<std::vector<std::string>>& argLists,
                                  const std::string& cwd,
                                  const std::map<std::string, std::optional<std::string>>& env,
                                  int timeoutSeconds) {
  std::vector<ZelmResult> results(argLists.size());
  std::latch ready(ptrdiff_t(argLists.size()));
  std::vector<std::thread> runs;
  for (size_t i = 0; i < argLists.size(); ++i) {
    runs.emplace_back([&, i] {
      ready.arrive_and_wait();
      results[i] = runBinary(program, argLists[i], cwd, env, timeoutSeconds);
    });
  }
  for (auto& run : runs) run.join();
  return results;
}

ZelmResult runBinary(const std::string& program, const std::vector<std::string>& args,
                     const std::string& cwd,
                     const std::map<std::string, std::optional<std::string>>& env,
                     int timeoutSeconds, const ZelmRun* control) {
  const bool underWine = endsWithIgnoringCase(program, ".exe");
  std::vector<std::string> argvText = {program};
  if (underWine) argvText.insert(argvText.begin(), findOnPath("wine"));
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<std::string> envText = environmentWith(underWine ? forWine(env) : env);
  // Everything the child needs is built before the fork.
  std::vector<char*> argv = pointersTo(argvText);
  std::vector<char*> envp = pointersTo(envText);

  ZelmResult result;
  const bool terminal = control != nullptr && control->terminalColumns != 0;
  int outPipe[2];
  int errPipe[2];
  if (terminal ? !openTerminal(control->terminalColumns, outPipe)
               : ::pipe2(outPipe, O_CLOEXEC) != 0) {
    return result;
  }
  if (::pipe2(errPipe, O_CLOEXEC) != 0) {
    ::close(outPipe[0]);
    ::close(outPipe[1]);
    return result;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    if (terminal) {
      // A session of its own, with the terminal as its controlling one.
      ::setsid();
      ::ioctl(outPipe[1], TIOCSCTTY, 0);
    } else {
      ::setpgid(0, 0);
    }
    const int devNull = ::open("/dev/null", O_RDONLY);
    ::dup2(devNull, 0);
    ::dup2(outPipe[1], 1);
    ::dup2(errPipe[1], 2);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  // Either side may come first; a child with a session of its own needs none.
  if (child > 0 && !terminal) ::setpgid(child, child);
  if (control != nullptr && control->closedConsole) {
    ::close(outPipe[0]);
    outPipe[0] = -1;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  // A run past its deadline is killed with all it started.
  if (child > 0 &&
      !drain(outPipe[0], errPipe[0], result.out, result.err, deadline, child, control)) {
    result.timedOut = true;
    ::kill(-child, SIGKILL);
  }
  if (outPipe[0] >= 0) ::close(outPipe[0]);
  ::close(errPipe[0]);
  if (child < 0) return result;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!result.timedOut && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

std::string describe(const ZelmResult& result) {
  std::ostringstream text;
  text << "exit code: ";
  if (result.exitCode) {
    text << *result.exitCode;
  } else {
    text << "none";
  }
  if (result.signal != 0) text << ", killed by signal " << result.signal;
  if (result.timedOut) text << ", timed out";
  text << "\n--- stdout ---\n" << result.out << "\n--- stderr ---\n" << result.err;
  if (result.log) text << "\n--- zelm.log ---\n" << *result.log;
  return text.str();
}

void writeFile(const std::string& path, std::string_view bytes) {
  std::error_code error;
  const fs::path target(path);
  if (target.has_parent_path()) fs::create_directories(target.parent_path(), error);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> listTree(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(dir, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::string name = it->path().lexically_relative(dir).string();
    if (it->is_symlink(error)) {
      name += '@';
    } else if (it->is_directory(error)) {
      name += '/';
    }
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void makeScript(const std::string& path, std::string_view body) {
  writeFile(path, "#!/bin/sh\n" + std::string(body));
  ::chmod(path.c_str(), 0755);
}

std::string installRecorder(const std::string& dir, const std::string& name) {
  const bool bare = name.find('.') == std::string::npos;
  const std::string path = dir + "/" + name + (kWindows && bare ? ".exe" : "");
  std::error_code error;
  fs::create_directories(dir, error);
  fs::copy_file(RECORDER_BINARY, path, fs::copy_options::overwrite_existing, error);
  ::chmod(path.c_str(), 0755);
  return path;
}

std::string locatedRecorder(const std::string& dir, const std::string& role) {
  return native(dir + "/" + role) + (kWindows ? ".EXE" : "");
}

std::string RecorderRecord::role() const {
  if (argv.empty()) return std::string();
  // A Windows program's argv[0] is the path as the command line spells it.
  std::string name = argv[0].substr(argv[0].find_last_of(kWindows ? "/\\" : "/") + 1);
  if (kWindows && (endsWithIgnoringCase(name, ".exe") || endsWithIgnoringCase(name, ".com"))) {
    name.resize(name.size() - 4);
  }
  return name;
}

std::vector<RecorderRecord> readRecords(const std::string& path) {
  const std::string text = readFile(path);
  std::vector<RecorderRecord> records;
  size_t at = 0;
  // Reads "<tag> <length> <bytes>\n"; false when the next line is another tag.
  const auto field = [&](std::string_view tag, std::string& value) {
    if (text.compare(at, tag.size() + 1, std::string(tag) + " ") != 0) return false;
    size_t pos = at + tag.size() + 1;
    const size_t blank = text.find(' ', pos);
    if (blank == std::string::npos) return false;
    const size_t length = std::strtoul(text.c_str() + pos, nullptr, 10);
    pos = blank + 1;
    if (pos + length >= text.size() || text[pos + length] != '\n') return false;
    value = text.substr(pos, length);
    at = pos + length + 1;
    return true;
  };
  while (at < text.size()) {
    if (text.compare(at, 4, "run ") != 0) break;
    const size_t lineEnd = text.find('\n', at);
    if (lineEnd == std::string::npos) break;
    const size_t count = std::strtoul(text.c_str() + at + 4, nullptr, 10);
    at = lineEnd + 1;
    RecorderRecord record;
    bool ok = field("cwd", record.cwd);
    std::string value;
    while (ok && record.argv.size() < count && field("arg", value)) record.argv.push_back(value);
    if (ok) field("line", record.line);
    while (ok && field("file", value)) record.files.push_back(value);
    ok = ok && record.argv.size() == count && text.compare(at, 4, "end\n") == 0;
    if (!ok) break;
    at += 4;
    records.push_back(std::move(record));
  }
  return records;
}

std::string crlf(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string maskTimes(std::string log) {
  for (const char* label : {"opened ", "closed "}) {
    const std::string key = std::string("ZELM utility, ") + label;
    for (size_t at = log.find(key); at != std::string::npos; at = log.find(key, at)) {
      at += key.size();
      log.replace(at, std::min<size_t>(24, log.size() - at), "<time>");
    }
  }
  return log;
}

std::string report(unsigned converted, unsigned errors, unsigned skipped, uint64_t before,
                   uint64_t after) {
  const uint64_t largest = std::max<uint64_t>({converted, errors, skipped, before, after});
  const int width = std::max<int>(10, int(std::to_string(largest).size()));
  char text[512];
  std::snprintf(text, sizeof text,
                "------------ Report ------------\n"
                "Converted  :\t%*u files\n"
                "Error      :\t%*u files\n"
                "Skipped    :\t%*u files\n"
                "Size before:\t%*llu bytes\n"
                "Size after :\t%*llu bytes\n\n",
                width, converted, width, errors, width, skipped, width,
                static_cast<unsigned long long>(before), width,
                static_cast<unsigned long long>(after));
  return text;
}

int64_t localTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return int64_t(std::mktime(&t));
}

void setMtime(const std::string& path, int64_t seconds) {
  const struct timespec times[2] = {{time_t(seconds), 0}, {time_t(seconds), 0}};
  ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

int64_t mtimeOf(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 ? int64_t(st.st_mtime) : -1;
}

Scene::Scene(const std::vector<std::string>& roles,
             std::map<std::string, std::optional<std::string>> baseEnv)
    : baseEnv_(std::move(baseEnv)) {
  for (const auto& role : roles) installRecorder(bin(), role);
  fs::create_directories(work());
}

std::string Scene::root(const std::string& name) const {
  return name.empty() ? root_.path() : root_ / name;
}

std::string Scene::work(const std::string& name) const {
  return name.empty() ? root_ / "work" : root_ / ("work/" + name);
}

ZelmResult Scene::run(const std::string& config, std::vector<std::string> args,
                      const std::map<std::string, std::optional<std::string>>& env) const {
  ZelmRun run;
  run.args = std::move(args);
  run.env = env;
  return runWith(config, std::move(run));
}

ZelmResult Scene::runWith(const std::string& config, ZelmRun run) const {
  run.config = config;
  run.cwd = work();
  std::map<std::string, std::optional<std::string>> env = {{"PATH", bin()},
                                                           {"RECORDER_LOG", root("records")}};
  for (const auto& [name, value] : baseEnv_) env[name] = value;
  for (const auto& [name, value] : run.env) env[name] = value;
  run.env = std::move(env);
  return runZelm(run);
}

std::vector<RecorderRecord> Scene::records() const { return readRecords(root("records")); }

std::vector<RecorderRecord> Scene::runsOf(const std::string& role) const {
  std::vector<RecorderRecord> out;
  for (const auto& record : records()) {
    if (record.role() == role) out.push_back(record);
  }
  return out;
}

std::vector<std::string> Scene::roles() const {
  std::vector<std::string> out;
  for (const auto& record : records()) out.push_back(record.role());
  return out;
}

}  // namespace harness
