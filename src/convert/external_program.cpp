// Locating and running the external packer and Exec programs.
#include "convert/external_program.h"

#include "convert/program_output.h"
#include "platform/platform.h"
#include "run/output.h"
#include "search/wildcard.h"

namespace {

bool isTemplateDelimiter(char c) { return c == ' ' || c == '\t' || c == '\n'; }

bool isWordBlank(char c) { return c == ' ' || c == '\t'; }

// One file name looked up as written and then along PATH. A name without a
// directory part stands for the current directory, which inside the search
// holds strangers' files: there it and relative PATH entries are passed over.
std::optional<std::string> searchFor(const std::string& name, bool hasDirectory,
                                     LocateScope scope) {
  const bool inSearch = scope == LocateScope::InSearch;
  if ((hasDirectory || !inSearch) && platform::isProgramFile(name)) {
    return platform::absolutePath(name);
  }
  // An absolute name joined to a PATH entry would name some other file.
  if (platform::isAbsolute(name)) return std::nullopt;
  for (const auto& entry : platform::pathEntries()) {
    if (entry.empty()) continue;
    if (inSearch && !platform::isAbsolute(entry)) continue;
    // After a drive alone ("C:") the name stands in that drive's current
    // directory.
    const bool joined =
        platform::isSeparator(entry.back()) || platform::driveLength(entry) == entry.size();
    const std::string candidate =
        entry + (joined ? "" : std::string(1, platform::kSeparator)) + name;
    if (platform::isProgramFile(candidate)) return platform::absolutePath(candidate);
  }
  return std::nullopt;
}

// The one line a system that passes a command line gets: the path (quoted
// when it holds a blank), then each argument after one blank, as written.
std::string commandLine(const std::string& path, std::string_view args,
                        const std::optional<std::string>& reference, std::string_view append) {
  std::string line = path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
  line += ' ';
  line += args;
  if (reference) line += " " + *reference;
  if (!append.empty()) line += " " + std::string(append);
  return line;
}

void appendWords(std::vector<std::string>& argv, std::string_view text) {
  for (auto& word : splitWords(text)) argv.push_back(std::move(word));
}

}  // namespace

SplitTemplate splitTemplate(std::string_view text) {
  SplitTemplate out;
  size_t start = 0;
  while (start < text.size() && isTemplateDelimiter(text[start])) ++start;
  size_t end = start;
  while (end < text.size() && !isTemplateDelimiter(text[end])) ++end;
  out.program = std::string(text.substr(start, end - start));
  if (end < text.size()) out.args = std::string(text.substr(end + 1));
  return out;
}

std::vector<std::string> splitWords(std::string_view text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && isWordBlank(text[i])) ++i;
    if (i == text.size()) break;
    std::string word;
    bool quoted = false;
    while (i < text.size() && (quoted || !isWordBlank(text[i]))) {
      if (text[i] == '\\') {
        size_t run = 0;
        while (i < text.size() && text[i] == '\\') ++run, ++i;
        if (i < text.size() && text[i] == '"') {
          word.append(run / 2, '\\');
          if (run % 2 == 1) {
            word.push_back('"');
            ++i;
          }
        } else {
          word.append(run, '\\');
        }
        continue;
      }
      if (text[i] == '"') {
        quoted = !quoted;
      } else {
        word.push_back(text[i]);
      }
      ++i;
    }
    words.push_back(std::move(word));
  }
  return words;
}

std::optional<std::string> locateProgram(std::string_view name, LocateScope scope) {
  if (name.empty()) return std::nullopt;
  const NameParts parts = splitName(name);
  const bool hasDirectory = !parts.drive.empty() || !parts.directory.empty();
  const std::string asWritten = parts.drive + parts.directory + parts.baseName + parts.extension;
  // Where programs are known by their extension, only a name with one of the
  // two program extensions is tried as written: a batch file is never run.
  const bool triedAsWritten = !platform::kProgramsCarryExtension || wildcardMatch(name, "*.COM") ||
                              wildcardMatch(name, "*.EXE");
  if (triedAsWritten) {
    if (auto found = searchFor(asWritten, hasDirectory, scope)) return found;
  }
  // The probes with the DOS extensions drop the directory and extension.
  for (const char* extension : {".COM", ".EXE"}) {
    if (auto found = searchFor(parts.baseName + extension, false, scope)) return found;
  }
  return std::nullopt;
}

int runProgram(const std::string& path, std::string_view args,
               const std::optional<std::string>& reference, std::string_view append) {
  std::vector<std::string> argv;
  appendWords(argv, args);
  if (reference) {
    std::string_view archive(*reference);
    if (archive.size() >= 2 && archive.front() == '"' && archive.back() == '"') {
      archive = archive.substr(1, archive.size() - 2);
    }
    argv.emplace_back(archive);
  }
  appendWords(argv, append);
  const platform::RunResult result =
      runWithPackerOutput(path, argv, commandLine(path, args, reference, append));
  if (result.end == platform::RunEnd::TimedOut) logMessage("Timeout:            %s\n", path);
  if (result.end == platform::RunEnd::Exited || result.end == platform::RunEnd::NotStarted) {
    return result.exitCode;
  }
  return kProgramStopped;
}

int runCommand(std::string_view entry) {
  const SplitTemplate split = splitTemplate(entry);
  if (split.program.empty()) return 0;
  const auto path = locateProgram(split.program, LocateScope::InSearch);
  const int result = path ? runProgram(*path, split.args) : 1;
  // A run that is being stopped reports that, not the entry it cut short.
  if (result != 0 && platform::stopSignal() == 0) {
    logMessage("Exec error:          %s\n", entry);
    consoleMessage("Exec error:          %s\n", entry);
  }
  return result;
}
