// The checks behind -verify: every problem of an archive file, found from its
// header and directory (the files' data are never read). Every mode that
// reads an archive consults the same findings: what they report about the
// file as a whole refuses the archive, what they report about an entry
// refuses that entry.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "host/host.h"
#include "vp/format.h"

namespace quarrion {

// An entry the findings refuse, and why: its own first problem, or for a
// file or folder inside a folder that has a problem, that folder's.
struct EntryRefusal {
  std::size_t entry = 0;    // index in the directory
  std::size_t problem = 0;  // index in ArchiveFindings::problems
  bool inFolder = false;    // the problem is that of a folder around the entry
  bool data = false;        // the entry's data have a problem (put first, when they do)
};

struct ArchiveFindings {
  // One line per problem: those of the file as a whole (its header, the
  // place and size of its directory), those of each entry in directory
  // order, then the overlaps of file data.
  std::vector<std::string> problems;
  // How many of the first problems are those of the file as a whole.
  std::size_t wholeFile = 0;
  // Whether the last of them is bytes after the directory, which leave the
  // directory and every entry whole: such an archive is still read, with a
  // warning, where any other problem of the file as a whole refuses it.
  bool bytesAfterDirectory = false;
  // Every entry refused, in directory order.
  std::vector<EntryRefusal> refused;
  std::int64_t files = 0;  // file entries
  std::int64_t bytes = 0;  // their sizes summed, negative ones left out

  // Why entry `entry` may not be used; null when it may.
  const EntryRefusal* Refusal(std::size_t entry) const;
  // True when the directory can be read whole: no problem of the file as a
  // whole but bytes after the directory.
  bool DirectoryWhole() const { return wholeFile == (bytesAfterDirectory ? 1u : 0u); }
  // The problems of the file as a whole.
  std::vector<std::string> WholeFileProblems() const {
    return {problems.begin(), problems.begin() + static_cast<std::ptrdiff_t>(wholeFile)};
  }
};

// The first entry of every path of a directory, a file's or a folder's, by
// the path with ASCII letter case ignored: the entry readers find. The check
// makes it on the way and hands it on.
class PathIndex {
 public:
  PathIndex();
  ~PathIndex();
  PathIndex(PathIndex&&) noexcept;
  PathIndex& operator=(PathIndex&&) noexcept;

  struct Found {
    std::size_t entry = 0;
    bool folder = false;
  };
  // The first entry of `path` (its folders and name joined with
  // backslashes, as -verify shows them) in the directory `entries` that was
  // checked, nothing when no entry has it.
  std::optional<Found> Find(const std::vector<VpDirEntry>& entries, std::string_view path) const;

  struct Table;  // the paths, in check.cpp

 private:
  friend class DirectoryCheck;
  std::unique_ptr<Table> table_;
};

// The check of one archive, fed its header and then its directory entry by
// entry, so that a reader that loads the directory checks it on the way.
class DirectoryCheck {
 public:
  // `entries` is the directory as it is loaded: entry i is in it when
  // Entry(i) is called, and it lives as long as the check.
  DirectoryCheck(std::int64_t fileSize, const std::vector<VpDirEntry>& entries,
                 ArchiveFindings* findings);
  ~DirectoryCheck();
  DirectoryCheck(const DirectoryCheck&) = delete;
  DirectoryCheck& operator=(const DirectoryCheck&) = delete;

  // Checks the header (of a file padded with zero bytes when it is shorter
  // than one): its length, magic and version, the directory offset, and the
  // entry count against the room the file has. Returns the number of
  // entries to read from header.dirOffset: the count, cut to what the file
  // holds, or 0 when the header leaves the directory unknown.
  std::int64_t Header(const VpHeader& header);
  // The next directory entry, `i` counting from 0.
  void Entry(std::size_t i);
  // After the last entry: the overlaps, and the refusals in order. The
  // index of the paths met goes to `paths` when given.
  void Finish(PathIndex* paths = nullptr);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// Checks the archive in `file`: a file shorter than the header, the magic,
// the version, a directory offset outside the file, an entry count that is
// negative or does not fit the file, bytes after the directory; for each
// entry a name not terminated within 32 bytes or not a plain name, an up
// entry that closes no folder, a file path equal to an earlier file's or
// folder's (or a folder path equal to an earlier file's) with letter case
// ignored, a negative size, data outside the data area, and data that
// overlap another file's. A problem in the header that leaves the directory
// unknown ends the check. Fails, the findings incomplete, only when the
// file cannot be read.
Status CheckArchive(host::InputFile& file, ArchiveFindings* findings);

}  // namespace quarrion
