#include "buildlist/add_file.h"

#include <optional>
#include <utility>

#include "host/host.h"
#include "vp/names.h"
#include "vp/reference.h"
#include "vp/source_archives.h"

namespace quarrion {
namespace {

// Size, time and entry of a file inside a source archive.
Status StatArchived(FileRecord* record, const FileSource& source, SourceArchives* archives,
                    SourceNotes* notes) {
  const std::string& archive = source.path;
  // Without a cache of the caller's, the archive is read for this call alone.
  SourceArchives once;
  if (archives == nullptr) archives = &once;
  VpReader* reader = nullptr;
  if (Status inner = archives->Get(archive, &reader); !inner.ok()) {
    return Status::Error(inner.code, source.Text(), "archive " + archive + ": " + inner.reason);
  }
  const ArchiveFindings& findings = reader->findings();
  if (notes != nullptr) notes->archiveProblems = findings.WholeFileProblems();
  const std::optional<FileMatch> match = reader->FindFile(source.inner);
  if (!match) {
    const bool path = source.inner.find('\\') != std::string::npos;
    return Status::Error(Code::kNoSuchEntry, source.Text(),
                         "archive " + archive + " holds no file " + (path ? "at" : "named") +
                             " \"" + source.inner + "\"");
  }
  // What -verify reports is never copied: its data, or its place, are wrong.
  if (const EntryRefusal* refused = findings.Refusal(match->entry); refused != nullptr) {
    return Status::Error(Code::kBrokenEntry, source.Text(),
                         "archive " + archive + ": " + (refused->inFolder ? "in folder " : "") +
                             findings.problems[refused->problem]);
  }
  if (notes != nullptr && match->sameName > 1) {
    notes->sameName = match->sameName;
    notes->taken = reader->PathOf(match->entry);
  }
  const VpDirEntry& e = reader->entries()[match->entry];
  record->entry.size = e.size;
  record->entry.timestamp = e.timestamp;
  record->sourceArchive = archive;
  record->sourceEntry = static_cast<std::int64_t>(match->entry);
  return Status::Ok();
}

// Size and time of a file on disk, from `status` when the caller has read
// it, else from a look at the path. Only a status is read: a file whose
// permissions refuse reading is refused now, and one that cannot be opened
// for another reason fails the write later, naming it. Folders, FIFOs and
// devices are refused without being opened.
Status StatDiskFile(FileRecord* record, const std::string& path, const host::FileInfo* status) {
  host::FileInfo looked;
  if (status == nullptr || status->kind == host::FileKind::kMissing) {
    if (Status s = host::StatPath(path, &looked); !s.ok()) return s;
    status = &looked;
  }
  if (status->kind != host::FileKind::kRegular) {
    return Status::Error(
        Code::kNotRegular, path,
        status->kind == host::FileKind::kFolder ? "is a folder, not a file" : "not a regular file");
  }
  if (!status->readable) return Status::Error(Code::kIoError, path, "permission denied");
  if (status->size > kMaxOffset) {
    return Status::Error(Code::kTooLarge, path,
                         std::to_string(status->size) + " bytes, too large (2 GiB or more)");
  }
  record->entry.size = static_cast<std::int32_t>(status->size);
  record->entry.timestamp = host::ClampTime(status->mtime);
  return Status::Ok();
}

// A record for `name`, or why the name cannot be one.
Status NamedRecord(const std::string& name, const std::string& source, FileRecord* record) {
  // Only such a name reads back as one file in one folder, and only one
  // that -verify and -extract accept.
  if (Status why = CheckName(name, NameUse::kFile); !why.ok()) {
    return Status::Error(why.code, source, "name \"" + name + "\" " + why.reason);
  }
  SetEntryName(&record->entry, name);
  return Status::Ok();
}

}  // namespace

Status AddFile(BuildList& list, const std::string& name, const FileSource& source,
               const std::string& folder, SourceArchives* archives, SourceNotes* notes) {
  FileRecord record;
  std::string text = source.Text();
  if (Status s = NamedRecord(name, text, &record); !s.ok()) return s;
  Status added = source.kind == FileRecord::Source::kArchive
                     ? StatArchived(&record, source, archives, notes)
                     : StatDiskFile(&record, source.path, nullptr);
  if (!added.ok()) return added;
  record.source = source.kind;
  record.path = std::move(text);
  record.folder = folder;
  list.files.push_back(std::move(record));
  return Status::Ok();
}

Status AddFile(BuildList& list, const std::string& name, const std::string& path,
               const std::string& folder, const host::FileInfo* status) {
  FileRecord record;
  if (Status s = NamedRecord(name, path, &record); !s.ok()) return s;
  if (Status s = StatDiskFile(&record, path, status); !s.ok()) return s;
  record.path = path;
  record.folder = folder;
  list.files.push_back(std::move(record));
  return Status::Ok();
}

std::optional<FileSource> ArchiveSourceOf(const std::string& line, SourceArchives& archives,
                                          const std::string* moveTo) {
  std::optional<VpReference> ref = SplitVpReference(line);
  if (!ref) return std::nullopt;
  if (moveTo != nullptr) ref->archive = MoveVpArchive(ref->archive, *moveTo);
  if (!IsVpSourceReference(line)) {
    // Without the mark, only an archive that is there makes a reference.
    VpReader* reader = nullptr;
    if (!archives.Get(ref->archive, &reader).ok()) return std::nullopt;
  }
  return FileSource::Archived(std::move(ref->archive), std::move(ref->inner));
}

}  // namespace quarrion
