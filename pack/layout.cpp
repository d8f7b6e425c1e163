#include "pack/layout.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "vp/names.h"

namespace quarrion {
namespace {

// Byte-wise comparison as unsigned values; a prefix sorts first.
int CompareBytes(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  if (n > 0) {
    int c = std::memcmp(a.data(), b.data(), n);
    if (c != 0) return c;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

// Dense ranks of the records' keys: equal (folder, name) pairs get equal
// ranks, and a greater key a greater rank. The folders are ranked first
// (a list has few distinct ones), then the records are sorted on compact
// keys that hold the folder's rank and a copy of the name, so that the sort
// neither chases string pointers nor builds strings.
std::vector<std::uint32_t> KeyRanks(const std::vector<FileRecord>& files) {
  std::unordered_map<std::string_view, std::uint32_t> folderIds;
  std::vector<std::string_view> folders;
  std::vector<std::uint32_t> folderOf(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    auto [it, added] =
        folderIds.try_emplace(files[i].folder, static_cast<std::uint32_t>(folders.size()));
    if (added) folders.push_back(files[i].folder);
    folderOf[i] = it->second;
  }
  std::vector<std::uint32_t> byFolder(folders.size());
  std::iota(byFolder.begin(), byFolder.end(), 0u);
  std::sort(byFolder.begin(), byFolder.end(), [&folders](std::uint32_t a, std::uint32_t b) {
    return CompareBytes(folders[a], folders[b]) < 0;
  });
  std::vector<std::uint32_t> folderRank(folders.size());
  for (std::size_t r = 0; r < byFolder.size(); ++r) {
    folderRank[byFolder[r]] = static_cast<std::uint32_t>(r);
  }

  struct Key {
    std::uint32_t folder;
    std::uint32_t index;
    std::uint8_t nameLength;
    std::array<char, kNameFieldSize> name;
  };
  auto compare = [](const Key& a, const Key& b) {
    if (a.folder != b.folder) return a.folder < b.folder ? -1 : 1;
    return CompareBytes(std::string_view(a.name.data(), a.nameLength),
                        std::string_view(b.name.data(), b.nameLength));
  };
  std::vector<Key> keys(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    keys[i].folder = folderRank[folderOf[i]];
    keys[i].index = static_cast<std::uint32_t>(i);
    keys[i].name = files[i].entry.name;
    keys[i].nameLength = static_cast<std::uint8_t>(files[i].name().size());
  }
  std::sort(keys.begin(), keys.end(),
            [&compare](const Key& a, const Key& b) { return compare(a, b) < 0; });

  std::vector<std::uint32_t> rank(files.size());
  std::uint32_t current = 0;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (i > 0 && compare(keys[i - 1], keys[i]) != 0) ++current;
    rank[keys[i].index] = current;
  }
  return rank;
}

// Why `part`, a component of `folder`, cannot name a folder in the
// directory; the code and reason only.
Status CheckFolderComponent(const std::string& folder, const std::string& part) {
  const Status why = CheckName(part, NameUse::kFolder);
  if (why.ok()) return why;
  if (part.empty()) {
    return Status::Error(why.code, "", "the folder \"" + folder + "\" has an empty component");
  }
  return Status::Error(why.code, "", "the folder component \"" + part + "\" " + why.reason);
}

// Counters are summed in 64 bits and stored saturated; a list whose values
// do not fit is refused by CheckLayout before anything is written.
std::int32_t Saturate(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, 0, kMaxOffset));
}

}  // namespace

std::int32_t SplitComponents(std::string text, char separator, std::vector<std::string>* parts) {
  parts->assign(1, std::string());
  for (char c : text) {
    if (c == separator) {
      parts->emplace_back();
    } else {
      parts->back().push_back(c);
    }
  }
  return static_cast<std::int32_t>(parts->size());
}

// The order is the one a selection sort gives that, for m = n .. 1, takes
// the greatest of the first m records (the lowest position among equal
// ones) and swaps it with position m-1. Equal records thereby end in an
// order that depends on the swaps, so the same swaps are replayed here, but
// each maximum is found in O(log n) with a tournament tree over positions.
// A node holds its winner as one number, the key's rank in the high half
// and the complement of the position in the low half, so the greater of
// two numbers is the greater key and, among equal keys, the lower position.
// A retired position holds 0, which every record beats.
void SortFiles(BuildList& list) {
  std::vector<FileRecord>& files = list.files;
  const std::size_t n = files.size();
  if (n < 2) return;

  const std::vector<std::uint32_t> rank = KeyRanks(files);
  // at[p]: the original index of the record now standing at position p.
  std::vector<std::uint32_t> at(n);
  std::iota(at.begin(), at.end(), 0u);

  std::size_t leaves = 1;
  while (leaves < n) leaves *= 2;
  std::vector<std::uint64_t> tree(2 * leaves, 0);
  auto entry = [&](std::size_t p) {
    return (static_cast<std::uint64_t>(rank[at[p]]) << 32) | static_cast<std::uint32_t>(~p);
  };
  for (std::size_t p = 0; p < n; ++p) tree[leaves + p] = entry(p);
  for (std::size_t i = leaves - 1; i > 0; --i) tree[i] = std::max(tree[2 * i], tree[2 * i + 1]);
  auto replay = [&](std::size_t p) {
    for (std::size_t i = (leaves + p) / 2; i > 0; i /= 2) {
      tree[i] = std::max(tree[2 * i], tree[2 * i + 1]);
    }
  };

  for (std::size_t last = n; last-- > 0;) {
    const std::size_t b = ~static_cast<std::uint32_t>(tree[1]);
    std::swap(at[b], at[last]);
    tree[leaves + last] = 0;
    replay(last);
    if (b != last) {
      tree[leaves + b] = entry(b);
      replay(b);
    }
  }

  // Put the records in place, cycle by cycle, without a second vector.
  for (std::size_t start = 0; start < n; ++start) {
    if (at[start] == start) continue;
    FileRecord held = std::move(files[start]);
    std::size_t p = start;
    while (at[p] != start) {
      const std::size_t from = at[p];
      files[p] = std::move(files[from]);
      at[p] = static_cast<std::uint32_t>(p);
      p = from;
    }
    files[p] = std::move(held);
    at[p] = static_cast<std::uint32_t>(p);
  }
}

Layout LayoutTree(BuildList& list) {
  SortFiles(list);
  Layout layout;
  std::int64_t dataSize = 0;
  // Records at the archive's root (empty folder) sort first and open no
  // folder, so the previous folder starts out empty.
  std::string_view prev;
  for (FileRecord& r : list.files) {
    if (r.folder != prev) {
      DirNode node;
      node.folder = r.folder;
      node.depth = SplitComponents(r.folder, '\\', &node.parts);
      layout.dirs.push_back(std::move(node));
    }
    prev = r.folder;
    r.entry.offset = Saturate(dataSize + static_cast<std::int64_t>(kHeaderSize));
    dataSize += r.entry.size;
  }

  layout.dataSize = dataSize;
  layout.dirOffset = Saturate(dataSize + static_cast<std::int64_t>(kHeaderSize));
  return layout;
}

Status CheckLayout(const BuildList& list, const Layout& layout) {
  auto refuse = [](Code code, const FileRecord& r, const std::string& reason) {
    return Status::Error(code, RecordPath(r), reason);
  };

  std::int64_t end = static_cast<std::int64_t>(kHeaderSize);
  std::string_view prev;  // the root, which opens no folder
  std::size_t next = 0;   // index into layout.dirs of the folder that comes next
  for (const FileRecord& r : list.files) {
    if (r.entry.size < 0) return refuse(Code::kOutOfRange, r, "negative size");
    end += r.entry.size;
    if (end > kMaxOffset) {
      return refuse(Code::kTooLarge, r,
                    "the archive would pass 2147483647 bytes (its data would end at byte " +
                        std::to_string(end) + ")");
    }

    if (r.folder == prev) continue;
    prev = r.folder;
    for (const std::string& part : layout.dirs[next++].parts) {
      if (Status s = CheckFolderComponent(r.folder, part); !s.ok()) {
        return refuse(s.code, r, s.reason);
      }
    }
  }
  return Status::Ok();
}

}  // namespace quarrion
