// A stand-in packer for the black-box tests: it records how it was run and
// does to the disk what its environment tells it to.
//
// Every run appends one record to the file named by RECORDER_LOG (default:
// recorder.log beside the recorder's own binary). Each line after "run" holds
// a length in bytes and then exactly that many bytes, so any argument reads
// back unchanged:
//   run <argc>
//   cwd <length> <current directory>
//   arg <length> <argument>          one line per argv entry, argv[0] first
//   line <length> <command line>     only where programs get one command
//                                    line (Windows): that line as given
//   file <length> <relative path>    only with RECORDER_LIST: the tree below
//                                    the current directory, sorted, a
//                                    directory with a trailing '/'
//   end
//
// The role is the base name of argv[0] (without ".exe" on Windows). One binary copied under several
// names plays several programs: every setting below is looked up first as
// NAME_<role> (RECORDER_EXIT_ypk) and then as NAME.
//   RECORDER_LIST     any value: list the tree in the record.
//   RECORDER_SLEEP    seconds to sleep right after the record is written,
//                     before anything below.
//   RECORDER_CREATE   ':'-separated items; "dst" creates dst holding
//                     RECORDER_CONTENT (default "<role>\n"), "dst<src" copies
//                     src over dst. Missing parent directories are made.
//   RECORDER_REMOVE   ':'-separated paths to remove (files, or empty dirs).
//   RECORDER_NEED     ':'-separated paths that must exist, as a packer's
//                     archive must: when one is missing the run does nothing
//                     more (after its record) and exits with code 9.
//   RECORDER_KEEPTIME ':'-separated paths whose last-write time is put back
//                     after the changes above, as cp -p or rsync -t do.
//   RECORDER_PRINT    text written to standard output.
//   RECORDER_STDERR   text written to standard error, after RECORDER_PRINT.
//   RECORDER_SIGNAL   signal number to end with, after all of the above (on
//                     Windows: an access violation, whatever the number).
//   RECORDER_EXIT     exit code (default 0).
// More settings, each a ':'-separated list. RECORDER_BEGINS is checked right
// after RECORDER_NEED, the others are applied after RECORDER_CREATE and
// before RECORDER_REMOVE:
//   RECORDER_BEGINS   "path=bytes": when the file does not begin with those
//                     bytes the run ends as for a missing RECORDER_NEED path
//                     (an unpacker rejecting what is no archive of its own).
//   RECORDER_MKDIR    directories to create, parents included.
//   RECORDER_HARDLINK "dst<src": dst becomes a second name of src, in place
//                     of any file dst was.
//   RECORDER_SYMLINK  "dst<target": dst becomes a symbolic link to target
//                     (none where the platform's library makes none).
//   RECORDER_SIZE     "path=bytes": the file takes that size, its new part
//                     a hole where the file system keeps holes.
// In these settings and in RECORDER_CREATE and RECORDER_REMOVE a path "@N"
// names argv[N] and "@-N" argv[argc-N], so "@-1" is the last argument (the
// archive of a packer without Append text); text after the number is
// appended ("@2.tmp"). A drive's colon splits a list item too: name paths
// of other directories relatively, or in their POSIX spelling.
// For programs that overrun a time limit or ignore a stop:
//   RECORDER_SLEEPER  seconds a second process sleeps, holding the same
//                     standard handles; started after the record, never
//                     waited for.
//   RECORDER_HANG     seconds to sleep after the changes and the printing
//                     above, before ending.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "recorder_os.h"

namespace fs = std::filesystem;

namespace {

std::string role;

const char* setting(const std::string& name) {
  if (const char* value = std::getenv((name + "_" + role).c_str())) return value;
  return std::getenv(name.c_str());
}

std::vector<std::string> splitList(const char* text) {
  std::vector<std::string> items;
  if (text == nullptr) return items;
  std::string item;
  for (const char* p = text;; ++p) {
    if (*p == ':' || *p == '\0') {
      if (!item.empty()) items.push_back(item);
      item.clear();
      if (*p == '\0') break;
    } else {
      item += *p;
    }
  }
  return items;
}

std::string resolve(const std::string& path, int argc, char** argv) {
  if (path.size() < 2 || path[0] != '@') return path;
  char* rest = nullptr;
  const long n = std::strtol(path.c_str() + 1, &rest, 10);
  const long index = n < 0 ? argc + n : n;
  return index >= 0 && index < argc ? argv[index] + std::string(rest) : path;
}

void field(std::string& out, const char* tag, const std::string& bytes) {
  out += std::string(tag) + " " + std::to_string(bytes.size()) + " " + bytes + "\n";
}

std::string buildRecord(int argc, char** argv) {
  std::string record = "run " + std::to_string(argc) + "\n";
  std::error_code error;
  field(record, "cwd", fs::current_path(error).string());
  for (int i = 0; i < argc; ++i) field(record, "arg", argv[i]);
  if (const std::string line = recorder::rawCommandLine(); !line.empty()) {
    field(record, "line", line);
  }
  if (setting("RECORDER_LIST") != nullptr) {
    std::vector<std::string> names;
    for (auto it = fs::recursive_directory_iterator(".", error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
      const bool isDir = it->is_directory(error) && !it->is_symlink(error);
      names.push_back(it->path().lexically_relative(".").generic_string() + (isDir ? "/" : ""));
    }
    std::sort(names.begin(), names.end());
    for (const auto& name : names) field(record, "file", name);
  }
  return record + "end\n";
}

void appendRecord(const std::string& record) {
  const char* named = setting("RECORDER_LOG");
  const std::string logPath =
      named ? std::string(named) : (fs::path(recorder::ownDirectory()) / "recorder.log").string();
  recorder::appendWhole(logPath, record);
}

// A new file is a copy with the source's permissions; an existing one is
// written over, as cp does, also while others hold it open (Windows'
// fs::copy_file refuses to overwrite).
void copyOver(const fs::path& source, const fs::path& target) {
  std::error_code error;
  if (!fs::exists(target, error)) {
    fs::copy_file(source, target, error);
    return;
  }
  std::ifstream in(source, std::ios::binary);
  if (in) std::ofstream(target, std::ios::binary | std::ios::trunc) << in.rdbuf();
}

void createFiles(int argc, char** argv) {
  for (const auto& item : splitList(setting("RECORDER_CREATE"))) {
    const size_t from = item.find('<');
    const fs::path target = resolve(item.substr(0, from), argc, argv);
    std::error_code error;
    if (target.has_parent_path()) fs::create_directories(target.parent_path(), error);
    if (from != std::string::npos) {
      copyOver(resolve(item.substr(from + 1), argc, argv), target);
      continue;
    }
    const char* content = setting("RECORDER_CONTENT");
    std::ofstream(target, std::ios::binary) << (content ? std::string(content) : role + "\n");
  }
}

void removeFiles(int argc, char** argv) {
  for (const auto& item : splitList(setting("RECORDER_REMOVE"))) {
    std::error_code error;
    fs::remove(resolve(item, argc, argv), error);
  }
}

// The item split at `mark` ("dst<src", "path=bytes"), both sides resolved
// only where asked.
std::pair<std::string, std::string> splitAt(const std::string& item, char mark) {
  const size_t at = item.find(mark);
  if (at == std::string::npos) return {item, ""};
  return {item.substr(0, at), item.substr(at + 1)};
}

bool beginningsHold(int argc, char** argv) {
  for (const auto& item : splitList(setting("RECORDER_BEGINS"))) {
    const auto [path, bytes] = splitAt(item, '=');
    std::ifstream in(resolve(path, argc, argv), std::ios::binary);
    std::string start(bytes.size(), '\0');
    if (!in.read(start.data(), std::streamsize(start.size())) || start != bytes) return false;
  }
  return true;
}

void shapeDisk(int argc, char** argv) {
  std::error_code error;
  for (const auto& item : splitList(setting("RECORDER_MKDIR")))
    fs::create_directories(resolve(item, argc, argv), error);
  for (const auto& item : splitList(setting("RECORDER_HARDLINK"))) {
    const auto [to, from] = splitAt(item, '<');
    if (from.empty()) continue;
    fs::remove(resolve(to, argc, argv), error);
    fs::create_hard_link(resolve(from, argc, argv), resolve(to, argc, argv), error);
  }
  for (const auto& item : splitList(setting("RECORDER_SYMLINK"))) {
    const auto [to, target] = splitAt(item, '<');
    fs::create_symlink(resolve(target, argc, argv), resolve(to, argc, argv), error);
  }
  for (const auto& item : splitList(setting("RECORDER_SIZE"))) {
    const auto [path, bytes] = splitAt(item, '=');
    fs::resize_file(resolve(path, argc, argv), std::strtoull(bytes.c_str(), nullptr, 10), error);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == recorder::kSleeperSwitch) {
    recorder::sleepSeconds(unsigned(std::atoi(argv[2])));
    return 0;
  }
  role = argc > 0 ? recorder::roleOf(argv[0]) : "recorder";
  appendRecord(buildRecord(argc, argv));
  if (const char* seconds = setting("RECORDER_SLEEPER"))
    recorder::startSleeper(unsigned(std::atoi(seconds)));
  if (const char* seconds = setting("RECORDER_SLEEP"))
    recorder::sleepSeconds(unsigned(std::atoi(seconds)));
  for (const auto& item : splitList(setting("RECORDER_NEED"))) {
    std::error_code error;
    if (!fs::exists(resolve(item, argc, argv), error)) return 9;
  }
  if (!beginningsHold(argc, argv)) return 9;
  std::vector<std::pair<fs::path, fs::file_time_type>> keptTimes;
  for (const auto& item : splitList(setting("RECORDER_KEEPTIME"))) {
    std::error_code error;
    const fs::path path = resolve(item, argc, argv);
    const auto time = fs::last_write_time(path, error);
    if (!error) keptTimes.emplace_back(path, time);
  }
  createFiles(argc, argv);
  shapeDisk(argc, argv);
  removeFiles(argc, argv);
  for (const auto& [path, time] : keptTimes) {
    std::error_code error;
    fs::last_write_time(path, time, error);
  }
  if (const char* text = setting("RECORDER_PRINT")) {
    std::fputs(text, stdout);
    std::fflush(stdout);
  }
  if (const char* text = setting("RECORDER_STDERR")) std::fputs(text, stderr);
  if (const char* seconds = setting("RECORDER_HANG"))
    recorder::sleepSeconds(unsigned(std::atoi(seconds)));
  if (const char* number = setting("RECORDER_SIGNAL")) recorder::crash(std::atoi(number));
  const char* code = setting("RECORDER_EXIT");
  return code ? std::atoi(code) : 0;
}
