// Turning the program's arguments into settings.
#pragma once

#include <string>

/// Applies the arguments (argv[0] is not examined) to `settings`, left to
/// right. Prints the usage text and exits 0 when there is no argument or at
/// "/?", "--help" or "-h"; prints the version and exits 0 at "--version";
/// prints "Command line error." and exits 1 at an unknown switch. An
/// argument that begins with "/", names no switch or packer and holds a
/// second "/" is an input name (an absolute path).
/// A destination ("/d:DIR") is stored absolute and normalised against the
/// current directory at the time of the call, one trailing "/" or "\" of the
/// argument dropped first; "/d:" and "/d:/" store the empty destination,
/// which names the root.
void parseCommandLine(int argc, const char* const* argv);

/// Writes the usage text to the console and ends the process with code 0.
[[noreturn]] void printUsage();

/// Writes the version line to the console and ends the process with code 0.
[[noreturn]] void printVersion();

/// How applying the arguments ended.
enum class ArgumentsResult {
  Done,     // every argument applied
  Usage,    // no argument, or "/?", "--help" or "-h" reached: the usage text is due
  Version,  // "--version" reached
  Error     // an argument is neither switch, packer name nor destination
};

/// The parse of parseCommandLine without ending the process: applies the
/// arguments to `settings` up to the first one that asks for the usage text
/// or is an error, and says which it was. Arguments after that one are not
/// looked at.
ArgumentsResult applyArguments(int argc, const char* const* argv);

/// The usage text, exactly as printUsage writes it; it ends with an empty
/// line.
std::string usageText();

/// The version line, "zelm " and the version number.
std::string versionText();
