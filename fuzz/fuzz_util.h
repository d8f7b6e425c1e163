// Shared by the fuzz targets: a check that crashes, so that libFuzzer keeps
// the input, the scratch file each input's bytes are put in, and the
// program run in process.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "shell/options.h"
#include "shell/run.h"

namespace quarrion::fuzz {

[[noreturn]] inline void Fail(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::abort();
}
#define Check(cond) ((cond) ? (void)0 : ::quarrion::fuzz::Fail(__FILE__, __LINE__, #cond))

// Removes `path` (a file, or a folder once empty) when the process exits.
inline void RemoveAtExit(const std::string& path) {
  static std::vector<std::string>& paths = *new std::vector<std::string>;  // read at exit
  if (paths.empty()) {
    std::atexit([] {
      for (const std::string& p : paths) std::remove(p.c_str());
    });
  }
  paths.push_back(path);
}

// A name for a scratch file of this process in TMPDIR, removed at exit
// unless `remove` is false.
inline std::string ScratchName(const std::string& name, bool remove = true) {
  const char* dir = std::getenv("TMPDIR");
  const std::string path =
      std::string(dir ? dir : "/tmp") + "/quarrion-fuzz-" + std::to_string(::getpid()) + "-" + name;
  if (remove) RemoveAtExit(path);
  return path;
}

// The file that holds each input: in memory where the host has memfd,
// else a temporary file. `path` opens it; with `vpName` set it is a link
// whose name ends in ".vp", as a VP source reference needs.
struct Scratch {
  int fd = -1;
  std::string path;

  explicit Scratch(const std::string& name, bool vpName = false) {
#if defined(__linux__)
    fd = ::memfd_create(name.c_str(), MFD_CLOEXEC);
    if (fd >= 0) path = "/proc/self/fd/" + std::to_string(fd);
#endif
    if (fd < 0) {
      path = ScratchName(name + ".bin");
      fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      if (fd < 0) std::abort();
    }
    if (vpName) {
      const std::string link = ScratchName(name + ".vp");
      ::unlink(link.c_str());
      if (::symlink(path.c_str(), link.c_str()) != 0) std::abort();
      path = link;
    }
  }

  void Hold(const std::uint8_t* data, std::size_t size) const {
    if (::ftruncate(fd, 0) != 0 ||
        (size > 0 && ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))) {
      std::abort();
    }
  }
};

struct Run {
  int status = 0;
  std::vector<std::string> lines;  // standard output after the banner
  std::string err;
};

// Runs the program with `args` and no input; its output must start with the
// short banner and end with a line end.
inline Run Quarrion(const std::vector<std::string>& args) {
  std::istringstream in;
  std::ostringstream out, err, banner;
  Run r;
  r.status = RunQuarrion(args, in, out, err);
  r.err = err.str();
  PrintBanner(banner, false);
  const std::string text = out.str();
  Check(text.compare(0, banner.str().size(), banner.str()) == 0);
  Check(text.empty() || text.back() == '\n');
  std::istringstream body(text.substr(banner.str().size()));
  for (std::string line; std::getline(body, line);) r.lines.push_back(line);
  return r;
}

}  // namespace quarrion::fuzz
