// One command-line word quoted so that Windows argument splitting gives it back.
#pragma once

#include <string>
#include <string_view>

namespace platform {

/// `word` in double quotes, with backslashes doubled where they precede a
/// quote and quotes escaped, so that the usual Windows command-line split
/// (and splitWords) turns the text back into exactly `word`.
std::string quoteWord(std::string_view word);

}  // namespace platform
