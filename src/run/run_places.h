// The places a run writes to, made ready at start-up: the destination, the
// directory that holds the work directories, and the log.
#pragma once

/// Creates the "/d:" destination with its missing parents when it does not
/// exist. Ends the run with a message naming it (exit code 1) when it exists
/// but is not a directory, or cannot be made.
void prepareDestination();

/// Makes WorkDir absolute against the current directory and makes sure work
/// directories can be made below it. Ends the run with a message naming it
/// when it does not exist, is not a directory, or is not writable. Does
/// nothing without WorkDir.
void prepareWorkDir();

/// With logging on, opens the log: at LogFile (made absolute against the
/// current directory) when given, else at settings.logPath. A LogFile whose
/// directory does not exist, that names a directory, or that cannot be opened
/// for appending ends the run with a message naming it; the default log that
/// cannot be opened leaves the run without a log.
void openRunLog();
