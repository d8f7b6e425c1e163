// A live progress line on standard error while an archive's data are
// written: bytes and files done of the total, the rate and the time left.
// It is redrawn in place with a carriage return, a few times a second at
// most, and erased again before anything else is printed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "pack/writer.h"
#include "shell/console.h"

namespace quarrion {

class ProgressLine {
 public:
  // Seconds on a clock that never goes back; tests pass their own.
  using Clock = std::function<double()>;

  // The shortest time between two redraws, in seconds.
  static constexpr double kRedrawInterval = 0.25;

  ProgressLine(std::ostream& err, Clock clock);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Before the first file's data: what the pass will copy.
  void Begin(std::int64_t totalBytes, std::int64_t totalFiles);
  // After each file's data: the bytes and files copied so far.
  void Advance(std::int64_t doneBytes, std::int64_t doneFiles);
  // Before a console line, which must not land on the line; the next
  // Advance shows it again.
  void Hide();

  // Erases the line for good: the write is over.
  void Finish();

  // The text of the line for the given state (no carriage return).
  static std::string Text(std::int64_t doneBytes, std::int64_t totalBytes, std::int64_t doneFiles,
                          std::int64_t totalFiles, double elapsed);

 private:
  void Draw(double now);

  std::ostream& err_;
  Clock clock_;
  bool active_ = false;
  bool shown_ = false;
  bool hidden_ = false;  // hidden for a console line; shown again at once
  std::size_t width_ = 0;
  double start_ = 0;
  double lastDraw_ = 0;
  std::int64_t totalBytes_ = 0;
  std::int64_t totalFiles_ = 0;
  std::int64_t doneBytes_ = 0;
  std::int64_t doneFiles_ = 0;
};

// A progress line on `err` when `err` is the program's standard error and
// that is a terminal; nullptr otherwise (a file, a pipe, or a test's stream).
std::unique_ptr<ProgressLine> MakeProgressLine(std::ostream& err);

// What a write shows: with `folders`, each folder on the console as its data
// begin and an empty line after the data; with `progress`, a progress line
// when standard error is a terminal (MakeProgressLine), hidden at each folder
// and after the data, and erased for good when the display goes.
class WriteDisplay : public WriteObserver {
 public:
  WriteDisplay(Console& console, bool folders, bool progress);

  void Begin(std::int64_t totalBytes, std::int64_t totalFiles) override;
  void Folder(std::string_view folder) override;
  void Advance(std::int64_t doneBytes, std::int64_t doneFiles) override;
  void DataDone() override;

 private:
  void Show(std::string_view line);

  Console& console_;
  bool folders_;
  std::unique_ptr<ProgressLine> progress_;
};

// "1.5 MiB", "312 KiB", "17 B".
std::string ByteText(double bytes);

// "0:07", "12:45", "1:02:03".
std::string DurationText(double seconds);

}  // namespace quarrion
