// Locating and running the external packer and Exec programs.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

/// A command template split into its program word and argument part.
struct SplitTemplate {
  std::string program;  // empty when the template holds no word
  std::string args;     // text after the delimiter ending the program word
};

/// Splits a template at its first word (delimiters blank, tab, newline).
SplitTemplate splitTemplate(std::string_view text);

/// Splits an argument text into words as a Windows command line is split:
/// blanks and tabs separate, double quotes group and are removed, 2n
/// backslashes before a quote give n backslashes and a grouping quote, 2n+1
/// give n backslashes and a literal quote.
std::vector<std::string> splitWords(std::string_view text);

/// Where a program may be looked for.
enum class LocateScope {
  StartUp,  // before the search: the current directory and all PATH entries
  InSearch  // inside walked or work directories: absolute PATH entries only
};

/// The absolute path of the program `name`: the name itself, then its base
/// name with ".COM", then with ".EXE"; each as written and then along PATH.
/// Absent when nothing is found.
std::optional<std::string> locateProgram(std::string_view name, LocateScope scope);

/// What runProgram gives for a program that did not run to its end: it was
/// past the Timeout limit, or the run is being stopped.
constexpr int kProgramStopped = -2;

/// Runs a located program with the words of `args`, then `reference` as one
/// argument when present, then the words of `append`, within the Timeout
/// limit of the settings. Returns the exit code, 128 + signal, -1 when it
/// cannot start, or kProgramStopped; a program past its limit is logged as
/// "Timeout:" with its path.
int runProgram(const std::string& path, std::string_view args,
               const std::optional<std::string>& reference = std::nullopt,
               std::string_view append = {});

/// Runs one Exec entry in the current directory. 0 when its program was found
/// and ended with 0; 1 when not found; else its exit code or -1. A failure
/// writes "Exec error:" with the entry to the log and the console. An entry
/// without a program word is not run and gives 0.
int runCommand(std::string_view entry);
