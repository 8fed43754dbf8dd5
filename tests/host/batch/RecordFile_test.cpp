// The records' reader refuses a file far larger than any record before its
// parser sees it (a file of '[' took gigabytes of memory), and names the file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "RecordFile.h"
#include "TarnTest.h"

TEST(RecordFile, AnOverSizeRecordIsNamedAsDamagedWithoutBeingParsed) {
  tarntest::TempDir dir;
  const std::string big = dir.path() + "/status.json";
  std::ofstream(big) << std::string(kRecordLimit + 1, '[');
  std::string damage;
  EXPECT_TRUE(readRecordFile(big, damage).is_discarded());
  EXPECT_EQ(damage, big + ": larger than the 4 MiB a record may hold; read as damaged");

  dir.write("small.json", "{\"state\": \"done\"}");
  EXPECT_EQ(readRecordFile(dir.path() + "/small.json", damage)["state"], "done");
  EXPECT_EQ(damage, "");
  EXPECT_TRUE(readRecordFile(dir.path() + "/none.json", damage).is_null());
  EXPECT_EQ(damage, "");
  // A FIFO at a record's name is refused at once, not waited on.
  ASSERT_EQ(::mkfifo((dir.path() + "/fifo.json").c_str(), 0600), 0);
  EXPECT_TRUE(readRecordFile(dir.path() + "/fifo.json", damage).is_discarded());
  EXPECT_EQ(damage, dir.path() + "/fifo.json: not a regular file");
}
