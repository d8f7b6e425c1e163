// Shared by the fuzz targets: a check that aborts (so that libFuzzer keeps
// the input), scratch files for the inputs, and the program run in process.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "shell/options.h"
#include "shell/run.h"
#include "vp/reader.h"

namespace quarrion::fuzz {

[[noreturn]] inline void Fail(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::abort();
}
#define Check(cond) ((cond) ? (void)0 : ::quarrion::fuzz::Fail(__FILE__, __LINE__, #cond))

// A path for scratch file `name` in a folder of this process in TMPDIR;
// the folder and every path it gave are removed at exit.
inline std::string ScratchName(const std::string& name) {
  static std::vector<std::string>& paths = *new std::vector<std::string>;  // read at exit
  if (paths.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    paths.push_back(std::string(tmp ? tmp : "/tmp") + "/quarrion-fuzz-XXXXXX");
    Check(::mkdtemp(paths[0].data()) != nullptr);
    std::atexit([] {
      for (auto p = paths.rbegin(); p != paths.rend(); ++p) std::remove(p->c_str());
    });
  }
  paths.push_back(paths[0] + "/" + name);
  return paths.back();
}

// A scratch name for each input's bytes; on Linux a link to a file in
// memory, which the kernel does not copy from, so copies take the buffer.
inline std::string InputName(const std::string& name) {
  const std::string path = ScratchName(name);
#if defined(__linux__)
  const int fd = ::memfd_create(name.c_str(), MFD_CLOEXEC);
  Check(fd >= 0 && ::symlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path.c_str()) == 0);
#endif
  return path;
}

// Puts an input's bytes in the scratch file `path`.
inline void Hold(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  Check(file.flush());
}

// The data of entry `e` of `reader`, which must lie whole in the file.
inline std::string DataOf(VpReader& reader, const VpDirEntry& e) {
  Check(reader.EntryDataInFile(e));
  std::string bytes(static_cast<std::size_t>(e.size), '\0');
  std::size_t got = 0;
  Check(reader.file().ReadAt(e.offset, bytes.data(), bytes.size(), &got).ok() &&
        got == bytes.size());
  return bytes;
}

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
  Run r{RunQuarrion(args, in, out, err), {}, err.str()};
  PrintBanner(banner, false);
  const std::string text = out.str(), start = banner.str();
  Check(text.compare(0, start.size(), start) == 0 && (text.empty() || text.back() == '\n'));
  std::istringstream body(text.substr(start.size()));
  for (std::string line; std::getline(body, line);) r.lines.push_back(line);
  return r;
}

}  // namespace quarrion::fuzz
