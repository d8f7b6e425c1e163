// Helpers shared by the tests: temporary folders, whole-file reads and writes,
// and running the real program with a scripted standard input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarrion::testing {

// A fresh folder under the system's temporary folder, removed with all its
// contents when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative
  std::string Join(const std::string& relative) const;

 private:
  std::string path_;
};

// Writes `bytes` to `path`, creating the folders on the way.
void WriteFile(const std::string& path, const std::string& bytes);
// The whole file, or "" when it cannot be read.
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// Sets the modification time of `path` (seconds since 1970 UTC).
void SetMTime(const std::string& path, std::int64_t seconds);
// Every entry below `dir` (files and folders), relative, sorted.
std::vector<std::string> ListTree(const std::string& dir);

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the built quarrion with `args`, feeding `input` on standard input, in
// the working folder `cwd` (the current one when empty).
RunResult RunQuarrionBinary(const std::vector<std::string>& args, const std::string& input = "",
                            const std::string& cwd = "");

// The sample data directory of the repository.
std::string SampleDataDir();

// Little-endian int32 at `offset` of `bytes`.
std::int32_t Int32At(const std::string& bytes, std::size_t offset);

}  // namespace quarrion::testing
