// The command line and the standard streams on Windows. The arguments come
// in UTF-16 through wmain. A console is written and read in UTF-16
// (WriteConsoleW, ReadConsoleW), the only way every character shows and
// arrives on every Windows version whatever the console's code page; a
// stream that is a file or pipe keeps the C runtime's bytes.
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <iostream>
#include <memory>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "host/console.h"
#include "host/windows_io.h"

namespace quarrion::host {
namespace {

using windows::Utf8;
using windows::Wide;

// The standard handle `which` when it is a console, else null.
HANDLE ConsoleHandle(DWORD which) {
  HANDLE h = ::GetStdHandle(which);
  DWORD mode = 0;
  if (h == nullptr || h == INVALID_HANDLE_VALUE || !::GetConsoleMode(h, &mode)) return nullptr;
  return h;
}

// Output to a console: UTF-8 gathered and written as UTF-16 (bytes that are
// not UTF-8 as text in the ANSI code page, as Wide reads them). A sequence
// cut by a full buffer waits for the rest; a flush writes everything.
class ConsoleOutput : public std::streambuf {
 public:
  explicit ConsoleOutput(HANDLE console) : console_(console) { setp(buffer_, buffer_ + kSize); }
  ~ConsoleOutput() override { sync(); }

 protected:
  int_type overflow(int_type c) override {
    if (!Write(false)) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return Write(true) ? 0 : -1; }

 private:
  static constexpr std::size_t kSize = 4096;
  // The most one WriteConsoleW call is given: older consoles refuse large
  // writes.
  static constexpr std::size_t kMostPerCall = 8192;

  bool Write(bool all) {
    const std::string_view held(pbase(), static_cast<std::size_t>(pptr() - pbase()));
    const std::size_t end = all ? held.size() : windows::WholeUtf8(held);
    const std::wstring text = Wide(held.substr(0, end));
    bool ok = true;
    for (std::size_t at = 0; ok && at < text.size();) {
      std::size_t n = std::min(text.size() - at, kMostPerCall);
      if (n < text.size() - at && IS_HIGH_SURROGATE(text[at + n - 1])) --n;  // keep pairs whole
      DWORD written = 0;
      ok = ::WriteConsoleW(console_, text.data() + at, static_cast<DWORD>(n), &written, nullptr) &&
           written > 0;
      at += written;
    }
    // What waits moves to the front; what failed is dropped like the rest.
    const std::string_view rest = held.substr(end);
    std::copy(rest.begin(), rest.end(), buffer_);
    setp(buffer_, buffer_ + kSize);
    pbump(static_cast<int>(rest.size()));
    return ok;
  }

  HANDLE console_;
  char buffer_[kSize];
};

// Input from a console: read as UTF-16 and handed on as UTF-8, with CR LF
// as LF, and a line that begins with Ctrl-Z ending the input, as a console
// read through the C runtime in text mode has them.
class ConsoleInput : public std::streambuf {
 public:
  explicit ConsoleInput(HANDLE console) : console_(console) {}

 protected:
  int_type underflow() override {
    while (gptr() == egptr()) {
      if (ended_) return traits_type::eof();
      Read();
    }
    return traits_type::to_int_type(*gptr());
  }

 private:
  static constexpr DWORD kChunk = 4096;

  void Read() {
    wchar_t wide[kChunk];
    DWORD have = 0;
    if (pending_ != 0) wide[have++] = pending_;
    pending_ = 0;
    DWORD got = 0;
    if (!::ReadConsoleW(console_, wide + have, kChunk - have, &got, nullptr) || got == 0) {
      ended_ = true;
    }
    have += got;
    // A surrogate pair split by the chunk waits for its second half.
    if (!ended_ && have > 0 && IS_HIGH_SURROGATE(wide[have - 1])) pending_ = wide[--have];
    if (have > 0 && wide[0] == L'\x1a') {
      have = 0;
      ended_ = true;
    }
    text_ = Utf8(std::wstring_view(wide, have));
    for (std::size_t at = 0; (at = text_.find("\r\n", at)) != std::string::npos;)
      text_.erase(at, 1);
    setg(text_.data(), text_.data(), text_.data() + text_.size());
  }

  HANDLE console_;
  std::string text_;
  wchar_t pending_ = 0;
  bool ended_ = false;
};

}  // namespace

std::vector<std::string> Arguments(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8(argv[i]));
  return args;
}

struct Utf8Console::Streams {
  std::unique_ptr<ConsoleInput> in;
  std::unique_ptr<ConsoleOutput> out, err;
  std::streambuf* oldIn = nullptr;
  std::streambuf* oldOut = nullptr;
  std::streambuf* oldErr = nullptr;
};

Utf8Console::Utf8Console() : streams_(std::make_unique<Streams>()) {
  Streams& s = *streams_;
  if (HANDLE h = ConsoleHandle(STD_INPUT_HANDLE)) {
    s.in = std::make_unique<ConsoleInput>(h);
    s.oldIn = std::cin.rdbuf(s.in.get());
  }
  if (HANDLE h = ConsoleHandle(STD_OUTPUT_HANDLE)) {
    s.out = std::make_unique<ConsoleOutput>(h);
    s.oldOut = std::cout.rdbuf(s.out.get());
  }
  if (HANDLE h = ConsoleHandle(STD_ERROR_HANDLE)) {
    s.err = std::make_unique<ConsoleOutput>(h);
    s.oldErr = std::cerr.rdbuf(s.err.get());
  }
}

Utf8Console::~Utf8Console() {
  Streams& s = *streams_;
  std::cout.flush();
  std::cerr.flush();
  if (s.in) std::cin.rdbuf(s.oldIn);
  if (s.out) std::cout.rdbuf(s.oldOut);
  if (s.err) std::cerr.rdbuf(s.oldErr);
}

}  // namespace quarrion::host
