// The recorder's operating-system needs on POSIX.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "recorder_os.h"

namespace fs = std::filesystem;

namespace recorder {

std::string roleOf(const std::string& argv0) { return fs::path(argv0).filename().string(); }

std::string ownDirectory() {
  std::error_code error;
  return fs::read_symlink("/proc/self/exe", error).parent_path().string();
}

std::string rawCommandLine() { return ""; }

void crash(int number) {
  std::signal(number, SIG_DFL);
  std::raise(number);
  std::abort();
}

void sleepSeconds(unsigned seconds) { ::sleep(seconds); }

void startSleeper(unsigned seconds) {
  if (::fork() != 0) return;
  ::sleep(seconds);
  ::_exit(0);
}

void appendWhole(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) return;
  if (::write(fd, bytes.data(), bytes.size()) < 0) std::perror("recorder");
  ::close(fd);
}

}  // namespace recorder
