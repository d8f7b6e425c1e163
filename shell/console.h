// The console as every mode sees it: the input and output streams it was
// given, so tests can drive whole dialogues in process.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <string_view>

#include "buildlist/dir_import.h"
#include "buildlist/read_text.h"
#include "buildlist/warnings.h"
#include "host/status.h"
#include "vp/names.h"

namespace quarrion {

// "<what> <file>: <reason>" for a failure `why` of an operation on `file`,
// naming `file` once; a failure about another file (a source of the archive
// being written, say) names both. Without a file: "<what>: <reason>".
inline std::string Failure(std::string_view what, const std::string& file, const Status& why) {
  std::string text(what);
  if (file.empty()) return text + ": " + why.Message();
  if (why.file == file) return text + " " + why.Message();
  return text + " " + file + ": " + why.Message();
}

// Every text goes out in its printable form (vp/names.h): the names a
// message holds cannot drive the terminal or split the line.
struct Console {
  std::istream& in;
  std::ostream& out;  // messages, prompts and progress lines
  std::ostream& err;  // errors and warnings of this tool's own

  // A message line: the text, a line end, and a flush.
  void Line(std::string_view text = {}) {
    out << Printable(text) << '\n';
    out.flush();
  }
  // A prompt: no line end, flushed so it shows while the program waits.
  void Prompt(std::string_view text) {
    out << Printable(text);
    out.flush();
  }
  // An error line on the error stream, prefixed with the tool's name.
  void Error(std::string_view text) {
    out.flush();
    err << "quarrion: " << Printable(text) << '\n';
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

// Warnings on the console: "quarrion: warning: <text>" on its own line of
// `err`, in its printable form, after `out` is flushed so that both streams
// stay in order.
class ConsoleWarnings : public Warnings {
 public:
  ConsoleWarnings(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}
  explicit ConsoleWarnings(Console& console) : ConsoleWarnings(console.out, console.err) {}

 protected:
  void Tell(std::string_view text) override {
    out_.flush();
    err_ << "quarrion: warning: " << Printable(text) << '\n';
    err_.flush();
  }

 private:
  std::ostream& out_;
  std::ostream& err_;
};

// The folders a directory import walks, on the console: "Adding directory:
// <path>" for each.
class ImportDisplay : public ImportObserver {
 public:
  explicit ImportDisplay(Console& console) : console_(console) {}
  void Folder(std::string_view path) override {
    console_.Line("Adding directory: " + std::string(path));
  }

 private:
  Console& console_;
};

}  // namespace quarrion
