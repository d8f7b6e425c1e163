// Arbitrary bytes as a VP archive: the reader must load, look up and read
// them without reading or allocating beyond the file, and its answers must
// agree with each other. The bytes live in an in-memory file (a temporary
// file where the host has none), opened by path like any archive, and are
// also reached through a VP source reference so AddFile and the archive
// cache see them.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "buildlist/add_file.h"
#include "buildlist/build_list.h"
#include "vp/format.h"
#include "vp/reader.h"
#include "vp/source_archives.h"

namespace {

using namespace quarrion;

struct Backing {
  int fd = -1;
  std::string path;       // opens the bytes
  std::string reference;  // an archive path ending in ".vp" that leads to them
};

Backing MakeBacking() {
  Backing b;
  std::string dir = "/tmp";
  if (const char* t = std::getenv("TMPDIR")) dir = t;
  std::string link = dir + "/quarrion-fuzz-" + std::to_string(::getpid()) + ".vp";
#if defined(__linux__)
  b.fd = ::memfd_create("archive", MFD_CLOEXEC);
  if (b.fd >= 0) b.path = "/proc/self/fd/" + std::to_string(b.fd);
#endif
  if (b.fd < 0) {
    b.path = dir + "/quarrion-fuzz-" + std::to_string(::getpid()) + ".bin";
    b.fd = ::open(b.path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (b.fd < 0) std::abort();
  }
  ::unlink(link.c_str());
  if (::symlink(b.path.c_str(), link.c_str()) != 0) std::abort();
  b.reference = link;
  // Removed at exit, with the file behind it when that is no memfd.
  static std::vector<std::string> made;
  made = {link};
  if (b.path.rfind("/proc/", 0) != 0) made.push_back(b.path);
  std::atexit([] {
    for (const std::string& path : made) ::unlink(path.c_str());
  });
  return b;
}

// A broken promise of the reader: say which, then crash so libFuzzer keeps
// the input.
void Fail(const char* what, int line) {
  std::fprintf(stderr, "reader_fuzzer.cpp:%d: check failed: %s\n", line, what);
  std::abort();
}
#define Check(cond) ((cond) ? (void)0 : Fail(#cond, __LINE__))

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Backing backing = MakeBacking();
  if (::ftruncate(backing.fd, 0) != 0) std::abort();
  if (size > 0 && ::pwrite(backing.fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();

  VpReader reader;
  const Status opened = reader.Open(backing.path);
  Check(opened.ok() || opened.code == Code::kNotVpArchive);
  Check(opened.ok() || reader.entries().empty());
  Check(reader.header().dirEntries == static_cast<std::int32_t>(reader.entries().size()));
  // No more entries than the file has room for after the header.
  Check(reader.entries().size() * kDirEntrySize <= size);

  // Every entry is found by its own name, at its index or at an earlier one
  // of the same name, and read only when its data lie inside the file.
  const char* input = reinterpret_cast<const char*>(data);
  std::string bytes;
  const auto& entries = reader.entries();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string name(EntryName(entries[i]));
    std::string upper = name;
    for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    const std::optional<std::size_t> found = reader.Find(name);
    Check(found.has_value() && *found <= i);
    Check(reader.Find(upper) == found);
    if (reader.EntryDataInFile(entries[i])) {
      // The data lie in the file, so they are the input's own bytes.
      Check(static_cast<std::size_t>(entries[i].offset) + entries[i].size <= size);
      bytes.assign(static_cast<std::size_t>(entries[i].size), '\0');
      std::size_t got = 0;
      Check(reader.file().ReadAt(entries[i].offset, bytes.data(), bytes.size(), &got).ok());
      Check(got == bytes.size());
      Check(std::equal(bytes.begin(), bytes.end(), input + entries[i].offset));
    }
  }

  // A name taken from the tail of the input, whatever it holds.
  const std::size_t tail = size < kNameFieldSize + 8 ? size : kNameFieldSize + 8;
  const std::string probe(input + size - tail, tail);
  const std::optional<std::size_t> probed = reader.Find(probe);
  Check(!probed || *probed < entries.size());

  // The same bytes as the source archive of a reference.
  SourceArchives archives;
  BuildList list;
  for (const std::string& name :
       {probe, entries.empty() ? std::string() : std::string(EntryName(entries.back()))}) {
    const std::size_t before = list.files.size();
    const Status added = AddFile(list, name, backing.reference + ":" + name, "data", &archives);
    Check(list.files.size() == before + (added.ok() ? 1 : 0));
    if (added.ok()) {
      const std::optional<std::size_t> i = reader.Find(name);
      Check(i.has_value() && list.files.back().entry.size == entries[*i].size);
    } else {
      Check(!added.Message().empty());
    }
  }
  return 0;
}
