// The folder lister: listings with the statuses of their entries, read by
// two threads where the host can.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/status.h"
#include "host/host.h"

namespace quarrion::fastio {

// Lists folders one after another: the entry names in the host's order,
// without "." and "..", hidden entries included, with the status of
// every entry, read while the folder is open (relative to it, where the host
// can), so a walk needs no look at the entries by their whole paths. Where
// the host can, the statuses of a large folder are read by two threads; an
// exception that ends the second one's part fails the listing.
class FolderLister {
 public:
  FolderLister();
  ~FolderLister();
  FolderLister(const FolderLister&) = delete;
  FolderLister& operator=(const FolderLister&) = delete;

  Status List(const std::string& path, std::vector<host::FolderEntry>* entries);

 private:
  struct Helper;
  std::unique_ptr<Helper> helper_;
};

}  // namespace quarrion::fastio
