// The "vp" command over arbitrary archive bytes with arbitrary answers: the
// walk must end, add only files it was told to take (as references to the
// archive), and whatever it added must write as an archive that holds
// exactly those files' bytes, or be refused by the writer for a folder it
// cannot store.
//
// The input is split simply: its first byte is the number of bytes, taken
// from the end, that are typed as answers; the bytes between are the
// archive. The archive lives in an in-memory file (a temporary file where
// the host has none), reached through a name ending in ".vp".
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "buildlist/build_list.h"
#include "host/host.h"
#include "pack/writer.h"
#include "shell/console.h"
#include "shell/modes.h"
#include "vp/format.h"
#include "vp/reader.h"

namespace {

using namespace quarrion;

struct Files {
  int fd = -1;
  std::string archive;  // the name typed at the prompt: a link ending in ".vp"
  std::string output;   // where the added files are written
  std::string backing;  // the file behind the link when there is no memfd
};

const Files& TheFiles() {
  // Never destroyed: the clean-up at exit still reads it.
  static const Files& files = *new Files([] {
    Files f;
    std::string dir = "/tmp";
    if (const char* t = std::getenv("TMPDIR")) dir = t;
    const std::string stem = dir + "/quarrion-walk-fuzz-" + std::to_string(::getpid());
    std::string target;
#if defined(__linux__)
    f.fd = ::memfd_create("archive", MFD_CLOEXEC);
    if (f.fd >= 0) target = "/proc/self/fd/" + std::to_string(f.fd);
#endif
    if (f.fd < 0) {
      f.backing = target = stem + ".bin";
      f.fd = ::open(target.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      if (f.fd < 0) std::abort();
    }
    f.archive = stem + ".vp";
    f.output = stem + "-out.vp";
    ::unlink(f.archive.c_str());
    if (::symlink(target.c_str(), f.archive.c_str()) != 0) std::abort();
    std::atexit([] {
      ::unlink(TheFiles().archive.c_str());
      ::unlink(TheFiles().output.c_str());
      if (!TheFiles().backing.empty()) ::unlink(TheFiles().backing.c_str());
    });
    return f;
  }());
  return files;
}

void Fail(const char* what, int line) {
  std::fprintf(stderr, "vp_walk_fuzzer.cpp:%d: check failed: %s\n", line, what);
  std::abort();
}
#define Check(cond) ((cond) ? (void)0 : Fail(#cond, __LINE__))

// The data of entry `e`; each check that reads one needs them whole.
std::string DataOf(VpReader& reader, const VpDirEntry& e) {
  Check(reader.EntryDataInFile(e));
  std::string bytes(static_cast<std::size_t>(e.size), '\0');
  std::size_t got = 0;
  Check(reader.file().ReadAt(e.offset, bytes.data(), bytes.size(), &got).ok());
  Check(got == bytes.size());
  return bytes;
}

// The archive written from `list` holds, in order, one file entry per
// record with the record's name, size and time, and the bytes of the entry
// of that name in the source archive.
void CheckWritten(const BuildList& list) {
  VpReader out;
  Check(out.Open(TheFiles().output).ok());
  VpReader in;
  Check(in.Open(TheFiles().archive).ok());
  std::size_t next = 0;
  for (std::size_t i = 0; i < out.entries().size(); ++i) {
    const VpDirEntry& e = out.entries()[i];
    if (ClassifyEntry(e) != EntryKind::kFile) continue;
    Check(next < list.files.size());
    const FileRecord& r = list.files[next++];
    Check(EntryName(e) == r.name() && e.size == r.entry.size && e.timestamp == r.entry.timestamp);
    const std::optional<std::size_t> source = in.Find(r.name());
    Check(source.has_value());
    Check(DataOf(out, e) == DataOf(in, in.entries()[*source]));
  }
  Check(next == list.files.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Files& files = TheFiles();
  std::size_t answerBytes = 0;
  if (size > 0) {
    answerBytes = data[0] < size - 1 ? data[0] : size - 1;
    ++data;
    --size;
  }
  const std::size_t archiveBytes = size - answerBytes;
  if (::ftruncate(files.fd, 0) != 0) std::abort();
  if (archiveBytes > 0 &&
      ::pwrite(files.fd, data, archiveBytes, 0) != static_cast<ssize_t>(archiveBytes)) {
    std::abort();
  }
  const std::string answers(reinterpret_cast<const char*>(data) + archiveBytes, answerBytes);

  BuildList list;
  std::istringstream in(files.archive + "\n" + answers);
  std::ostringstream out;
  std::ostringstream err;
  Console console{in, out, err};
  ImportFromVp(list, console);

  // A record only for a file entry answered with y or Y, each a reference
  // to the archive by the entry's name. (The console text is no measure:
  // the names in it may hold any bytes, the program's own words included.)
  VpReader reader;
  const Status opened = reader.Open(files.archive);
  Check(opened.ok() || opened.code == Code::kNotVpArchive);
  std::size_t fileEntries = 0;
  for (const VpDirEntry& e : reader.entries()) {
    if (ClassifyEntry(e) == EntryKind::kFile) ++fileEntries;
  }
  std::size_t yes = 0;
  for (char c : answers) yes += (c == 'y' || c == 'Y') ? 1 : 0;
  Check(list.files.size() <= fileEntries);
  Check(list.files.size() <= yes);
  for (const FileRecord& r : list.files) {
    Check(r.path == files.archive + ":" + std::string(r.name()));
    Check(reader.Find(r.name()) >= 0);
    Check(r.entry.size >= 0);
  }
  if (list.files.empty()) return 0;

  host::AtomicOutputFile output;
  Status why = output.Create(files.output);
  Check(why.ok());
  std::ostringstream shown;
  Warnings warnings{shown, err};
  if (!(why = WriteVp(list, output, shown, warnings)).ok()) {
    // Only folders an archive cannot hold are refused.
    Check(why.code == Code::kBadFolder || why.code == Code::kNameTooLong);
    return 0;
  }
  Check(output.Commit().ok());
  CheckWritten(list);
  return 0;
}
