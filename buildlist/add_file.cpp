#include "buildlist/add_file.h"

#include <utility>

#include "host/host.h"
#include "vp/reader.h"

namespace quarrion {
namespace {

// Stores `status` in `why` when the caller asked for it; always false, so a
// refusal reads `return Refuse(why, ...)`.
bool Refuse(Status* why, Status status) {
  if (why != nullptr) *why = std::move(status);
  return false;
}

// A failure reported by a lower layer, restated with `path` in front. The
// lower layer's message begins with the name it was given; that part is
// replaced so the caller sees "<path>: <reason>" for every refusal.
Status Restate(const Status& inner, const std::string& innerName, const std::string& path,
               const std::string& context) {
  std::string reason = inner.message;
  const std::string prefix = innerName + ": ";
  if (reason.compare(0, prefix.size(), prefix) == 0) reason.erase(0, prefix.size());
  return Status::Error(inner.code, path + ": " + context + reason);
}

// Size and time of a file inside a source archive.
bool StatReference(FileRecord* record, const std::string& name, const std::string& path,
                   SourceArchives* archives, Status* why) {
  const std::string archivePath(VpArchivePath(path));
  // Without a cache of the caller's, the archive is read for this call alone.
  SourceArchives once;
  if (archives == nullptr) archives = &once;
  Status inner;
  VpReader* reader = archives->Get(archivePath, &inner);
  if (reader == nullptr) {
    return Refuse(why, Restate(inner, archivePath, path, "archive " + archivePath + ": "));
  }

  const std::int32_t i = reader->Find(name);
  if (i < 0) {
    return Refuse(why,
                  Status::Error(Code::kNoSuchEntry, path + ": archive " + archivePath +
                                                        " holds no file named \"" + name + "\""));
  }
  const VpDirEntry& e = reader->entries()[static_cast<std::size_t>(i)];
  // The writer copies exactly these bytes later; data that the archive does
  // not hold could only give a short or corrupt copy.
  if (!reader->EntryDataInFile(e)) {
    return Refuse(why,
                  Status::Error(Code::kOutOfRange, path + ": the data of \"" + name +
                                                       "\" lie outside archive " + archivePath));
  }
  record->size = e.size;
  record->entry.timestamp = e.timestamp;
  return true;
}

// Size and time of a file on disk, from `status` when the caller has read
// it, else from a look at the path. Only a status is read: a file whose
// permissions refuse reading is refused now, and one that cannot be opened
// for another reason fails the write later, naming it. Folders, FIFOs and
// devices are refused without being opened.
bool StatDiskFile(FileRecord* record, const std::string& path, const host::FileInfo* status,
                  Status* why) {
  host::FileInfo looked;
  if (status == nullptr || status->kind == host::FileKind::kMissing) {
    if (!host::StatPath(path, &looked, why)) return false;
    status = &looked;
  }
  if (status->kind != host::FileKind::kRegular) {
    return Refuse(why,
                  Status::Error(Code::kNotRegular, path + (status->kind == host::FileKind::kFolder
                                                               ? ": is a folder, not a file"
                                                               : ": not a regular file")));
  }
  if (!status->readable) {
    return Refuse(why, Status::Error(Code::kIoError, path + ": permission denied"));
  }
  if (status->size > kMaxOffset) {
    return Refuse(why, Status::Error(Code::kTooLarge, path + ": " + std::to_string(status->size) +
                                                          " bytes, too large (2 GiB or more)"));
  }
  record->size = static_cast<std::int32_t>(status->size);
  record->entry.timestamp = host::ClampTime(status->mtime);
  return true;
}

}  // namespace

bool AddFile(BuildList& list, const std::string& name, const std::string& path,
             const std::string& folder, Status* why, SourceArchives* archives,
             const host::FileInfo* status) {
  FileRecord record;
  if (!SetEntryName(&record.entry, name)) {
    return Refuse(why, Status::Error(Code::kNameTooLong,
                                     path + ": name \"" + name + "\" is longer than 31 bytes"));
  }
  // Only a plain name reads back as one file in one folder, and only one
  // that -verify and -extract accept.
  if (std::string problem = PlainNameProblem(name); !problem.empty()) {
    return Refuse(why,
                  Status::Error(Code::kNotPlainName, path + ": name \"" + name + "\" " + problem));
  }
  const bool added = IsVpSourceReference(path) ? StatReference(&record, name, path, archives, why)
                                               : StatDiskFile(&record, path, status, why);
  if (!added) return false;
  record.path = path;
  record.folder = folder;
  list.files.push_back(std::move(record));
  return true;
}

std::string MoveVpReference(const std::string& reference, std::string folder) {
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  // The file name of the archive (with the inner name) starts after the
  // last separator; a path without one is moved whole.
  std::size_t start = reference.size();
  while (start > 0 && !host::IsPathSeparator(reference[start - 1])) --start;
  return folder + reference.substr(start);
}

void SetVpPath(BuildList& list, std::string folder) {
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  for (FileRecord& record : list.files) {
    if (IsVpSourceReference(record.path)) record.path = MoveVpReference(record.path, folder);
  }
}

}  // namespace quarrion
