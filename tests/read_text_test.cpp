#include "buildlist/read_text.h"

#include <gtest/gtest.h>

#include <sstream>

namespace quarrion {
namespace {

TEST(ReadTextTest, WordThenLineDropsOneCarriageReturnAndNeverCuts) {
  const std::string big(100000, 'x');
  std::istringstream in("im c:\\games\\x data\r\n\r\r\n" + big + " " + big + "\nlast\r");
  std::string word, line;
  ReadWord(in, word);
  EXPECT_EQ(word, "im");
  ReadLine(in, line);
  EXPECT_EQ(line, " c:\\games\\x data");
  ReadLine(in, line);
  EXPECT_EQ(line, "\r");  // only the one before the line feed
  ReadWord(in, word);
  EXPECT_EQ(word, big);
  ReadLine(in, line);
  EXPECT_EQ(line, " " + big);
  ASSERT_FALSE(in.fail());
  // A last line without a line feed is read but leaves the stream failed.
  ReadLine(in, line);
  EXPECT_EQ(line, "last");
  EXPECT_TRUE(in.fail());
}

TEST(ReadTextTest, EndOfInputFailsAndEmpties) {
  std::istringstream blanks("  \n\t ");
  std::string word = "old";
  ReadWord(blanks, word);
  EXPECT_EQ(word, "");
  EXPECT_TRUE(blanks.fail());

  std::istringstream empty("");
  std::string line = "old";
  ReadLine(empty, line);
  EXPECT_EQ(line, "");
  EXPECT_TRUE(empty.fail());
}

}  // namespace
}  // namespace quarrion
