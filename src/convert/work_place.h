// Where an archive's work directory is made, how the archive is named from
// inside it, and the way back: beside the archive, or below WorkDir.
#pragma once

#include <string>

/// A work directory made for one archive, and the way back to the archive.
struct WorkPlace {
  std::string dir;         // a bare name beside the archive, or a path below WorkDir
  std::string archiveDir;  // absolute; empty when ".." leads back
};

/// Makes a new work directory for an archive of the current directory
/// (beside it, or below WorkDir when that is set) and enters it. False when
/// none could be made or entered; nothing is left behind then and the
/// current directory is unchanged.
bool enterWorkPlace(WorkPlace& place);

/// Returns to the archive's directory and removes the work directory with
/// everything in it.
void leaveWorkPlace(const WorkPlace& place);

/// The directory of the archives (the current directory) as a program
/// running in the work directory reaches it: "..", or its absolute path with
/// WorkDir. Call it before entering.
std::string archiveDirFromWork();

/// The file `name` of the current directory as seen from the work
/// directory: archiveDirFromWork() + "/" + name.
std::string archiveFromWork(const std::string& name);
