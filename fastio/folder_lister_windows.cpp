// FolderLister on Windows: one FindFirstFile listing per folder, which
// carries the size and time of every plain file; folders, links and devices
// get a look of their own.
#include <windows.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fastio/folder_lister.h"
#include "host/windows_io.h"

namespace quarrion::fastio {
namespace {

using host::FileInfo;
using host::FileKind;
using host::FolderEntry;
using host::IsPathSeparator;
using host::StatPath;
using host::windows::Attributes;
using host::windows::SetTimeFromFileTime;
using host::windows::Utf8;
using host::windows::WidePath;
using host::windows::Win32Error;

// True when `path` names a folder (links followed).
bool IsFolder(const std::string& path) {
  DWORD attrs = Attributes(path);
  if (attrs == INVALID_FILE_ATTRIBUTES) return false;
  if (attrs & FILE_ATTRIBUTE_REPARSE_POINT) {
    // A link: what counts is what it leads to.
    FileInfo info;
    return StatPath(path, &info).ok() && info.kind == FileKind::kFolder;
  }
  return (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Lists the folder `path`, calling `take(found, name)` for every entry but
// "." and "..", with its name in UTF-8. False (with the reason) when the
// folder cannot be listed.
template <typename Take>
Status EachEntry(const std::string& path, Take take) {
  if (path.empty()) {
    return Win32Error(path, ERROR_PATH_NOT_FOUND);
  }
  // "dir\*"; a path that already ends in a separator or is a bare drive
  // ("C:", its current folder) takes the asterisk directly.
  std::string pattern = path;
  const char last = pattern.back();
  if (!IsPathSeparator(last) && last != ':') pattern += '\\';
  pattern += '*';

  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW(WidePath(pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    DWORD e = ::GetLastError();
    // Nothing matched: an empty folder (a drive's root has no "." entry),
    // unless the folder itself is missing.
    if (e == ERROR_FILE_NOT_FOUND && IsFolder(path)) return Status::Ok();
    return Win32Error(path, e);
  }
  do {
    const std::wstring_view n(found.cFileName);
    if (n == L"." || n == L"..") continue;
    take(found, Utf8(n));
  } while (::FindNextFileW(search, &found));
  DWORD e = ::GetLastError();
  ::FindClose(search);
  if (e != ERROR_NO_MORE_FILES) {
    return Win32Error(path, e);
  }
  return Status::Ok();
}

}  // namespace

// Windows reads the statuses of plain files with the listing itself.
struct FolderLister::Helper {};

FolderLister::FolderLister() = default;
FolderLister::~FolderLister() = default;

Status FolderLister::List(const std::string& path, std::vector<FolderEntry>* entries) {
  entries->clear();
  const char last = path.empty() ? '\\' : path.back();
  const std::string prefix = (IsPathSeparator(last) || last == ':') ? path : path + '\\';
  Status listed = EachEntry(path, [&](const WIN32_FIND_DATAW& found, std::string name) {
    FolderEntry& entry = entries->emplace_back();
    entry.name = std::move(name);
    const DWORD a = found.dwFileAttributes;
    if ((a & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_DIRECTORY)) ==
        0) {
      // A plain file: the listing has its size and time.
      entry.info.kind = FileKind::kRegular;
      entry.info.size = static_cast<std::int64_t>(
          (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow);
      SetTimeFromFileTime(found.ftLastWriteTime, &entry.info);
    } else {
      // Folders (whose identity the walk needs), links (what they lead to
      // counts) and devices get a look of their own. One that fails leaves
      // the kind kMissing: opening the entry by its path tells why.
      static_cast<void>(StatPath(prefix + entry.name, &entry.info));
    }
  });
  if (!listed.ok()) entries->clear();
  return listed;
}

}  // namespace quarrion::fastio
