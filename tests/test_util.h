// Helpers shared by the tests: temporary folders, whole-file reads and writes,
// crafted archives, and running the real program or a dialogue.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "buildlist/build_list.h"

namespace quarrion {
struct Console;
struct StartupOptions;
}  // namespace quarrion

namespace quarrion::testing {

// A fresh folder under the system's temporary folder, removed with all its
// contents (whatever their permissions) when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string Join(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

// What the program puts between a folder typed with slashes (as TempDir's
// paths are) and the names it finds below it: the backslash on Windows.
#if defined(_WIN32)
inline const std::string kBelow = "\\";
#else
inline const std::string kBelow = "/";
#endif

// Writes `bytes` to `path`, creating the folders on the way.
void WriteFile(const std::string& path, const std::string& bytes);
// The whole file, or "" when it cannot be read.
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// Sets the modification time of `path` (seconds since 1970 UTC).
void SetMTime(const std::string& path, std::int64_t seconds);
// Every entry below `dir` (files and folders), relative, sorted.
std::vector<std::string> ListTree(const std::string& dir);

// While it lives, small files take the portable I/O path (QUARRION_IO=portable,
// seen by this process and the programs it starts) or, with `portable`
// false, whichever path the host has.
class IoPath {
 public:
  explicit IoPath(bool portable);
  ~IoPath();
  IoPath(const IoPath&) = delete;
  IoPath& operator=(const IoPath&) = delete;

 private:
  bool had_ = false;
  std::string old_;
};

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the built quarrion with `args`, feeding `input` on standard input, in
// the working folder `cwd` (the current one when empty).
RunResult RunQuarrionBinary(const std::vector<std::string>& args, const std::string& input = "",
                            const std::string& cwd = "");

// Runs the program in this process, with SOURCE_DATE_EPOCH `epoch`.
RunResult RunQuarrionInProcess(const std::vector<std::string>& args, const std::string& input = "",
                               const std::optional<std::string>& epoch = {});

#if !defined(_WIN32)
// Starts the built quarrion with `args` and returns at once with its process
// id: standard input empty, standard output and error into the files `out`
// and `err` (`out` empty: a pipe whose reading end is closed), every signal
// it handles or ignores at its default whatever this process does (SIGPIPE
// ignored with `pipeIgnored`), at most `openFiles` descriptors and files of
// at most `fileBytes` bytes (ulimit -f) when those are not 0.
int StartQuarrionBinary(const std::vector<std::string>& args, const std::string& out,
                        const std::string& err, int openFiles = 0, std::int64_t fileBytes = 0,
                        bool pipeIgnored = false);
// Waits for a process started so; its exit status, or -1 when a signal ended it.
int WaitQuarrionBinary(int pid);

// Runs a copy of the built quarrion, put in the folder `dir` (which it makes
// writable by all), with `args`; under root as the user "nobody", so that
// permissions refuse what they say. Standard input is empty. Status -1, with
// the reason in `err`, when nobody cannot reach `dir`: skip the test then.
RunResult RunQuarrionUnprivileged(const std::vector<std::string>& args, const std::string& dir);
#endif

// A directory entry whose name is copied as it stands, up to all 32 bytes
// (no NUL needed), so that malformed names can be built too.
VpDirEntry Entry(std::int32_t offset, std::int32_t size, const std::string& name,
                 std::int32_t time = 0);

// A record as AddFile would make it, without touching the disk.
FileRecord Record(const std::string& folder, const std::string& name, std::int32_t size = 0,
                  const std::string& path = "", std::int32_t time = 0);
// A record of entry `entry` of `archive`, as AddFile would make it.
FileRecord Reference(const std::string& folder, const std::string& name, std::int32_t size,
                     const std::string& archive, std::int64_t entry, std::int32_t time);

// An archive assembled entry by entry: each file's bytes follow the header
// back to back, then the directory; the header points at it unless Bytes is
// given other values.
class ArchiveBuilder {
 public:
  ArchiveBuilder& File(const std::string& name, const std::string& bytes,
                       std::int32_t time = 1000000000);
  ArchiveBuilder& Folder(const std::string& name);
  ArchiveBuilder& Up();
  ArchiveBuilder& Add(const VpDirEntry& entry);
  std::int32_t DirOffset() const;
  std::string Bytes(std::int32_t version = 2) const { return Bytes(version, DirOffset(), count_); }
  std::string Bytes(std::int32_t version, std::int32_t dirOffset, std::int32_t count) const;

 private:
  std::string data_;
  std::string dir_;
  std::int32_t count_ = 0;
};

// A dialogue driven through string streams, and what it left of its input.
struct Dialogue : RunResult {
  std::string unread;
};
Dialogue RunDialogue(const std::string& input, const std::function<int(Console&)>& body);

// Runs an archive mode (RunListArchive, RunVerifyArchive, RunExtractArchive)
// on `archive` as a dialogue without input, extracting into `target`, with
// the -only patterns `only`.
Dialogue RunArchiveMode(int (*mode)(const StartupOptions&, Console&), const std::string& archive,
                        const std::string& target = "", const std::vector<std::string>& only = {});

// A test with a temporary folder to write archives into.
class ArchiveTest : public ::testing::Test {
 protected:
  // Writes `bytes` to `name` in the folder; returns its path.
  std::string Archive(const std::string& bytes, const std::string& name = "a.vp") {
    WriteFile(dir_.Join(name), bytes);
    return dir_.Join(name);
  }

  TempDir dir_;
};

}  // namespace quarrion::testing
