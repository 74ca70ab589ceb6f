// The walk's way down: held directory handles, reopened by name and identity
// where too many levels would hold too many handles.
#include "search/directory_trail.h"

namespace {
constexpr size_t kSpan = 16;
}

bool keepsHandle(size_t level, size_t depth) {
  if (level == 0) return true;
  for (size_t unit = 1; level % unit == 0; unit *= kSpan) {
    if (depth - level < unit * kSpan) return true;
  }
  return false;
}

DirectoryTrail::DirectoryTrail(const platform::DirectoryHandle& start) : start_(start) {
  levels_.push_back(Level{"", start.id(), {}});
}

const platform::DirectoryHandle& DirectoryTrail::handleAt(size_t level) const {
  return level == 0 ? start_ : levels_[level].handle;
}

bool DirectoryTrail::descend(platform::DirectoryHandle child, const std::string& name) {
  if (!child.makeCurrent()) return false;
  const platform::FileId id = child.id();
  levels_.push_back(Level{name, id, std::move(child)});
  releaseDistantHandles();
  return true;
}

// One level deeper, the levels that just fell out of their span let go.
void DirectoryTrail::releaseDistantHandles() {
  const size_t now = depth();
  for (size_t distance = kSpan; distance <= now; distance *= kSpan) {
    const size_t level = now - distance;
    if (level > 0 && !keepsHandle(level, now)) levels_[level].handle.close();
  }
}

bool DirectoryTrail::ascend() {
  if (depth() == 0) return false;
  levels_.pop_back();
  if (!handleAt(depth()).isOpen() && !reopen(depth())) return false;
  return returnHere();
}

bool DirectoryTrail::returnHere() const { return handleAt(depth()).makeCurrent(); }

// Opens the levels down to `level` again from the nearest held one above,
// each by its name, and accepts only the very directories that were entered.
bool DirectoryTrail::reopen(size_t level) {
  size_t held = level;
  while (!handleAt(held).isOpen()) --held;
  platform::DirectoryHandle passing;
  const platform::DirectoryHandle* parent = &handleAt(held);
  for (size_t next = held + 1; next <= level; ++next) {
    platform::DirectoryHandle handle;
    if (!handle.openChild(*parent, levels_[next].name) || !(handle.id() == levels_[next].id)) {
      return false;
    }
    if (keepsHandle(next, level)) {
      levels_[next].handle = std::move(handle);
      parent = &levels_[next].handle;
    } else {
      passing = std::move(handle);
      parent = &passing;
    }
  }
  return true;
}
