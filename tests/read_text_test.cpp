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
  ReadLine(in, line);
  EXPECT_EQ(word + "|" + line, "im| c:\\games\\x data");
  ReadLine(in, line);
  EXPECT_EQ(line, "\r");  // only the one before the line feed
  ReadWord(in, word);
  ReadLine(in, line);
  EXPECT_EQ(word + "|" + line, big + "| " + big);
  ASSERT_FALSE(in.fail());
  // A last line without a line feed is read but leaves the stream failed.
  ReadLine(in, line);
  EXPECT_EQ(line, "last");
  EXPECT_TRUE(in.fail());
  // Blanks up to the end of input give no word, and clear the old one.
  std::istringstream blanks("  \n\t ");
  word = "old";
  EXPECT_FALSE(ReadWord(blanks, word));
  EXPECT_EQ(word, "");
}

}  // namespace
}  // namespace quarrion
