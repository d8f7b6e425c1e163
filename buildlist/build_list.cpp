#include "buildlist/build_list.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>

#include "host/host.h"

namespace quarrion {

FileRecord::FileRecord() { entry.timestamp = host::ClampTime(host::NowSeconds()); }

void BuildList::Reset() {
  dirEntryCount = 0;
  dirs.clear();
  fileCount = 0;
  files.clear();
  dataSize = 0;
}

std::string RecordPath(const FileRecord& record) {
  std::string path = record.folder;
  if (!path.empty()) path += '\\';
  path += record.name();
  return path;
}

std::vector<std::pair<std::size_t, std::size_t>> FindCaseClashes(
    const std::vector<FileRecord>& files) {
  // A list has few distinct folders: each gets the number of its lower-cased
  // form, and the records are sorted on compact keys of that number and the
  // lower-cased name, so that equal paths (case ignored) end up side by side.
  std::unordered_map<std::string_view, std::uint32_t> folderIds;
  std::unordered_map<std::string, std::uint32_t> loweredIds;
  struct Key {
    std::uint32_t folder;
    std::uint32_t index;
    std::array<char, kNameFieldSize> name;  // lower-cased, NUL-padded
  };
  std::vector<Key> keys(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    const FileRecord& r = files[i];
    auto found = folderIds.find(r.folder);
    if (found == folderIds.end()) {
      std::string lowered = r.folder;
      for (char& c : lowered) c = AsciiLower(c);
      const auto id = static_cast<std::uint32_t>(loweredIds.size());
      found = folderIds.emplace(r.folder, loweredIds.try_emplace(lowered, id).first->second).first;
    }
    Key& key = keys[i];
    key.folder = found->second;
    key.index = static_cast<std::uint32_t>(i);
    key.name.fill('\0');
    const std::string_view name = r.name();
    std::transform(name.begin(), name.end(), key.name.begin(), AsciiLower);
  }
  std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
    if (a.folder != b.folder) return a.folder < b.folder;
    const int c = std::memcmp(a.name.data(), b.name.data(), kNameFieldSize);
    return c != 0 ? c < 0 : a.index < b.index;
  });

  std::vector<std::pair<std::size_t, std::size_t>> clashes;
  std::size_t first = 0;  // the first key of the current group
  for (std::size_t k = 1; k < keys.size(); ++k) {
    if (keys[k].folder == keys[first].folder && keys[k].name == keys[first].name) {
      clashes.emplace_back(keys[first].index, keys[k].index);
    } else {
      first = k;
    }
  }
  std::sort(clashes.begin(), clashes.end(),
            [](const auto& a, const auto& b) { return a.second < b.second; });
  return clashes;
}

int WarnOfCaseClashes(const BuildList& list, Warnings& warnings) {
  const auto clashes = FindCaseClashes(list.files);
  for (const auto& [first, later] : clashes) {
    const std::string a = RecordPath(list.files[first]);
    const std::string b = RecordPath(list.files[later]);
    warnings.Add(a == b ? a + " is listed twice" : a + " and " + b + " differ only in letter case");
  }
  return static_cast<int>(clashes.size());
}

std::int32_t FindFile(const BuildList& list, std::string_view name, std::string_view folder) {
  // The last match wins, so scan from the back and stop at the first hit.
  for (std::size_t i = list.files.size(); i-- > 0;) {
    const FileRecord& r = list.files[i];
    if (r.folder == folder && r.name() == name) return static_cast<std::int32_t>(i);
  }
  return -1;
}

bool RemoveFile(BuildList& list, std::string_view name, std::string_view folder) {
  std::int32_t i = FindFile(list, name, folder);
  if (i < 0) return false;
  list.files.erase(list.files.begin() + i);
  return true;
}

}  // namespace quarrion
