// Result files replace their name only when complete, on real faults: a
// device that is always full, a missing directory, an unfinished write.
#include <fcntl.h>
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

TEST(AtomicFile, APipeAndDevNullTakeTheDataInPlaceAndStayWhatTheyAre) {
  tarntest::TempDir dir;
  const std::string fifo = dir.path() + "/spectra.csv";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  // The reader is there first, as a consumer of the results would be; the
  // text is smaller than the pipe's buffer, so it is read once written.
  const int readFd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(readFd, 0);
  AtomicFile out(fifo);
  ASSERT_TRUE(out.open()) << out.error();
  std::fputs("bin,count\n1,2\n", out.stream());
  EXPECT_TRUE(out.commit()) << out.error();
  std::string received;
  char buf[256];
  for (ssize_t n; (n = ::read(readFd, buf, sizeof buf)) > 0;) received.append(buf, static_cast<size_t>(n));
  ::close(readFd);
  EXPECT_EQ(received, "bin,count\n1,2\n");
  struct stat st;
  ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(namesIn(dir.path()).size(), 1u);

  AtomicFile none("/dev/null");
  ASSERT_TRUE(none.open()) << none.error();
  std::fputs("nothing\n", none.stream());
  EXPECT_TRUE(none.commit()) << none.error();
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

}  // namespace
