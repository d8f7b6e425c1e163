// What extracting an archive needs of the host: folders held open while
// files are written into them, walked one name at a time without following
// symbolic links, so that no name an archive carries and no link planted in
// the target can send a write outside the target folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/status.h"
#include "host/host.h"

namespace quarrion::host {

// An open folder below which files are extracted.
class ExtractFolder {
 public:
  ExtractFolder() = default;
  ~ExtractFolder();
  ExtractFolder(const ExtractFolder&) = delete;
  ExtractFolder& operator=(const ExtractFolder&) = delete;
  ExtractFolder(ExtractFolder&& other) noexcept;
  ExtractFolder& operator=(ExtractFolder&& other) noexcept;

  // Opens the target folder `path`, creating it and its missing parents.
  // The path is the user's choice and may pass through links.
  Status OpenRoot(const std::string& path);

  // Opens the folder `name` directly inside this one into `child`, creating
  // it when missing. `name` must be one plain name. A symbolic link (or, on
  // Windows, any reparse point) is refused, never followed, and so is
  // anything else that is not a folder.
  Status OpenChild(const std::string& name, ExtractFolder* child) const;

  // Writes the file `name` in this folder: `length` bytes of `src` from
  // `offset`, modification time `mtime` (seconds since 1970 UTC), through
  // OutputFile::Create(*this, name): an existing file or link of that
  // name is replaced, never written through, and a failed write leaves it
  // as it was (and removes a file it made).
  Status WriteFile(const std::string& name, InputFile& src, std::int64_t offset,
                   std::int64_t length, std::int64_t mtime) const;
  // The same with the `length` bytes at `data` as the file's contents.
  Status WriteFile(const std::string& name, const char* data, std::size_t length,
                   std::int64_t mtime) const;

  // The folder's path, for messages.
  const std::string& path() const { return path_; }

 private:
  friend class OutputFile;  // creates files relative to handle_

  void Close();

  static constexpr std::intptr_t kInvalid = -1;
  std::intptr_t handle_ = kInvalid;
  std::string path_;
};

// Fails with kNotPlainName when `name`, a name that holds no separator,
// cannot name a file or folder on this host. Never on POSIX; on Windows the
// device names (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an
// extension), names ending in a dot or blank, and the characters < > " | ? *.
Status CheckHostName(std::string_view name);

}  // namespace quarrion::host
