#include "buildlist/dir_import.h"

#include <algorithm>
#include <utility>

#include "buildlist/add_file.h"
#include "host/host.h"
#include "vp/format.h"
#include "vp/reader.h"

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
bool SplitFolder(host::FolderLister& lister, const std::string& dirPath,
                 std::vector<ListedFile>* files, std::vector<Subfolder>* subfolders, Status* why) {
  files->clear();
  subfolders->clear();
  std::vector<host::FolderEntry> entries;
  if (!lister.List(dirPath, &entries, why)) return false;
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
  return true;
}

class Walk {
 public:
  Walk(BuildList& list, std::ostream& out, Warnings& warnings, ImportStats* stats)
      : list_(list), out_(out), warnings_(warnings), stats_(stats) {}

  // Walks `dirPath`, whose listing has already been split.
  void Folder(const std::string& dirPath, const std::string& folder,
              const std::vector<ListedFile>& files, const std::vector<Subfolder>& subfolders) {
    for (const ListedFile& file : files) {
      Status why;
      if (AddFile(list_, file.name, dirPath + '\\' + file.name, folder, &why, &archives_,
                  &file.info)) {
        ++stats_->added;
      } else {
        Skip(why.message);
      }
    }
    for (const Subfolder& sub : subfolders) {
      const std::string subPath = dirPath + '\\' + sub.name;
      if (sub.name.size() > kMaxNameLength) {
        Skip(subPath + ": folder name is longer than 31 bytes");
        continue;
      }
      if (std::string problem = PlainNameProblem(sub.name); !problem.empty()) {
        Skip(subPath + ": folder name \"" + sub.name + "\" " + problem);
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
    Status why;
    if (!SplitFolder(lister_, dirPath, &files, &subfolders, &why)) {
      Skip(why.message);
      return;
    }
    ancestors_.push_back(info);
    Folder(dirPath, folder, files, subfolders);
    ancestors_.pop_back();
  }

  void Announce(const std::string& dirPath) {
    out_ << "Adding directory: " << dirPath << '\n';
    out_.flush();
  }

  void PushAncestor(const host::FileInfo& info) { ancestors_.push_back(info); }

  host::FolderLister& lister() { return lister_; }

 private:
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
  std::ostream& out_;
  Warnings& warnings_;
  ImportStats* stats_;
  // The folders from the top down to the one being walked.
  std::vector<host::FileInfo> ancestors_;
  // References met in the tree ("x.vp:name" file names) read each archive once.
  SourceArchives archives_;
  host::FolderLister lister_;
};

}  // namespace

bool ImportDirectory(BuildList& list, const std::string& dirPath, const std::string& folder,
                     std::ostream& out, Warnings& warnings, ImportStats* stats, Status* why) {
  ImportStats local;
  if (stats == nullptr) stats = &local;

  host::FileInfo info;
  if (!host::StatPath(dirPath, &info, why)) return false;
  if (info.kind != host::FileKind::kFolder) {
    if (why != nullptr) *why = Status::Error(Code::kNotRegular, dirPath + ": not a folder");
    return false;
  }
  Walk walk(list, out, warnings, stats);
  std::vector<ListedFile> files;
  std::vector<Subfolder> subfolders;
  if (!SplitFolder(walk.lister(), dirPath, &files, &subfolders, why)) return false;
  walk.Announce(dirPath);
  walk.PushAncestor(info);
  walk.Folder(dirPath, folder, files, subfolders);
  return true;
}

bool ImportDataDirectory(BuildList& list, const std::string& dataDirectory, std::ostream& out,
                         Warnings& warnings, ImportStats* stats, Status* why) {
  return ImportDirectory(list, dataDirectory, "data", out, warnings, stats, why);
}

bool ListEntries(const std::string& dirPath, std::vector<std::string>* names, Status* why) {
  return host::ListFolder(dirPath, names, why);
}

bool ListDirectory(const std::string& dirPath, std::vector<std::string>* files,
                   std::vector<std::string>* subfolders, Status* why) {
  std::vector<ListedFile> listed;
  std::vector<Subfolder> found;
  files->clear();
  subfolders->clear();
  host::FolderLister lister;
  if (!SplitFolder(lister, dirPath, &listed, &found, why)) return false;
  files->reserve(listed.size());
  for (ListedFile& file : listed) files->push_back(std::move(file.name));
  subfolders->reserve(found.size());
  for (Subfolder& sub : found) subfolders->push_back(std::move(sub.name));
  return true;
}

std::vector<std::string> ListSubfolders(const std::string& dirPath) {
  std::vector<std::string> files;
  std::vector<std::string> subfolders;
  ListDirectory(dirPath, &files, &subfolders);
  return subfolders;
}

}  // namespace quarrion
