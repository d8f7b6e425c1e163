#include "buildlist/build_list.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "host/host.h"
#include "vp/names.h"

namespace quarrion {

FileRecord::FileRecord() { entry.timestamp = host::ClampTime(host::NowSeconds()); }

std::string RecordPath(const FileRecord& record) {
  std::string path = record.folder;
  if (!path.empty()) path += '\\';
  path += record.name();
  return path;
}

namespace {

// A record's path as readers compare it, hashed: its folder by the number of
// the folder's case-folded form (a list has few distinct folders) and its
// name case-folded.
struct PathKey {
  std::uint64_t hash;
  std::uint32_t folder;
  std::uint32_t index;
  bool later;  // found to clash with an earlier record
};

std::vector<PathKey> PathKeys(const std::vector<FileRecord>& files) {
  std::unordered_map<std::string_view, std::uint32_t> folderIds;
  std::unordered_map<std::string, std::uint32_t> foldedIds;
  std::vector<PathKey> keys(files.size());
  const std::string* lastFolder = nullptr;  // records of a folder mostly come together
  std::uint32_t folder = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const FileRecord& r = files[i];
    if (lastFolder == nullptr || r.folder != *lastFolder) {
      auto found = folderIds.find(r.folder);
      if (found == folderIds.end()) {
        const auto id = static_cast<std::uint32_t>(foldedIds.size());
        const std::uint32_t folded = foldedIds.try_emplace(CaseFolded(r.folder), id).first->second;
        found = folderIds.emplace(r.folder, folded).first;
      }
      lastFolder = &r.folder;
      folder = found->second;
    }
    // FNV-1a over the folder's number and the case-folded name.
    std::uint64_t hash = 0xcbf29ce484222325ull;
    auto mix = [&hash](unsigned char byte) { hash = (hash ^ byte) * 0x100000001b3ull; };
    for (int shift = 0; shift < 32; shift += 8) mix(static_cast<unsigned char>(folder >> shift));
    for (char c : r.name()) mix(static_cast<unsigned char>(AsciiLower(c)));
    keys[i] = PathKey{hash, folder, static_cast<std::uint32_t>(i), false};
  }
  return keys;
}

}  // namespace

std::vector<std::pair<std::size_t, std::size_t>> FindCaseClashes(
    const std::vector<FileRecord>& files) {
  // Sorting the hashes brings equal paths side by side; records of equal
  // hash are then compared in full.
  std::vector<PathKey> keys = PathKeys(files);
  std::sort(keys.begin(), keys.end(), [](const PathKey& a, const PathKey& b) {
    return a.hash != b.hash ? a.hash < b.hash : a.index < b.index;
  });

  auto samePath = [&files](const PathKey& a, const PathKey& b) {
    return a.folder == b.folder && EqualCaseFolded(files[a.index].name(), files[b.index].name());
  };
  std::vector<std::pair<std::size_t, std::size_t>> clashes;
  for (std::size_t begin = 0, end = 0; begin < keys.size(); begin = end) {
    end = begin + 1;
    while (end < keys.size() && keys[end].hash == keys[begin].hash) ++end;
    // Within a run of equal hashes, in list order: each record against the
    // first records of the groups met so far.
    for (std::size_t k = begin + 1; k < end; ++k) {
      for (std::size_t j = begin; j < k; ++j) {
        if (!keys[j].later && samePath(keys[j], keys[k])) {
          clashes.emplace_back(keys[j].index, keys[k].index);
          keys[k].later = true;
          break;
        }
      }
    }
  }
  std::sort(clashes.begin(), clashes.end(),
            [](const auto& a, const auto& b) { return a.second < b.second; });
  return clashes;
}

void WarnOfCaseClashes(const BuildList& list, Warnings& warnings) {
  const auto clashes = FindCaseClashes(list.files);
  for (const auto& [first, later] : clashes) {
    const std::string a = RecordPath(list.files[first]);
    const std::string b = RecordPath(list.files[later]);
    warnings.Add(a == b ? a + " is listed twice" : a + " and " + b + " differ only in letter case");
  }
}

void SkipFilesAtFolderPaths(BuildList& list, Warnings& warnings) {
  // Every folder and every folder above one, case-folded, spelled as the
  // first record that has it spells it. A folder is entered with all those
  // above it, so the walk up stops at the first one known.
  std::unordered_map<std::string, std::string> folders;
  const std::string* lastFolder = nullptr;  // records of a folder mostly come together
  for (const FileRecord& r : list.files) {
    if (lastFolder != nullptr && r.folder == *lastFolder) continue;
    lastFolder = &r.folder;
    for (std::string_view folder = r.folder; !folder.empty();) {
      if (!folders.try_emplace(CaseFolded(folder), folder).second) break;
      const std::size_t cut = folder.rfind('\\');
      folder = folder.substr(0, cut == std::string_view::npos ? 0 : cut);
    }
  }
  if (folders.empty()) return;

  std::string key;
  std::optional<std::string> keyFolder;  // the folder whose folded form begins `key`
  std::size_t folderLength = 0;          // the length of that form and its backslash
  std::size_t kept = 0;
  for (std::size_t i = 0; i < list.files.size(); ++i) {
    FileRecord& r = list.files[i];
    if (!keyFolder || r.folder != *keyFolder) {
      keyFolder = r.folder;
      key = CaseFolded(r.folder);
      if (!key.empty()) key += '\\';
      folderLength = key.size();
    }
    key.resize(folderLength);
    for (char c : r.name()) key += AsciiLower(c);
    if (auto found = folders.find(key); found != folders.end()) {
      warnings.Add(RecordPath(r) + ": a file and a folder of the same path (" + found->second +
                   "), skipped");
      continue;
    }
    if (kept != i) list.files[kept] = std::move(r);
    ++kept;
  }
  list.files.erase(list.files.begin() + static_cast<std::ptrdiff_t>(kept), list.files.end());
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
