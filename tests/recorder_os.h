// What the recorder needs from its operating system, one file per platform.
#pragma once

#include <string>

namespace recorder {

/// The role a program plays, from its argv[0]: the base name, without the
/// extension where programs carry one (Windows: "ypk.EXE" plays "ypk").
std::string roleOf(const std::string& argv0);

/// The directory of the recorder's own binary, "" when unknown.
std::string ownDirectory();

/// The command line exactly as the program got it where programs get one
/// line (Windows); "" where they get an argument vector.
std::string rawCommandLine();

/// Ends the program the way a crash does: by the signal `number` on POSIX,
/// with the exit code of an access violation (0xC0000005) on Windows.
[[noreturn]] void crash(int number);

/// Sleeps for `seconds` seconds.
void sleepSeconds(unsigned seconds);

/// The first argument that makes the recorder a sleeper started by
/// startSleeper: it sleeps the seconds of the second argument and records nothing.
inline constexpr const char* kSleeperSwitch = "--recorder-sleeper";

/// Starts a second process, holding this one's standard handles, that only
/// sleeps `seconds` seconds; it is not waited for. Nothing happens on failure.
void startSleeper(unsigned seconds);

/// Appends `bytes` to the file at `path` (created when missing) in one write,
/// so that records of concurrent runs never interleave.
void appendWhole(const std::string& path, const std::string& bytes);

}  // namespace recorder
