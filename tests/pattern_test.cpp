#include "buildlist/pattern.h"

#include <gtest/gtest.h>

namespace quarrion {
namespace {

using Separators = Pattern::Separators;

bool Match(std::string_view pattern, std::string_view subject,
           Separators separators = Separators::kNotMatched) {
  Pattern p;
  EXPECT_TRUE(Pattern::Compile(pattern, separators, &p).ok()) << pattern;
  return p.Matches(subject);
}

TEST(PatternTest, WildcardsSetsAndLetterCase) {
  EXPECT_TRUE(Match("*.bak", "ships.tbl.BAK"));
  EXPECT_FALSE(Match("*.bak", "ships.bak.tbl"));
  EXPECT_TRUE(Match("Thumbs.db", "thumbs.DB"));
  EXPECT_TRUE(Match("?.pof", "a.pof"));
  EXPECT_FALSE(Match("?.pof", "ab.pof"));
  EXPECT_TRUE(Match("*a*b*c", "xxaxxbxxbxxc"));
  EXPECT_FALSE(Match("*a*b*c", "xxaxxbxxbxx"));
  EXPECT_TRUE(Match("[a-c]*", "Boat"));
  EXPECT_FALSE(Match("[!a-c]*", "boat"));
  EXPECT_TRUE(Match("[^a-c]*", "dock"));
  EXPECT_TRUE(Match("[]x]", "]"));
  EXPECT_TRUE(Match("**", ""));
  EXPECT_FALSE(Match("x", ""));
}

TEST(PatternTest, BackslashesAreCrossedOnlyWhereAsked) {
  EXPECT_TRUE(Match("maps\\old\\*", "maps\\old\\a.map"));
  EXPECT_FALSE(Match("maps\\*", "maps\\old\\a.map"));
  EXPECT_FALSE(Match("maps?old", "maps\\old"));
  EXPECT_TRUE(Match("data\\*.pof", "data\\models\\heron.pof", Separators::kMatched));
  EXPECT_TRUE(Match("*heron*", "data\\models\\heron.pof", Separators::kMatched));
  Pattern p;
  ASSERT_TRUE(Pattern::Compile("maps\\*", Separators::kNotMatched, &p).ok());
  EXPECT_TRUE(p.HasSeparator());
}

TEST(PatternTest, MalformedPatternsAreRefusedNamingThem) {
  Pattern p;
  Status s = Pattern::Compile("*.[ch", Separators::kNotMatched, &p);
  EXPECT_EQ(s.code, Code::kBadPattern);
  EXPECT_NE(s.Message().find("\"*.[ch\""), std::string::npos) << s.Message();
  EXPECT_EQ(Pattern::Compile("", Separators::kNotMatched, &p).code, Code::kBadPattern);
}

}  // namespace
}  // namespace quarrion
