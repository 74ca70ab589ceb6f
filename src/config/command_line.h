// Turning the program's arguments into settings.
#pragma once

/// Applies the arguments (argv[0] is not examined) to `settings`, left to
/// right. Prints the usage text and exits 0 when there is no argument or at
/// "/?"; prints "Command line error." and exits 1 at an unknown switch.
void parseCommandLine(int argc, const char* const* argv);

/// Writes the usage text to the console and ends the process with code 0.
[[noreturn]] void printUsage();
