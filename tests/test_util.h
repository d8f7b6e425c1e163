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

// A fresh temporary folder, removed with all its contents (whatever their
// permissions) when the object goes away.
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

// What the program puts between a folder typed with slashes and the names
// below it: the backslash on Windows.
#if defined(_WIN32)
inline const std::string kBelow = "\\";
#else
inline const std::string kBelow = "/";
#endif

// WriteFile makes the folders on the way; ReadFile gives "" for a file it
// cannot read; SetMTime takes seconds since 1970 UTC; ListTree gives every
// entry below `dir`, relative, sorted.
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
void SetMTime(const std::string& path, std::int64_t seconds);
std::vector<std::string> ListTree(const std::string& dir);

// While it lives, this process and the programs it starts take the portable
// I/O path (QUARRION_IO=portable) or, with `portable` false, the host's own.
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

// Runs the built quarrion with `input` on standard input, in `cwd` (the
// current folder when empty).
RunResult RunQuarrionBinary(const std::vector<std::string>& args, const std::string& input = "",
                            const std::string& cwd = "");

// Runs the program in this process, with SOURCE_DATE_EPOCH `epoch`.
RunResult RunQuarrionInProcess(const std::vector<std::string>& args, const std::string& input = "",
                               const std::optional<std::string>& epoch = {});

#if !defined(_WIN32)
// Starts the built quarrion and returns its process id: standard input
// empty, output and error into the files `out` (empty: a pipe whose reading
// end is closed) and `err`, its signals at their defaults (SIGPIPE ignored
// with `pipeIgnored`), limits on descriptors and file sizes when not 0.
int StartQuarrionBinary(const std::vector<std::string>& args, const std::string& out,
                        const std::string& err, int openFiles = 0, std::int64_t fileBytes = 0,
                        bool pipeIgnored = false);
// Waits for a process started so; its exit status, or -1 when a signal ended it.
int WaitQuarrionBinary(int pid);

// Runs a copy of the built quarrion, put in `dir` (made writable by all),
// under root as the user "nobody", so that permissions refuse what they say.
// Status -1, the reason in `err`, when nobody cannot reach `dir`.
RunResult RunQuarrionUnprivileged(const std::vector<std::string>& args, const std::string& dir);
#endif

// A directory entry whose name is copied as it stands, up to all 32 bytes.
VpDirEntry Entry(std::int32_t offset, std::int32_t size, const std::string& name,
                 std::int32_t time = 0);

// A record as AddFile would make it, without touching the disk.
FileRecord Record(const std::string& folder, const std::string& name, std::int32_t size = 0,
                  const std::string& path = "", std::int32_t time = 0);
// A record of entry `entry` of `archive`, as AddFile would make it.
FileRecord Reference(const std::string& folder, const std::string& name, std::int32_t size,
                     const std::string& archive, std::int64_t entry, std::int32_t time);

// An archive assembled entry by entry: the files' bytes back to back after
// the header, then the directory, which the header points at unless Bytes
// is given other values.
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

// Runs an archive mode (RunListArchive...) on `archive` as a dialogue
// without input, extracting into `target`, with the -only patterns `only`.
Dialogue RunArchiveMode(int (*mode)(const StartupOptions&, Console&), const std::string& archive,
                        const std::string& target = "", const std::vector<std::string>& only = {});

// A test with a temporary folder to write archives into.
class ArchiveTest : public ::testing::Test {
 protected:
  std::string Archive(const std::string& bytes, const std::string& name = "a.vp") {
    WriteFile(dir_.Join(name), bytes);
    return dir_.Join(name);
  }

  TempDir dir_;
};

}  // namespace quarrion::testing
