#include "shell/progress.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>

#include "host/host.h"

namespace quarrion {
namespace {

// Longer lines would wrap on a narrow console, and a wrapped line cannot
// be redrawn with a carriage return.
constexpr std::size_t kMaxWidth = 79;

// The rate is shown once it means something.
constexpr double kRateAfter = 0.5;

}  // namespace

ProgressLine::ProgressLine(std::ostream& err, Clock clock) : err_(err), clock_(std::move(clock)) {}

ProgressLine::~ProgressLine() { Finish(); }

void ProgressLine::Begin(std::int64_t totalBytes, std::int64_t totalFiles) {
  active_ = true;
  totalBytes_ = totalBytes;
  totalFiles_ = totalFiles;
  doneBytes_ = 0;
  doneFiles_ = 0;
  start_ = clock_();
  Draw(start_);
}

void ProgressLine::Advance(std::int64_t doneBytes, std::int64_t doneFiles) {
  if (!active_) return;
  doneBytes_ = doneBytes;
  doneFiles_ = doneFiles;
  const double now = clock_();
  if (hidden_ || now - lastDraw_ >= kRedrawInterval) Draw(now);
}

void ProgressLine::Hide() {
  if (!shown_) return;
  err_ << '\r' << std::string(width_, ' ') << '\r';
  err_.flush();
  shown_ = false;
  hidden_ = true;
}

void ProgressLine::Finish() {
  Hide();
  hidden_ = false;
  active_ = false;
}

void ProgressLine::Draw(double now) {
  std::string text = Text(doneBytes_, totalBytes_, doneFiles_, totalFiles_, now - start_);
  if (text.size() > kMaxWidth) text.resize(kMaxWidth);
  // Blanks cover what a longer earlier line left behind.
  const std::size_t pad = width_ > text.size() ? width_ - text.size() : 0;
  err_ << '\r' << text << std::string(pad, ' ');
  err_.flush();
  width_ = std::max(width_, text.size());
  shown_ = true;
  hidden_ = false;
  lastDraw_ = now;
}

std::string ProgressLine::Text(std::int64_t doneBytes, std::int64_t totalBytes,
                               std::int64_t doneFiles, std::int64_t totalFiles, double elapsed) {
  std::string text = ByteText(static_cast<double>(doneBytes)) + " of " +
                     ByteText(static_cast<double>(totalBytes)) + ", " + std::to_string(doneFiles) +
                     " of " + std::to_string(totalFiles) + " files";
  if (elapsed >= kRateAfter && doneBytes > 0) {
    const double rate = static_cast<double>(doneBytes) / elapsed;
    text += ", " + ByteText(rate) + "/s, " +
            DurationText(static_cast<double>(totalBytes - doneBytes) / rate) + " left";
  }
  return text;
}

std::unique_ptr<ProgressLine> MakeProgressLine(std::ostream& err) {
  if (&err != &std::cerr || !host::StderrIsTerminal()) return nullptr;
  return std::make_unique<ProgressLine>(err, [] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  });
}

WriteDisplay::WriteDisplay(Console& console, bool folders, bool progress)
    : console_(console),
      folders_(folders),
      progress_(progress ? MakeProgressLine(console.err) : nullptr) {}

void WriteDisplay::Begin(std::int64_t totalBytes, std::int64_t totalFiles) {
  if (progress_ != nullptr) progress_->Begin(totalBytes, totalFiles);
}

void WriteDisplay::Folder(std::string_view folder) { Show(folder); }

void WriteDisplay::Advance(std::int64_t doneBytes, std::int64_t doneFiles) {
  if (progress_ != nullptr) progress_->Advance(doneBytes, doneFiles);
}

void WriteDisplay::DataDone() { Show({}); }

void WriteDisplay::Show(std::string_view line) {
  if (progress_ != nullptr) progress_->Hide();
  if (folders_) console_.Line(line);
}

std::string ByteText(double bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(static_cast<std::int64_t>(bytes)) + " B";
  int unit = -1;
  while (bytes >= 1024 && unit < 3) {
    bytes /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, bytes < 100 ? "%.1f %s" : "%.0f %s", bytes, kUnits[unit]);
  return text;
}

std::string DurationText(double seconds) {
  if (!(seconds >= 0)) seconds = 0;  // also NaN
  if (seconds > 359999) seconds = 359999;
  const auto s = static_cast<std::int64_t>(seconds + 0.5);
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(s / 60),
                  static_cast<long long>(s % 60));
  }
  return text;
}

}  // namespace quarrion
