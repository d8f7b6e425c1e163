// The console as every mode sees it: the input and output streams it was
// given, so tests can drive whole dialogues in process.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <string_view>

#include "buildlist/read_text.h"

namespace quarrion {

struct Console {
  std::istream& in;
  std::ostream& out;   // messages, prompts and progress lines
  std::ostream& err;   // errors and warnings of this tool's own

  // A message line: the text, a line end, and a flush.
  void Line(std::string_view text = {}) {
    out << text << '\n';
    out.flush();
  }
  // A prompt: no line end, flushed so it shows while the program waits.
  void Prompt(std::string_view text) {
    out << text;
    out.flush();
  }
  // An error or warning line on the error stream, prefixed with the tool's name.
  void Error(std::string_view text) {
    out.flush();
    err << "quarrion: " << text << '\n';
    err.flush();
  }
  // Reads flush the output first, so a prompt is visible while waiting.
  std::istream& Word(std::string& word) {
    out.flush();
    return ReadWord(in, word);
  }
  std::istream& Lines(std::string& line) {
    out.flush();
    ReadLine(in, line);
    return in;
  }
};

}  // namespace quarrion
