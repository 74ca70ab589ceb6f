// The small file operations a conversion is built from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// The next name of the run-wide work directory sequence: "$TMP$.001" ...
/// "$TMP$.999", "$TMP$.000", ...
std::string nextWorkDirName();

/// Creates a new work directory in `parent` (the current directory when
/// empty), taking names from the sequence until one can be created, for at
/// most 1000 tries. Returns its path (its bare name when `parent` is empty),
/// or "" when none could be created.
std::string createWorkDirectory(const std::string& parent = "");

/// Names in the current directory that fit a find-first pattern: without "*"
/// or "?" the one entry of exactly that name; with them, a case-insensitive
/// match where "*" is any run and "?" any one character, "*" and "?" in names
/// included ("*.*" is every name; "readme.*" does not fit "readme"). "." and
/// ".." are never returned.
std::vector<std::string> findMatching(const std::string& pattern);

/// True when `name` fits the find-first pattern.
bool findPatternMatch(const std::string& name, const std::string& pattern);

/// Deletes what fits `mask` in the current directory; a fitting directory is
/// emptied by the same mask and removed when empty. Links are deleted
/// themselves and never entered, and no tree is too deep. A mask with a
/// directory part does nothing. The current directory stays current.
void deleteMatching(const std::string& mask);

/// Empties the directory `dir` of everything and removes it (a file or a
/// link of that name is deleted), without following links, however deep its
/// tree. Leaves the directory holding `dir` current when `dir` has a
/// directory part.
void removeTree(const std::string& dir);

/// Copies the file `path` into the current directory under its own name.
void copyFileIn(const std::string& path);

/// 1 when a file, directory or link of that name exists, else 0.
int fileExists(const std::string& name);

/// The file's size in bytes, 0 when it cannot be read.
uint64_t fileSize(const std::string& name);

/// Deletes a file; when that fails, clears its read-only state and tries once
/// more. True when the file is gone.
bool removeFile(const std::string& name);
