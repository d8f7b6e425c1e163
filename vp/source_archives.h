// The source archives of one operation (a batch mode, one interactive
// command, one archive write): each archive is opened and its directory read
// once, however many references point into it.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>

#include "base/status.h"
#include "host/host.h"
#include "vp/reader.h"

namespace quarrion {

// The first use of an archive after the set was made or told to Recheck
// looks at the file on disk, and an archive that changed since it was read
// (size, time or identity) is read again; later uses trust the reader, since
// nothing waits in between.
class SourceArchives {
 public:
  // The reader for `archivePath` in `*reader`. Fails as VpReader::Open does
  // (the host's code, kNotFound for a missing file; kNotVpArchive).
  Status Get(const std::string& archivePath, VpReader** reader);

  // After a wait (for an answer typed at the console): the next use of each
  // archive looks at the file on disk again.
  void Recheck() {
    for (auto& [path, cached] : readers_) cached.checked = false;
  }

  // Closes every archive (before an output replaces one of them: some hosts
  // cannot replace an open file).
  void Clear() { readers_.clear(); }

 private:
  struct Cached {
    std::unique_ptr<VpReader> reader;
    host::FileInfo info;
    bool checked = false;  // looked at on disk since the last Recheck
  };
  std::unordered_map<std::string, Cached> readers_;
};

}  // namespace quarrion
