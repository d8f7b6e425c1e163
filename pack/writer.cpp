#include "pack/writer.h"

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/batch_io.h"
#include "pack/layout.h"
#include "vp/coding.h"
#include "vp/format.h"
#include "vp/names.h"
#include "vp/reader.h"
#include "vp/source_archives.h"

namespace quarrion {
namespace {

// The directory is collected in memory and handed to the output in chunks
// of about this size.
constexpr std::size_t kDirectoryChunk = 256 * 1024;

// True when the record's data come out of another archive.
bool FromSourceArchive(const FileRecord& r) { return r.source == FileRecord::Source::kArchive; }

// Copies the `size` bytes of a file on disk. The file must still have the
// length it had when it was added: the offsets of everything after it were
// computed from that length, so the copy fails on a file that is shorter or
// longer now.
Status CopyDiskFile(const FileRecord& r, host::FileOpener& opener, host::AtomicOutputFile& out) {
  host::InputFile src;
  if (Status s = opener.Open(r.path, &src); !s.ok()) return s;
  Status copied = out.CopyFrom(src, 0, r.entry.size, /*wholeFile=*/true);
  opener.Close(&src);
  return copied;
}

// The disk files of a list, in the order they are copied: the small ones
// read in batches where the host can, the others opened ahead where it can.
class DiskFiles {
 public:
  explicit DiskFiles(const BuildList& list);

  // Copies the data of list.files[i], a file on disk, and where they were
  // read in one piece those of the batched files right after it; `*count`
  // is how many files that was.
  Status Copy(std::size_t i, host::AtomicOutputFile& out, std::size_t* count);

 private:
  const std::vector<FileRecord>& files_;
  std::vector<char> batched_;  // 1: read by batch_
  std::unique_ptr<host::BatchReader> batch_;
  host::FileOpener opener_;     // the files not batched
  host::FileOpener unplanned_;  // the batched files the batch could not read as planned
  std::size_t runEnd_ = 0;      // the end of the run of batched files at hand
};

DiskFiles::DiskFiles(const BuildList& list) : files_(list.files), batched_(files_.size(), 0) {
  std::vector<host::BatchSource> small;
  for (std::size_t i = 0; i < files_.size(); ++i) {
    const FileRecord& r = files_[i];
    if (!FromSourceArchive(r) && r.entry.size <= host::BatchReader::kMaxFileSize) {
      small.push_back(host::BatchSource{&r.path, r.entry.size});
      batched_[i] = 1;
    }
  }
  batch_ = host::BatchReader::Start(std::move(small));
  if (batch_ == nullptr) std::fill(batched_.begin(), batched_.end(), 0);
  std::vector<const std::string*> paths;
  for (std::size_t i = 0; i < files_.size(); ++i) {
    if (!batched_[i] && !FromSourceArchive(files_[i])) paths.push_back(&files_[i].path);
  }
  opener_.Expect(std::move(paths));
}

Status DiskFiles::Copy(std::size_t i, host::AtomicOutputFile& out, std::size_t* count) {
  *count = 1;
  if (!batched_[i]) return CopyDiskFile(files_[i], opener_, out);
  if (runEnd_ <= i) {
    runEnd_ = i;
    while (runEnd_ < files_.size() && batched_[runEnd_]) ++runEnd_;
  }
  const char* data = nullptr;
  std::size_t bytes = 0;
  std::size_t taken = 0;
  if (Status s = batch_->Take(runEnd_ - i, &data, &bytes, &taken); !s.ok()) return s;
  if (taken == 0) return CopyDiskFile(files_[i], unplanned_, out);  // says why, or copies it
  *count = taken;
  return out.Write(data, bytes);
}

// Copies the data of the record's entry out of its source archive. The
// entry must still be the file it was when the record was made (the
// archive is read again when it changed on disk since), and one that
// -verify does not report.
Status CopyArchivedFile(const FileRecord& r, host::AtomicOutputFile& out,
                        SourceArchives& archives) {
  VpReader* reader = nullptr;
  if (Status s = archives.Get(r.sourceArchive, &reader); !s.ok()) return s;
  const std::vector<VpDirEntry>& entries = reader->entries();
  if (r.sourceEntry < 0 || static_cast<std::uint64_t>(r.sourceEntry) >= entries.size()) {
    return Status::Error(Code::kNoSuchEntry, r.path,
                         "the archive holds no entry " + std::to_string(r.sourceEntry));
  }
  const auto index = static_cast<std::size_t>(r.sourceEntry);
  const VpDirEntry& e = entries[index];
  if (ClassifyEntry(e) != EntryKind::kFile || e.size != r.entry.size ||
      e.timestamp != r.entry.timestamp) {
    return Status::Error(Code::kChanged, r.path,
                         "changed since it was added (entry " + std::to_string(index) + " is now " +
                             std::to_string(e.size) + " bytes, was " +
                             std::to_string(r.entry.size) + ")");
  }
  const ArchiveFindings& findings = reader->findings();
  if (const EntryRefusal* refused = findings.Refusal(index); refused != nullptr) {
    return Status::Error(
        Code::kBrokenEntry, r.path,
        std::string(refused->inFolder ? "in folder " : "") + findings.problems[refused->problem]);
  }
  if (!reader->EntryDataInFile(e)) {
    return Status::Error(Code::kOutOfRange, r.path,
                         "the data run past the end of the source archive");
  }
  return out.CopyFrom(reader->file(), e.offset, e.size);
}

// The number of leading components two folders share.
std::size_t CommonParts(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  std::size_t c = 0;
  while (c < a.size() && c < b.size() && a[c] == b[c]) ++c;
  return c;
}

// Writes the directory: at every change of folder, up entries out of the
// folders the next one does not share and folder entries into the new ones,
// then the file entries. Records at the archive's root stand before the
// first folder entry. Folder and up entries carry the end of the data of the
// first record of the folder they lead to (the entries that open the first
// folder included). File entries get their times from `times`. Counts the
// entries written in `*written`.
Status WriteDirectory(const BuildList& list, const Layout& layout, const EntryTimes& times,
                      host::AtomicOutputFile& out, std::int64_t* written) {
  static const std::vector<std::string> kRoot;
  const std::vector<std::string>* current = &kRoot;
  std::string_view currentFolder;
  std::size_t next = 0;  // index into layout.dirs of the folder that comes next

  std::string chunk;
  chunk.reserve(kDirectoryChunk + 64 * kDirEntrySize);
  *written = 0;
  for (const FileRecord& r : list.files) {
    if (r.folder != currentFolder) {
      const DirNode& node = layout.dirs[next++];
      const std::int32_t offset = r.entry.offset + r.entry.size;
      const std::size_t common = CommonParts(*current, node.parts);
      for (std::size_t k = common; k < current->size(); ++k) WriteUpEntry(&chunk, offset);
      for (std::size_t k = common; k < node.parts.size(); ++k) {
        WriteFolderEntry(&chunk, node.parts[k], offset);
      }
      *written += static_cast<std::int64_t>(current->size() - common + node.parts.size() - common);
      current = &node.parts;
      currentFolder = node.folder;
    }
    VpDirEntry file = r.entry;
    file.timestamp = times.For(file.timestamp);
    // Size 0 and time 0 would read back as a folder (the file lost, the
    // files after it moved into a folder of its name): an empty file
    // stamped with the epoch gets the second after it.
    if (ClassifyEntry(file) != EntryKind::kFile) file.timestamp = 1;
    WriteEntry(&chunk, file);
    ++*written;
    if (chunk.size() >= kDirectoryChunk) {
      if (Status s = out.Write(chunk); !s.ok()) return s;
      chunk.clear();
    }
  }
  return out.Write(chunk);
}

// The data pass: every file's bytes, in list order, right after the header.
// Tells `observer` of each folder as its data begin.
Status WriteData(const BuildList& list, const Layout& layout, host::AtomicOutputFile& out,
                 SourceArchives& sources, WriteObserver& observer) {
  DiskFiles disk(list);
  std::string_view told;
  std::int64_t doneBytes = 0;
  std::int64_t doneFiles = 0;
  observer.Begin(layout.dataSize, static_cast<std::int64_t>(list.files.size()));
  for (std::size_t i = 0; i < list.files.size();) {
    std::size_t count = 1;
    Status copied = FromSourceArchive(list.files[i]) ? CopyArchivedFile(list.files[i], out, sources)
                                                     : disk.Copy(i, out, &count);
    if (!copied.ok()) return copied;
    for (const std::size_t end = i + count; i < end; ++i) {
      const FileRecord& r = list.files[i];
      if (r.folder != told) {
        told = r.folder;
        observer.Folder(told);
      }
      doneBytes += r.entry.size;
      ++doneFiles;
      observer.Advance(doneBytes, doneFiles);
    }
  }
  observer.DataDone();
  if (out.position() != layout.header.dirOffset) {
    return Status::Error(
        Code::kIoError, out.target(),
        "the data area came out " +
            std::to_string(out.position() - static_cast<std::int64_t>(kHeaderSize)) +
            " bytes long instead of " + std::to_string(layout.dataSize));
  }
  return Status::Ok();
}

// Leaves out, with a warning that does not fail the run, every record whose
// source is the file the archive replaces (an archive written into the tree
// it packs): the old archive would be packed into the new one, which would
// grow with every run. Only records of the target's size and time are
// looked at again, for their identity.
void SkipArchiveBeingWritten(BuildList& list, const std::string& target, Warnings& warnings) {
  host::FileInfo old;
  if (!host::StatPath(target, &old).ok() || old.kind != host::FileKind::kRegular) return;
  if (old.device == 0 && old.inode == 0) return;  // a host that cannot tell
  const std::int32_t time = host::ClampTime(old.mtime);
  std::erase_if(list.files, [&](const FileRecord& r) {
    if (FromSourceArchive(r) || r.entry.size != old.size || r.entry.timestamp != time) {
      return false;
    }
    host::FileInfo info;
    if (!host::StatPath(r.path, &info).ok() || info.device != old.device ||
        info.inode != old.inode) {
      return false;
    }
    warnings.Note(r.path + ": is the archive being written, skipped");
    return true;
  });
}

// Writes the archive into `out`, created and not yet committed.
Status WriteVp(BuildList& list, host::AtomicOutputFile& out, Warnings& warnings,
               SourceArchives& sources, WriteObserver& observer, const EntryTimes& times) {
  SkipArchiveBeingWritten(list, out.target(), warnings);
  SkipFilesAtFolderPaths(list, warnings);
  const Layout layout = LayoutTree(list);
  if (Status s = CheckLayout(list, layout); !s.ok()) return s;
  if (list.files.empty()) warnings.Note(out.target() + " holds no files");
  WarnOfCaseClashes(list, warnings);

  std::string header;
  WriteHeader(&header, layout.header);
  if (Status s = out.Write(header); !s.ok()) return s;
  if (Status s = WriteData(list, layout, out, sources, observer); !s.ok()) return s;

  std::int64_t entries = 0;
  if (Status s = WriteDirectory(list, layout, times, out, &entries); !s.ok()) return s;
  if (entries > kMaxOffset) {
    return Status::Error(Code::kTooLarge, out.target(), "too many directory entries");
  }
  char count[4];
  EncodeInt32(count, static_cast<std::int32_t>(entries));
  return out.WriteAt(12, count, sizeof count);
}

}  // namespace

Status WriteArchive(BuildList& list, const std::string& target, Warnings& warnings,
                    WriteObserver* observer, SourceArchives* archives, const EntryTimes& times) {
  WriteObserver unobserved;
  // Each source archive is opened once for the whole write.
  SourceArchives local;
  SourceArchives& sources = archives != nullptr ? *archives : local;
  host::AtomicOutputFile out;
  Status why = out.Create(target);
  if (why.ok()) {
    why =
        WriteVp(list, out, warnings, sources, observer != nullptr ? *observer : unobserved, times);
  }
  sources.Clear();
  if (why.ok()) why = out.Commit();
  return why;
}

}  // namespace quarrion
