#include <gtest/gtest.h>

#include <sstream>

#include "buildlist/read_text.h"

namespace quarrion {
namespace {

TEST(ReadTextTest, WordThenLineOnOneLineGivesTheRestOfThatLine) {
  std::istringstream in("im c:\\games\\x data\nnext\n");
  std::string word, line;
  ReadWord(in, word);
  EXPECT_EQ(word, "im");
  ReadLine(in, line);
  EXPECT_EQ(line, " c:\\games\\x data");
  ReadWord(in, word);
  ReadLine(in, line);
  EXPECT_EQ(word, "next");
  EXPECT_EQ(line, "");
  EXPECT_TRUE(in.good() || in.eof());
}

TEST(ReadTextTest, CarriageReturnBeforeLineFeedIsDroppedOnceOnly) {
  std::istringstream in("a b \r\n\r\r\nlast\r");
  std::string line;
  ReadLine(in, line);
  EXPECT_EQ(line, "a b ");
  ReadLine(in, line);
  EXPECT_EQ(line, "\r");
  ASSERT_FALSE(in.fail());
  // A last line without a line feed is read but leaves the stream failed.
  ReadLine(in, line);
  EXPECT_EQ(line, "last");
  EXPECT_TRUE(in.fail());
}

TEST(ReadTextTest, EndOfInputFailsAndEmpties) {
  std::istringstream in("  \n\t ");
  std::string word = "old";
  ReadWord(in, word);
  EXPECT_EQ(word, "");
  EXPECT_TRUE(in.fail());

  std::istringstream empty("");
  std::string line = "old";
  ReadLine(empty, line);
  EXPECT_EQ(line, "");
  EXPECT_TRUE(empty.fail());
}

TEST(ReadTextTest, LongLinesAndWordsAreNeverCut) {
  std::string big(100000, 'x');
  std::istringstream in(big + " " + big + "\n");
  std::string word, line;
  ReadWord(in, word);
  EXPECT_EQ(word.size(), big.size());
  ReadLine(in, line);
  EXPECT_EQ(line.size(), big.size() + 1);
}

}  // namespace
}  // namespace quarrion
