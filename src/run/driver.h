// The spine of one run: start-up checks, the search and scan loops, close-out.
#pragma once

#include <optional>
#include <string>

/// The target packer's located pack and test programs, fixed at start-up.
extern std::string packProgram;
extern std::string packArgs;
extern std::optional<std::string> testProgram;
extern std::string testArgs;

/// Runs the program; returns the process exit code.
int runDriver(int argc, const char* const* argv);

/// When a stop signal has arrived: logs "Interrupted.", closes the run as
/// usual (start directory, footer, report) and ends the process with exit
/// code 128 + the signal. Returns at once otherwise. Called between archives,
/// where nothing of a conversion is left on disk.
void stopIfInterrupted();
