#include "buildlist/dir_import.h"

#include <algorithm>
#include <utility>

#include "buildlist/add_file.h"
#include "host/host.h"
#include "vp/names.h"

namespace quarrion {
namespace {

// Version-control folders of this name are never packed.
constexpr const char kCvsFolder[] = "CVS";

struct Subfolder {
  std::string name;
  host::FileInfo info;
};

struct ListedFile {
  std::string name;
  host::FileInfo info;  // as the listing read it (kind kMissing: unknown)
};

// One listing of `dirPath` with the status of every entry: the entries that
// are not folders, and the subfolders with their identity.
Status SplitFolder(host::FolderLister& lister, const std::string& dirPath,
                   std::vector<ListedFile>* files, std::vector<Subfolder>* subfolders) {
  files->clear();
  subfolders->clear();
  std::vector<host::FolderEntry> entries;
  if (Status s = lister.List(dirPath, &entries); !s.ok()) return s;
  for (host::FolderEntry& entry : entries) {
    if (entry.info.kind == host::FileKind::kFolder) {
      if (entry.name != kCvsFolder)
        subfolders->push_back(Subfolder{std::move(entry.name), entry.info});
    } else {
      // An entry whose status cannot be read (a broken link, say) goes to
      // the files, where AddFile refuses it with the reason.
      files->push_back(ListedFile{std::move(entry.name), entry.info});
    }
  }
  return Status::Ok();
}

class Walk {
 public:
  Walk(BuildList& list, ImportObserver& observer, Warnings& warnings, ImportStats* stats,
       const std::vector<Pattern>& excluded, std::size_t topFolderLength, char separator)
      : list_(list),
        observer_(observer),
        warnings_(warnings),
        stats_(stats),
        excluded_(excluded),
        topFolderLength_(topFolderLength),
        separator_(separator) {}

  // Walks `dirPath`, whose listing has already been split.
  void Folder(const std::string& dirPath, const std::string& folder,
              const std::vector<ListedFile>& files, const std::vector<Subfolder>& subfolders) {
    for (const ListedFile& file : files) {
      if (IsExcluded(folder, file.name)) continue;
      // Always a file on disk, whatever its path holds (odd.vp:1\data\x).
      Status added = AddFile(list_, file.name, Join(dirPath, file.name), folder, &file.info);
      if (added.ok()) {
        ++stats_->added;
      } else {
        Skip(added.Message());
      }
    }
    for (const Subfolder& sub : subfolders) {
      if (IsExcluded(folder, sub.name)) continue;
      const std::string subPath = Join(dirPath, sub.name);
      if (Status why = CheckName(sub.name, NameUse::kFolder); !why.ok()) {
        Skip(subPath + ": folder name \"" + sub.name + "\" " + why.reason);
        continue;
      }
      if (IsAncestor(sub.info)) {
        Skip(subPath + ": leads back to a folder that is being imported");
        continue;
      }
      Enter(subPath, folder + '\\' + sub.name, sub.info);
    }
  }

  void Enter(const std::string& dirPath, const std::string& folder, const host::FileInfo& info) {
    Announce(dirPath);
    std::vector<ListedFile> files;
    std::vector<Subfolder> subfolders;
    if (Status s = SplitFolder(lister_, dirPath, &files, &subfolders); !s.ok()) {
      Skip(s.Message());
      return;
    }
    ancestors_.push_back(info);
    Folder(dirPath, folder, files, subfolders);
    ancestors_.pop_back();
  }

  void Announce(const std::string& dirPath) { observer_.Folder(dirPath); }

  void PushAncestor(const host::FileInfo& info) { ancestors_.push_back(info); }

  host::FolderLister& lister() { return lister_; }

 private:
  // `name` below the folder `dirPath` on disk, one separator between them.
  std::string Join(const std::string& dirPath, const std::string& name) const {
    if (!dirPath.empty() && host::IsPathSeparator(dirPath.back())) return dirPath + name;
    return dirPath + separator_ + name;
  }

  // Whether an exclusion matches the file or folder `name` in the archive
  // folder `folder`: its name, or its path below the top folder.
  bool IsExcluded(const std::string& folder, const std::string& name) const {
    if (excluded_.empty()) return false;
    std::string path;
    if (folder.size() > topFolderLength_) path = folder.substr(topFolderLength_ + 1) + '\\';
    path += name;
    return std::any_of(excluded_.begin(), excluded_.end(),
                       [&](const Pattern& p) { return p.Matches(p.HasSeparator() ? path : name); });
  }

  bool IsAncestor(const host::FileInfo& info) const {
    // A host that cannot tell a folder's identity reports zeros; such a
    // folder is never taken for an ancestor.
    if (info.device == 0 && info.inode == 0) return false;
    return std::any_of(ancestors_.begin(), ancestors_.end(), [&](const host::FileInfo& a) {
      return a.device == info.device && a.inode == info.inode;
    });
  }

  void Skip(const std::string& message) {
    ++stats_->skipped;
    warnings_.Add(message + ", skipped");
  }

  BuildList& list_;
  ImportObserver& observer_;
  Warnings& warnings_;
  ImportStats* stats_;
  const std::vector<Pattern>& excluded_;
  std::size_t topFolderLength_;  // the length of the top's archive folder
  char separator_;               // joins names to paths on disk
  // The folders from the top down to the one being walked.
  std::vector<host::FileInfo> ancestors_;
  host::FolderLister lister_;
};

}  // namespace

Status ImportDirectory(BuildList& list, const std::string& dirPath, const std::string& folder,
                       ImportObserver& observer, Warnings& warnings, ImportStats* stats,
                       const std::vector<Pattern>& excluded) {
  ImportStats local;
  if (stats == nullptr) stats = &local;

  host::FileInfo info;
  if (Status s = host::StatPath(dirPath, &info); !s.ok()) return s;
  if (info.kind != host::FileKind::kFolder) {
    return Status::Error(Code::kNotRegular, dirPath, "not a folder");
  }
  Walk walk(list, observer, warnings, stats, excluded, folder.size(), host::JoinSeparator(dirPath));
  std::vector<ListedFile> files;
  std::vector<Subfolder> subfolders;
  if (Status s = SplitFolder(walk.lister(), dirPath, &files, &subfolders); !s.ok()) return s;
  walk.Announce(dirPath);
  walk.PushAncestor(info);
  walk.Folder(dirPath, folder, files, subfolders);
  return Status::Ok();
}

Status ImportDataDirectory(BuildList& list, const std::string& dataDirectory,
                           ImportObserver& observer, Warnings& warnings, ImportStats* stats,
                           const std::vector<Pattern>& excluded) {
  if (dataDirectory.empty()) {
    return Status::Error(Code::kNotFound, "", "no data directory given (the path is empty)");
  }
  return ImportDirectory(list, dataDirectory, "data", observer, warnings, stats, excluded);
}

}  // namespace quarrion
