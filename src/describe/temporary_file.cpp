// Temporary text files made exclusively, so they never replace anything.
#include "describe/temporary_file.h"

#include <cstdio>

namespace {

constexpr int kMoreNames = 99;

std::string numberedName(const std::string& firstName, int number) {
  char digits[3];
  std::snprintf(digits, sizeof digits, "%02d", number);
  const size_t keep = firstName.size() >= 2 ? firstName.size() - 2 : 0;
  return firstName.substr(0, keep) + digits;
}

}  // namespace

std::string createTemporary(platform::TextWriter& out, const std::string& firstName) {
  for (int number = 0; number <= kMoreNames; ++number) {
    const std::string name = number == 0 ? firstName : numberedName(firstName, number);
    if (out.open(name, platform::TextWriter::Mode::CreateNew)) return name;
    // Only a name that is taken is worth another try; a full disk or a
    // directory that refuses new files refuses every name.
    if (!platform::fileStatus(name, false)) return "";
  }
  return "";
}
