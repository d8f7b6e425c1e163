#include "buildlist/add_file.h"

#include <optional>
#include <utility>

#include "host/host.h"
#include "vp/names.h"
#include "vp/reference.h"
#include "vp/source_archives.h"

namespace quarrion {
namespace {

// Size and time of a file inside a source archive.
Status StatReference(FileRecord* record, const std::string& name, const std::string& path,
                     SourceArchives* archives) {
  const std::string archivePath(VpArchivePath(path));
  // Without a cache of the caller's, the archive is read for this call alone.
  SourceArchives once;
  if (archives == nullptr) archives = &once;
  VpReader* reader = nullptr;
  if (Status inner = archives->Get(archivePath, &reader); !inner.ok()) {
    return Status::Error(inner.code, path, "archive " + archivePath + ": " + inner.reason);
  }
  const std::optional<std::size_t> i = reader->Find(name);
  if (!i) {
    return Status::Error(Code::kNoSuchEntry, path,
                         "archive " + archivePath + " holds no file named \"" + name + "\"");
  }
  const VpDirEntry& e = reader->entries()[*i];
  // The writer copies exactly these bytes later; data that the archive does
  // not hold could only give a short or corrupt copy.
  if (!reader->EntryDataInFile(e)) {
    return Status::Error(Code::kOutOfRange, path,
                         "the data of \"" + name + "\" lie outside archive " + archivePath);
  }
  record->entry.size = e.size;
  record->entry.timestamp = e.timestamp;
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

}  // namespace

Status AddFile(BuildList& list, const std::string& name, const std::string& path,
               const std::string& folder, SourceArchives* archives, const host::FileInfo* status) {
  // Only such a name reads back as one file in one folder, and only one
  // that -verify and -extract accept.
  if (Status why = CheckName(name, NameUse::kFile); !why.ok()) {
    return Status::Error(why.code, path, "name \"" + name + "\" " + why.reason);
  }
  FileRecord record;
  SetEntryName(&record.entry, name);
  Status added = IsVpSourceReference(path) ? StatReference(&record, name, path, archives)
                                           : StatDiskFile(&record, path, status);
  if (!added.ok()) return added;
  record.path = path;
  record.folder = folder;
  list.files.push_back(std::move(record));
  return Status::Ok();
}

}  // namespace quarrion
