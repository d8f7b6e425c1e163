#include "base/pattern.h"

#include <algorithm>

namespace quarrion {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// A slash in a pattern stands for the backslash between folders: on most
// hosts that is what a user types between them.
char AsSeparator(char c) { return c == '/' ? '\\' : c; }

bool InRange(char c, std::pair<char, char> range) {
  const auto u = static_cast<unsigned char>(c);
  return u >= static_cast<unsigned char>(range.first) &&
         u <= static_cast<unsigned char>(range.second);
}

}  // namespace

Status Pattern::Compile(std::string_view text, Separators separators, Pattern* out) {
  Pattern p;
  p.text_ = std::string(text);
  p.crossesSeparators_ = separators == Separators::kMatched;
  p.hasSeparator_ = text.find_first_of("\\/") != std::string_view::npos;
  if (text.empty()) return Status::Error(Code::kBadPattern, "", "the pattern \"\" is empty");
  for (std::size_t i = 0; i < text.size(); ++i) {
    Token t;
    const char c = text[i];
    if (c == '*') {
      t.kind = Token::Kind::kAnyRun;
      // Runs of stars match what one star matches.
      if (!p.tokens_.empty() && p.tokens_.back().kind == Token::Kind::kAnyRun) continue;
    } else if (c == '?') {
      t.kind = Token::Kind::kAnyOne;
    } else if (c == '[') {
      t.kind = Token::Kind::kSet;
      std::size_t j = i + 1;
      if (j < text.size() && (text[j] == '!' || text[j] == '^')) {
        t.negated = true;
        ++j;
      }
      // A ']' right after the opening (and its negation) is a member.
      const std::size_t first = j;
      for (; j < text.size() && (text[j] != ']' || j == first); ++j) {
        if (j + 2 < text.size() && text[j + 1] == '-' && text[j + 2] != ']') {
          t.ranges.emplace_back(text[j], text[j + 2]);
          j += 2;
        } else {
          t.ranges.emplace_back(AsSeparator(text[j]), AsSeparator(text[j]));
        }
      }
      if (j >= text.size()) {
        return Status::Error(
            Code::kBadPattern, "",
            "the pattern \"" + std::string(text) + "\" has a [ that is not closed");
      }
      i = j;
    } else {
      t.literal = Lower(AsSeparator(c));
    }
    p.tokens_.push_back(std::move(t));
  }
  *out = std::move(p);
  return Status::Ok();
}

bool Pattern::MatchOne(const Token& token, char c) const {
  if (c == '\\' && !crossesSeparators_ && token.kind != Token::Kind::kLiteral) return false;
  switch (token.kind) {
    case Token::Kind::kLiteral:
      return token.literal == Lower(c);
    case Token::Kind::kAnyOne:
    case Token::Kind::kAnyRun:
      return true;
    case Token::Kind::kSet: {
      const bool in = std::any_of(token.ranges.begin(), token.ranges.end(), [c](auto range) {
        return InRange(c, range) || InRange(Lower(c), range) || InRange(Upper(c), range);
      });
      return in != token.negated;
    }
  }
  return false;
}

// Matches from left to right; on a mismatch the last star seen takes one
// more character and the match goes on after it. An earlier star never has
// to be revisited: whatever it could take more, the later one can take too.
bool Pattern::Matches(std::string_view s) const {
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t p = 0, i = 0, star = kNone, starAt = 0;
  while (i < s.size()) {
    if (p < tokens_.size() && tokens_[p].kind == Token::Kind::kAnyRun) {
      star = p++;
      starAt = i;
    } else if (p < tokens_.size() && MatchOne(tokens_[p], s[i])) {
      ++p;
      ++i;
    } else if (star != kNone && MatchOne(tokens_[star], s[starAt])) {
      p = star + 1;
      i = ++starAt;
    } else {
      return false;
    }
  }
  while (p < tokens_.size() && tokens_[p].kind == Token::Kind::kAnyRun) ++p;
  return p == tokens_.size();
}

}  // namespace quarrion
