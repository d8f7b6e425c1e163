// The thin platform layer: everything the tool needs of the operating system,
// with one implementation per host (the files host/*_posix.cpp and
// host/*_windows.cpp) and what is the same on every host in host_common.cpp.
//
// In memory every path keeps its backslashes as the user or the archive gave
// them, and every path and name is UTF-8 text (or bytes as a file or archive
// holds them); the functions here map a path to the host's form where it
// meets the file system (on POSIX every backslash is a separator; on Windows
// the path is turned into UTF-16).
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/interrupt.h"
#include "host/status.h"

namespace quarrion::host {

// The path as the host's file system functions take it: on POSIX every
// backslash becomes a slash; on Windows the path is used as given (the
// calls that take it turn it into UTF-16).
std::string NativePath(std::string_view path);

// Opens `in` on the file `path` for reading, in binary mode, taking the path
// as the host's own calls do (on Windows in UTF-16, long paths included).
// False when it cannot be opened.
bool OpenStream(const std::string& path, std::ifstream* in);

// True when `c` separates folders on this host ('\\' and '/' on both).
bool IsPathSeparator(char c);

// The separator that joins names to paths below `top`, a folder path as the
// user typed it, so that the paths shown read as typed: on Windows the
// backslash; elsewhere the last separator `top` holds, the backslash when it
// holds none.
char JoinSeparator(std::string_view top);

enum class FileKind { kMissing, kRegular, kFolder, kOther };

struct FileInfo {
  FileKind kind = FileKind::kMissing;
  std::int64_t size = 0;       // bytes (regular files)
  std::int64_t mtime = 0;      // seconds since 1970-01-01 UTC, not clamped
  std::int64_t mtimeNsec = 0;  // sub-second part, where the host has one
  std::uint64_t device = 0;    // identity of the file, for loop detection
  std::uint64_t inode = 0;     // and for noticing a replaced file
  // False when a regular file is known to be unreadable for this process
  // (its permissions refuse it); hosts that cannot tell without opening
  // the file leave it true, and the open says so later.
  bool readable = true;
};

// Status of `path`, following symbolic links. A path that does not exist (or a
// link whose target does not) gives kind kMissing and code kNotFound.
Status StatPath(const std::string& path, FileInfo* info);

// One entry of a folder listing with its status, links followed (a link
// counts as what it leads to). Kind kMissing when the status could not be
// read (a broken link, say): opening the entry by its path tells why.
struct FolderEntry {
  std::string name;
  FileInfo info;
};

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

  Status List(const std::string& path, std::vector<FolderEntry>* entries);

 private:
  struct Helper;
  std::unique_ptr<Helper> helper_;
};

// Seconds since 1970-01-01 UTC.
std::int64_t NowSeconds();

// A time as the archive stores it: clamped to 0 .. 2^31-1.
std::int32_t ClampTime(std::int64_t seconds);

// True when standard error is a terminal (progress display).
bool StderrIsTerminal();

// A file opened read-only. Open refuses anything that is not a regular file,
// without blocking on FIFOs or opening devices.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&& other) noexcept;

  Status Open(const std::string& path);
  void Close();
  bool is_open() const { return handle_ != kInvalid; }

  const std::string& path() const { return path_; }
  const FileInfo& info() const { return info_; }
  std::int64_t size() const { return info_.size; }

  // Reads up to `n` bytes at `offset` into `buf`; `*got` is the number read,
  // fewer only at the end of the file. False on a read error.
  Status ReadAt(std::int64_t offset, void* buf, std::size_t n, std::size_t* got);

  // The host's handle (a file descriptor or a HANDLE), for the kernel copy.
  std::intptr_t native() const { return handle_; }

 private:
  friend class FileOpener;

  static constexpr std::intptr_t kInvalid = -1;
  std::intptr_t handle_ = kInvalid;
  std::string path_;
  FileInfo info_;
};

// Opens the disk files of an archive being written, one after another and
// mostly several in a row from one folder. The folder of the last file stays
// open and the next file in it is opened relative to it, which spares the
// kernel the walk of the whole path for every file.
//
// The files were regular files when they were added, and their sizes were
// read then; Open reads no status again (info() stays empty). What changed
// since shows up in the copy: AtomicOutputFile::CopyFrom with `wholeFile`
// refuses a source that is shorter or longer than recorded, and a folder or
// pipe swapped in cannot be read at a position.
class FileOpener {
 public:
  FileOpener();
  ~FileOpener();
  FileOpener(const FileOpener&) = delete;
  FileOpener& operator=(const FileOpener&) = delete;

  // The paths Open will be asked for, in this order; the strings must
  // outlive the opener. Where the host can, the files are opened ahead on a
  // thread of their own, a bounded number at a time, so that the opens
  // overlap the copies. A path asked for out of this order ends the plan.
  void Expect(std::vector<const std::string*> paths);

  // The most descriptors the thread that opens files ahead holds at once,
  // counting those handed to the copy and not yet closed; set from the
  // limit on open files. 0 where no files are opened ahead.
  static std::size_t MostOpenAhead();

  // Fails with the reason the file cannot be opened, or when the thread
  // that opens files ahead was stopped by an exception (out of memory, say).
  Status Open(const std::string& path, InputFile* file);

  // Closes a file opened here; where files are opened ahead, their thread
  // does it. The copy holds one file at a time: Open the next one only
  // after this for the last.
  void Close(InputFile* file);

 private:
  struct Ahead;

  static constexpr std::intptr_t kInvalid = -1;
  std::string folder_;  // the open folder, in the host's form
  std::intptr_t handle_ = kInvalid;
  std::unique_ptr<Ahead> ahead_;
};

class ExtractFolder;  // host/extract.h

// An output file that replaces its target only when everything was written:
// data go to a temporary file in the target's folder, and Commit closes it
// and renames it over the target. An uncommitted file is removed by the
// destructor, so a failed write leaves the target as it was, and by the
// interruption handlers (host/interrupt.h) while it is registered there.
// On POSIX a file extracted under a name that is still free is made at that
// name, with no temporary file and no rename, and removed the same way.
//
// Durability: nothing is flushed to the disk before the rename. The rename
// makes the new file replace its target in one step, so a reader sees the
// old file or the whole new one; but after a power cut a file written just
// before may be incomplete. Where that matters, run `sync` after quarrion.
class AtomicOutputFile {
 public:
  AtomicOutputFile() = default;
  ~AtomicOutputFile();
  AtomicOutputFile(const AtomicOutputFile&) = delete;
  AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

  // Writes the file at the path `target`; a file it replaces keeps its mode.
  // Where `target` is a symbolic link (on POSIX), the file at the end of its
  // chain of links is written, through a temporary file beside it, and the
  // link stays as it is. Fails, making nothing, when the interruption
  // handlers could not remove the temporary file (RemoveOnInterrupt::Set).
  Status Create(const std::string& target);

  // Writes the file `name`, one plain name, directly in `folder`, which must
  // stay open until the file is committed or discarded. The temporary file
  // is made in that folder without following links, and the commit
  // replaces a file or link of that name without writing through it. The
  // new file gets the usual mode for new files. On POSIX, where nothing has
  // that name yet, the file is made exclusively at the name itself; the
  // create holds interruptions back on this thread (the only one that may
  // take them while it writes files this way).
  Status Create(const ExtractFolder& folder, const std::string& name);

  // Appends bytes (buffered).
  Status Write(const void* data, std::size_t n);
  Status Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }

  // Appends exactly `length` bytes of `src` starting at `offset`, with the
  // kernel's file-to-file copy where the host has one. A source that delivers
  // fewer bytes is an error (kChanged) naming the source; with `wholeFile`,
  // so is one that holds more (the copy asks for one byte beyond, which
  // costs nothing extra where the kernel copies).
  Status CopyFrom(InputFile& src, std::int64_t offset, std::int64_t length, bool wholeFile = false);

  // Overwrites bytes that were already written (the header's entry count).
  Status WriteAt(std::int64_t offset, const void* data, std::size_t n);

  // Sets the file's modification time (seconds since 1970 UTC); after the
  // last write, which would set it again.
  Status SetModified(std::int64_t seconds);

  // Bytes appended so far.
  std::int64_t position() const { return position_; }

  Status Commit();
  void Discard();

  // The target as messages name it.
  const std::string& target() const { return target_; }

 private:
  void Reset(const std::string& target);
  // Creates the temporary file beside `beside`, relative to `folder`, with
  // the permissions `mode` (POSIX) before the umask.
  Status OpenTemp(const std::string& beside, std::intptr_t folder, int mode);
  Status FlushBuffer();
  // Writes `n` bytes at the end of what the file holds (at flushed_).
  Status WriteOut(const char* p, std::size_t n);

  static constexpr std::intptr_t kInvalid = -1;
  std::intptr_t handle_ = kInvalid;
  std::string target_;
  std::intptr_t folder_ = RemoveOnInterrupt::kNoFolder;  // what the names below are relative to
  std::string finalName_;        // what Commit renames the temporary file to
  std::string tempName_;         // the file Discard removes (finalName_ when atName_), or ""
  bool inFolder_ = false;        // made by Create(folder, name)
  bool atName_ = false;          // made at finalName_ itself: Commit renames nothing
  RemoveOnInterrupt interrupt_;  // tempName_, from before it is created until it is gone
  std::string buffer_;
  std::int64_t position_ = 0;  // logical size: file bytes plus buffered bytes
  std::int64_t flushed_ = 0;   // bytes already in the file
};

}  // namespace quarrion::host
