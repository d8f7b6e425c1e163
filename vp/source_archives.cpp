#include "vp/source_archives.h"

namespace quarrion {

Status SourceArchives::Get(const std::string& archivePath, VpReader** reader) {
  auto it = readers_.find(archivePath);
  if (it != readers_.end() && !it->second.checked) {
    host::FileInfo info;
    if (Status s = host::StatPath(archivePath, &info); !s.ok()) {
      readers_.erase(it);
      return s;
    }
    const host::FileInfo& was = it->second.info;
    const bool unchanged = was.size == info.size && was.mtime == info.mtime &&
                           was.mtimeNsec == info.mtimeNsec && was.device == info.device &&
                           was.inode == info.inode;
    if (unchanged) {
      it->second.checked = true;
    } else {
      readers_.erase(it);
      it = readers_.end();
    }
  }
  if (it == readers_.end()) {
    auto fresh = std::make_unique<VpReader>();
    if (Status s = fresh->Open(archivePath); !s.ok()) return s;
    // The identity recorded is that of the file actually opened.
    Cached cached;
    cached.info = fresh->file().info();
    cached.reader = std::move(fresh);
    cached.checked = true;
    it = readers_.emplace(archivePath, std::move(cached)).first;
  }
  *reader = it->second.reader.get();
  return Status::Ok();
}

}  // namespace quarrion
