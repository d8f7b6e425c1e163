// The command line and the standard streams as the program takes them: text
// in UTF-8 on every host, the form of every path and name inside it.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace quarrion::host {

// The arguments after the program name, in UTF-8. Windows hands them to
// wmain in UTF-16, split by the C runtime as it splits them for main.
#if defined(_WIN32)
std::vector<std::string> Arguments(int argc, wchar_t** argv);
#else
std::vector<std::string> Arguments(int argc, char** argv);
#endif

// While it lives, std::cin, std::cout and std::cerr carry UTF-8 text. On
// POSIX they do already. On Windows a stream that is a console is written
// with WriteConsoleW, so that names show in their own characters whatever
// the console's code page (bytes that are not UTF-8, such as names in
// archives written by earlier versions, are shown as text in the ANSI code
// page), and read with ReadConsoleW, so that what is typed arrives in UTF-8
// (line ends as LF, and a line that begins with Ctrl-Z ending the input, as
// the C runtime reads a console). A stream redirected to a file or pipe
// carries the program's bytes as before. Made once, by main, after std::ios::sync_with_stdio and
// before anything is read or written.
class Utf8Console {
 public:
  Utf8Console();
  ~Utf8Console();
  Utf8Console(const Utf8Console&) = delete;
  Utf8Console& operator=(const Utf8Console&) = delete;

 private:
  struct Streams;
  std::unique_ptr<Streams> streams_;
};

}  // namespace quarrion::host
