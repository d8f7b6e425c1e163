// The two ways of reading text, from the console and from list files alike.
#pragma once

#include <istream>
#include <string>

namespace quarrion {

// Replaces `line` with the next line of `in`: everything up to the line feed,
// which is consumed and not kept, with one carriage return directly before it
// dropped. The last line of the input needs no line feed; only when nothing
// is left is the line empty and the stream failed. No length limit.
void ReadLine(std::istream& in, std::string& line);

// Replaces `word` with the next whitespace-delimited word of `in`; the
// whitespace after it stays unread. At the end of input the word is empty and
// the stream failed. No length limit.
std::istream& ReadWord(std::istream& in, std::string& word);

}  // namespace quarrion
