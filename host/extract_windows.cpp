// Extraction on Windows. Each folder on the way is opened without following
// reparse points (symbolic links, junctions, mount points) and held open
// without FILE_SHARE_DELETE, so it can be neither a link nor be renamed or
// replaced by one while files are written below it; a path built from held
// folders therefore always reaches the folder that was checked.
#include <windows.h>

#include <array>
#include <string>

#include "host/extract.h"
#include "host/windows_io.h"

namespace quarrion::host {
namespace {

using windows::AsHandle;
using windows::FromHandle;
using windows::Wide;
using windows::WidePath;
using windows::Win32Error;

wchar_t Upper(wchar_t c) {
  return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// Opens a folder for holding: no reparse point followed, and no one may
// delete or rename it while the handle is open.
HANDLE OpenHeldFolder(const std::string& path) {
  return ::CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

void ExtractFolder::Close() {
  if (handle_ != kInvalid) {
    ::CloseHandle(AsHandle(handle_));
    handle_ = kInvalid;
  }
}

Status ExtractFolder::OpenRoot(const std::string& path) {
  Close();
  path_ = path;
  if (path.empty()) {
    return Status::Error(Code::kNotFound, "", "no target folder given");
  }
  // Create the folders on the way; the open below tells whether it worked,
  // and a folder that could not be made (not for want of its parent) tells
  // why not.
  DWORD notMade = 0;
  for (std::size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '\\' || path[i] == '/') {
      if (path[i - 1] == '\\' || path[i - 1] == '/' || path[i - 1] == ':') continue;
      if (!::CreateDirectoryW(WidePath(path.substr(0, i)).c_str(), nullptr)) {
        const DWORD e = ::GetLastError();
        if (e != ERROR_ALREADY_EXISTS && e != ERROR_PATH_NOT_FOUND) notMade = e;
      }
    }
  }
  // The target itself may be reached through links: the user named it.
  HANDLE h = ::CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD e = ::GetLastError();
    // "Not found" only because it could not be made: say why not.
    const bool missing = e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
    return Win32Error(path, missing && notMade != 0 ? notMade : e);
  }
  BY_HANDLE_FILE_INFORMATION fi;
  if (!::GetFileInformationByHandle(h, &fi) || !(fi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ::CloseHandle(h);
    return Status::Error(Code::kNotRegular, path, "not a folder");
  }
  handle_ = FromHandle(h);
  // Below the target every path is built from here.
  if (!path_.empty() && path_.back() != '\\' && path_.back() != '/') path_ += '\\';
  return Status::Ok();
}

Status ExtractFolder::OpenChild(const std::string& name, ExtractFolder* child) const {
  const std::string full = path_ + name;
  if (!windows::IsSingleName(name)) {
    return Status::Error(Code::kBadFolder, full, "not a plain folder name");
  }
  if (!::CreateDirectoryW(WidePath(full).c_str(), nullptr) &&
      ::GetLastError() != ERROR_ALREADY_EXISTS) {
    return Win32Error(full, ::GetLastError());
  }
  HANDLE h = OpenHeldFolder(full);
  if (h == INVALID_HANDLE_VALUE) {
    return Win32Error(full, ::GetLastError());
  }
  BY_HANDLE_FILE_INFORMATION fi;
  if (!::GetFileInformationByHandle(h, &fi) || !(fi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (fi.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    ::CloseHandle(h);
    return Status::Error(Code::kNotRegular, full, "a symbolic link or not a folder (not followed)");
  }
  child->Close();
  child->handle_ = FromHandle(h);
  child->path_ = full + "\\";
  return Status::Ok();
}

bool windows::IsSingleName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("/\\:\0", 4)) == std::string::npos &&
         CheckHostName(name).ok();
}

Status CheckHostName(std::string_view name) {
  auto refuse = [](const char* reason) { return Status::Error(Code::kNotPlainName, "", reason); };
  if (name.find_first_of("<>\"|?*") != std::string_view::npos) {
    return refuse("holds a character Windows does not allow in names");
  }
  if (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
    return refuse("ends in a dot or blank, which Windows drops");
  }
  // Windows judges the name in UTF-16, as it will be made. A device name
  // stays a device with any extension and with blanks before the
  // extension: "nul", "NUL.txt", "Com1 .log".
  const std::wstring wide = Wide(name);
  std::wstring base = wide.substr(0, wide.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  for (wchar_t& c : base) c = Upper(c);
  static const std::array<const wchar_t*, 6> kDevices = {L"CON", L"PRN",    L"AUX",
                                                         L"NUL", L"CONIN$", L"CONOUT$"};
  for (const wchar_t* d : kDevices) {
    if (base == d) return refuse("is a device name on Windows");
  }
  if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0)) {
    // COM1-9 and LPT1-9, and the superscript digits 1, 2, 3.
    const wchar_t d = base[3];
    if ((d >= L'1' && d <= L'9') || d == L'\u00B9' || d == L'\u00B2' || d == L'\u00B3') {
      return refuse("is a device name on Windows");
    }
  }
  return Status::Ok();
}

}  // namespace quarrion::host
