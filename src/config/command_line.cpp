// The command-line parser: destination, switches, packer names, lists, inputs.
#include "config/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "config/settings.h"
#include "platform/platform.h"
#include "run/output.h"

namespace {

struct Switch {
  std::string_view name;
  int Settings::*field;  // null for "?"
  int value;
};

// The program's whole switch vocabulary; anything else after "/" is a
// packer name. The first equal name decides.
constexpr Switch kSwitches[] = {
    {"?", nullptr, 0},
    {"id", &Settings::detectById, 1},
    {"ext", &Settings::detectById, 0},
    {"r", &Settings::recurse, 1},
    {"r+", &Settings::recurse, 1},
    {"r-", &Settings::recurse, 0},
    {"k", &Settings::keepTime, 1},
    {"k+", &Settings::keepTime, 1},
    {"k-", &Settings::keepTime, 0},
    {"t", &Settings::testArchive, 1},
    {"t+", &Settings::testArchive, 1},
    {"t-", &Settings::testArchive, 0},
    {"md", &Settings::makeDescription, 1},
    {"d", &Settings::updateDescription, 1},
    {"d+", &Settings::updateDescription, 1},
    {"d-", &Settings::updateDescription, 0},
};

// Fixed once here so that the search never depends on the directory it
// happens to be in when it places a new archive.
std::string destinationFrom(std::string_view text) {
  std::string dir(text);
  if (dir.empty()) return dir;
  for (char& c : dir) {
    if (platform::isSeparator(c)) c = platform::kSeparator;
  }
  dir = platform::absolutePath(dir);
  // A root keeps no separator of its own ("/" becomes "", "C:\" becomes
  // "C:"): a target is DEST + separator + name.
  if (!dir.empty() && dir.back() == platform::kSeparator) dir.pop_back();
  return dir;
}

// Error when `name` is neither a switch nor a packer's name; Usage at "?".
ArgumentsResult applySwitch(std::string_view name) {
  for (const Switch& entry : kSwitches) {
    if (!equalsIgnoreCase(name, entry.name)) continue;
    if (!entry.field) return ArgumentsResult::Usage;
    settings.*entry.field = entry.value;
    return ArgumentsResult::Done;
  }
  int packer = findPacker(name);
  if (packer < 0) return ArgumentsResult::Error;
  settings.targetPacker = packer;
  return ArgumentsResult::Done;
}

// The usual requests of a Unix program; only these exact words, so that any
// other name beginning with "-" stays an input name.
ArgumentsResult unixRequest(std::string_view arg) {
  if (arg == "--help" || arg == "-h") return ArgumentsResult::Usage;
  if (arg == "--version") return ArgumentsResult::Version;
  return ArgumentsResult::Done;
}

// An absolute path begins with "/" like a switch; one that names neither a
// switch nor a packer and holds a second "/" is taken as an input name.
ArgumentsResult applySlashArgument(std::string_view arg) {
  const ArgumentsResult result = applySwitch(arg.substr(1));
  if (result != ArgumentsResult::Error || arg.find('/', 1) == std::string_view::npos) {
    return result;
  }
  settings.inputNames.emplace_back(arg);
  return ArgumentsResult::Done;
}

ArgumentsResult applyArgument(std::string_view arg) {
  if (const ArgumentsResult request = unixRequest(arg); request != ArgumentsResult::Done) {
    return request;
  }
  if (startsWithIgnoreCase(arg, "/d:")) {
    settings.destinationDir = destinationFrom(arg.substr(3));
  } else if (!arg.empty() && arg.front() == '/') {
    return applySlashArgument(arg);
  } else if (!arg.empty() && arg.front() == '@') {
    settings.listFiles.emplace_back(arg);
  } else {
    settings.inputNames.emplace_back(arg);
  }
  return ArgumentsResult::Done;
}

}  // namespace

ArgumentsResult applyArguments(int argc, const char* const* argv) {
  if (argc <= 1) return ArgumentsResult::Usage;
  for (int i = 1; i < argc; ++i) {
    ArgumentsResult result = applyArgument(argv[i] ? std::string_view(argv[i]) : "");
    if (result != ArgumentsResult::Done) return result;
  }
  return ArgumentsResult::Done;
}

void parseCommandLine(int argc, const char* const* argv) {
  switch (applyArguments(argc, argv)) {
    case ArgumentsResult::Done:
      return;
    case ArgumentsResult::Usage:
      printUsage();
    case ArgumentsResult::Version:
      printVersion();
    case ArgumentsResult::Error:
      fatalStop("Command line error.");
  }
}

std::string usageText() {
  return "Zelm. Version " ZELM_VERSION
         " - archive converter\n"
         " Report problems to the maintainers of this build.\n"
         "Use:\n"
         " ZELM [ArcName] [Mask] [@FileList] [switches]\n"
         " /packer - name of packer\n"
         " /id     - detect by ID\n"
         " /ext    - detect by Extension\n"
         " /r[-]   - convert archives in subdirectories\n"
         " /k[+]   - keep archive time\n"
         " /t[-]   - test archive\n"
         " /d:[Drive:][Path] - destination directory\n"
         " /md     - make description\n"
         " /d[+]   - update description\n"
         " /?      - brief help\n"
         "\n";
}

std::string versionText() { return "zelm " ZELM_VERSION "\n"; }

void printVersion() {
  consoleMessage("%s", versionText());
  std::fflush(stdout);
  std::exit(0);
}

void printUsage() {
  consoleMessage("%s", usageText());
  std::fflush(stdout);
  std::exit(0);
}
