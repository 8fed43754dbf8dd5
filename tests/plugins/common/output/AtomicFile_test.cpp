// Result files replace their name only when complete, on real faults: a
// device that is always full, a missing directory, an unfinished write.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "AtomicFile.h"
#include "TarnTest.h"

namespace {

using tarntest::contentOf;
using tarntest::namesIn;

TEST(AtomicFile, ReplacesTheOldFileOnlyOnCommitAndKeepsItsModeAndLinks) {
  tarntest::TempDir dir;
  const std::string path = dir.write("r.csv", "old\n");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  const std::string link = dir.path() + "/latest.csv";
  ASSERT_EQ(::symlink("r.csv", link.c_str()), 0);
  {
    AtomicFile f(link);
    ASSERT_TRUE(f.open()) << f.error();
    std::fputs("new\n", f.stream());
    std::fflush(f.stream());
    EXPECT_EQ(contentOf(path), "old\n");  // written, not yet in place
    EXPECT_EQ(namesIn(dir.path()).size(), 3u);
    ASSERT_TRUE(f.commit()) << f.error();
  }
  EXPECT_EQ(contentOf(path), "new\n");
  struct stat st;
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));  // the link still points at the replaced file
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  {
    AtomicFile unfinished(path);  // dropped without commit, as by a failing writer
    ASSERT_TRUE(unfinished.open());
    std::fputs("half", unfinished.stream());
  }
  EXPECT_EQ(contentOf(path), "new\n");
  EXPECT_EQ(namesIn(dir.path()).size(), 2u);  // no temporary file left
}

TEST(AtomicFile, FailuresNameThePathAndTheSystemsReason) {
  AtomicFile full("/dev/full");  // written in place: a device is never renamed over
  ASSERT_TRUE(full.open()) << full.error();
  for (int k = 0; k < 10000; ++k) std::fputs("0123456789", full.stream());
  EXPECT_FALSE(full.commit());
  EXPECT_EQ(full.error(), "/dev/full: No space left on device");
  EXPECT_EQ(full.writeError(), ENOSPC);
  struct stat st;
  ASSERT_EQ(::stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));

  tarntest::TempDir dir;
  AtomicFile missing(dir.path() + "/no/such/r.csv");
  EXPECT_FALSE(missing.open());
  EXPECT_EQ(missing.stream(), nullptr);
  EXPECT_FALSE(missing.commit());
  EXPECT_EQ(missing.error(), dir.path() + "/no/such/r.csv: No such file or directory");

  const std::string path = dir.write("r.csv", "old\n");
  AtomicFile refused(path);
  ASSERT_TRUE(refused.open());
  std::fputs("new\n", refused.stream());
  refused.fail(EIO);  // the writer's own finding
  EXPECT_FALSE(refused.commit());
  EXPECT_EQ(refused.error(), path + ": Input/output error");
  EXPECT_EQ(contentOf(path), "old\n");
  EXPECT_EQ(namesIn(dir.path()).size(), 1u);
}

}  // namespace
