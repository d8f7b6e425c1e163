#include "test_util.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "vp/coding.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace fs = std::filesystem;

namespace quarrion::testing {

TempDir::TempDir() {
  static std::mt19937_64 rng(std::random_device{}() ^
                             static_cast<std::uint64_t>(
                                 std::chrono::steady_clock::now().time_since_epoch().count()));
  for (;;) {
    fs::path p = fs::temp_directory_path() / ("quarrion-test-" + std::to_string(rng() % 1000000000));
    std::error_code ec;
    if (fs::create_directory(p, ec)) {
      path_ = p.generic_string();
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  // Restore permissions a test may have taken away, so everything goes.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

std::string TempDir::Join(const std::string& relative) const { return path_ + "/" + relative; }

void WriteFile(const std::string& path, const std::string& bytes) {
  fs::path p(path);
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

void SetMTime(const std::string& path, std::int64_t seconds) {
  // file_time_type's epoch differs between libraries; go through "now".
  auto now_sys = std::chrono::system_clock::now();
  auto now_file = fs::file_time_type::clock::now();
  auto target = std::chrono::system_clock::time_point(std::chrono::seconds(seconds));
  fs::last_write_time(path, now_file + std::chrono::duration_cast<fs::file_time_type::duration>(
                                           target - now_sys));
}

std::vector<std::string> ListTree(const std::string& dir) {
  std::vector<std::string> out;
  for (auto& e : fs::recursive_directory_iterator(dir)) {
    out.push_back(fs::relative(e.path(), dir).generic_string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

namespace {

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  return q + "'";
}

}  // namespace

RunResult RunQuarrionBinary(const std::vector<std::string>& args, const std::string& input,
                            const std::string& cwd) {
  TempDir io;
  WriteFile(io.Join("in"), input);
  std::string cmd;
  if (!cwd.empty()) cmd += "cd " + Quote(cwd) + " && ";
  cmd += Quote(QUARRION_BINARY);
  for (const std::string& a : args) cmd += " " + Quote(a);
  cmd += " < " + Quote(io.Join("in")) + " > " + Quote(io.Join("out")) + " 2> " +
         Quote(io.Join("err"));
  int rc = std::system(cmd.c_str());
  RunResult r;
#if defined(_WIN32)
  r.status = rc;
#else
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
#endif
  r.out = ReadFile(io.Join("out"));
  r.err = ReadFile(io.Join("err"));
  return r;
}

std::string SampleDataDir() { return std::string(QUARRION_SOURCE_DIR) + "/examples/data"; }

std::int32_t Int32At(const std::string& bytes, std::size_t offset) {
  return DecodeInt32(bytes.data() + offset);
}

}  // namespace quarrion::testing
