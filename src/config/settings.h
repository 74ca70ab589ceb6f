// The one record of everything a run is told, and the table of packers.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

constexpr int kMaxPackers = 64;
constexpr int kMaxListEntries = 64;  // Del, Add and Exec lists
constexpr int kMaxSignatureBytes = 16;

/// One packer: its signature and its command templates.
struct PackerDef {
  int sigOffset = 0;
  int sigLength = 0;  // 0: no signature
  std::array<unsigned char, kMaxSignatureBytes> sigBytes{};
  std::optional<std::string> ext;  // name, and extension of its archives
  std::optional<std::string> pack;
  std::optional<std::string> unpack;
  std::optional<std::string> test;
  std::optional<std::string> append;
};

struct Settings {
  std::vector<std::string> inputNames;  // not capped: a shell may expand *.zip
  std::vector<std::string> listFiles;   // stored whole, "@" included
  int recurse = 0;
  int keepTime = 0;
  int testArchive = 0;
  int targetPacker = -1;
  int breakOnError = 0;
  int detectById = 0;
  int logEnabled = 0;
  int skipExisting = 0;
  int keepSource = 0;
  int updateDescription = 0;
  int fileIdDizMode = 0;
  int makeDescription = 0;
  std::optional<std::string> destinationDir;
  std::vector<PackerDef> packers;
  std::vector<std::string> delList;
  std::vector<std::string> addList;
  std::vector<std::string> execList;
  std::vector<std::string> descFiles;
  std::vector<std::string> fileOrder;
  std::string logPath;

  // For installs, scripts and read-only collections. Without these keys the
  // work directories lie beside the archives, the log beside the executable,
  // and a complete run exits with 0.
  int errorExit = 0;                   // ErrorExit Yes: exit code 2 when an archive failed
  std::optional<std::string> workDir;  // WorkDir: work directories are made below it
  std::optional<std::string> logFile;  // LogFile: the log's path, relative to the start
  int verify = 0;          // unpack every new archive again and compare
  int timeoutSeconds = 0;  // time limit of every external program; 0: none
};

/// The run's settings: filled at start-up, read-only afterwards.
extern Settings settings;

/// Index of the first packer whose ext equals `name` ignoring the case of
/// a-z; -1 when none. A packer without an ext is never found.
int findPacker(std::string_view name);

/// True when the two texts are equal with a-z compared as A-Z.
bool equalsIgnoreCase(std::string_view a, std::string_view b);

/// True when `text` begins with `prefix`, a-z compared as A-Z.
bool startsWithIgnoreCase(std::string_view text, std::string_view prefix);

/// The byte with a-z turned into A-Z.
inline char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }
