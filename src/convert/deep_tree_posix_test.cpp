// Unit tests of the clean-up and the snapshot over trees deeper than any
// path: neither may need a stack that grows with the tree.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "convert/round_trip.h"
#include "convert/work_files.h"
#include "scratch_dir.h"

namespace {

// A chain of `depth` directories named "d" below `top`, a file "leaf" at its
// bottom, built one level at a time since its paths are longer than the
// system takes. Whatever a failed test leaves of it goes with the object.
class DeepChain {
 public:
  DeepChain(const std::string& top, int depth) : top_(top) {
    const int start = ::open(".", O_RDONLY | O_DIRECTORY);
    EXPECT_EQ(::chdir(top.c_str()), 0);
    for (int level = 0; level < depth; ++level) {
      if (::mkdir("d", 0755) != 0 || ::chdir("d") != 0) ADD_FAILURE() << "level " << level;
    }
    ::close(::open("leaf", O_WRONLY | O_CREAT, 0644));
    EXPECT_EQ(::fchdir(start), 0);
    ::close(start);
  }
  ~DeepChain() {
    const int start = ::open(".", O_RDONLY | O_DIRECTORY);
    if (::chdir(top_.c_str()) == 0) {
      int depth = 0;
      while (::chdir("d") == 0) ++depth;
      ::unlink("leaf");
      for (; depth > 0 && ::chdir("..") == 0; --depth) ::rmdir("d");
    }
    ::fchdir(start);
    ::close(start);
  }

 private:
  std::string top_;
};

// Runs `task` on a thread whose stack is far smaller than a recursive walk
// of the test trees would need.
void onSmallStack(const std::function<void()>& task) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 256 * 1024);
  pthread_t thread;
  const auto body = [](void* argument) -> void* {
    (*static_cast<const std::function<void()>*>(argument))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, body, const_cast<std::function<void()>*>(&task)),
            0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

// Memory holds such a tree far faster than a journalled disk removes it.
std::string deepTreeHome(const ScratchDir& scratch) {
  char pattern[] = "/dev/shm/zelm-deep-XXXXXX";
  return ::mkdtemp(pattern) ? pattern : scratch.path().string();
}

TEST(DeepTree, RemoveTreeTakesAThirtyThousandLevelTree) {
  ScratchDir scratch("deep");
  const std::string home = deepTreeHome(scratch);
  ASSERT_EQ(::mkdir((home + "/work").c_str(), 0755), 0);
  {
    const DeepChain chain(home + "/work", 30000);
    ASSERT_EQ(::chdir(home.c_str()), 0);
    onSmallStack([] { removeTree("work"); });
    EXPECT_FALSE(std::filesystem::exists(home + "/work"));
    EXPECT_EQ(std::filesystem::current_path(), home);
  }
  ::chdir(scratch.path().c_str());
  std::filesystem::remove_all(home + "/work");
  if (home != scratch.path().string()) ::rmdir(home.c_str());
}

TEST(DeepTree, ASnapshotRecordsEveryLevelOfADeepTree) {
  ScratchDir scratch("deep-snapshot");
  const DeepChain chain(scratch.path().string(), 3000);
  Snapshot snapshot;
  std::string problem = "not taken";
  onSmallStack([&] { problem = takeSnapshot(snapshot); });
  EXPECT_EQ(problem, "");
  ASSERT_EQ(snapshot.entries.size(), 3001u);
  EXPECT_EQ(snapshot.entries.back().kind, platform::EntryKind::File);
  EXPECT_EQ(snapshot.entries.back().name.size(), 3000u * 2 + 4);
  EXPECT_EQ(std::filesystem::current_path(), scratch.path());
}

}  // namespace
