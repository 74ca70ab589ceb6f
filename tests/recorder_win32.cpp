// The recorder's operating-system needs on Windows.
#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "recorder_os.h"

namespace fs = std::filesystem;

// The recorder sees its arguments exactly as the command line gives them.
extern "C" {
int _dowildcard = 0;
}

namespace recorder {

std::string roleOf(const std::string& argv0) {
  const fs::path name = fs::path(argv0).filename();
  std::string extension = name.extension().string();
  for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".exe" || extension == ".com" ? name.stem().string() : name.string();
}

std::string ownDirectory() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length == sizeof path) return "";
  return fs::path(std::string(path, length)).parent_path().string();
}

std::string rawCommandLine() { return GetCommandLineA(); }

// Ends with the exit code an access violation gives, without the fault
// itself, about which wine would talk on the shared console.
void crash(int) { ExitProcess(EXCEPTION_ACCESS_VIOLATION); }

void sleepSeconds(unsigned seconds) { ::Sleep(seconds * 1000); }

void startSleeper(unsigned seconds) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length == sizeof path) return;
  std::string line =
      "\"" + std::string(path, length) + "\" " + kSleeperSwitch + " " + std::to_string(seconds);
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

void appendWhole(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace recorder
