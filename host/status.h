// The result of an operation whose caller must say why it failed: what kind
// of failure (the code), the file it concerns and the reason, kept apart so
// that the shell composes the message once, where it prints it.
#pragma once

#include <string>
#include <utility>

namespace quarrion {

enum class Code {
  kOk,
  kNotFound,      // the file or folder does not exist
  kNotRegular,    // a folder, FIFO, socket, device or broken link
  kTooLarge,      // 2^31 bytes or more, or an archive that would pass 2^31-1
  kNameTooLong,   // a name or folder component of more than 31 bytes
  kNotPlainName,  // a name that is not a plain name (CheckName, vp/names.h)
  kBadFolder,     // a folder with a component an archive cannot hold (empty, "..", ":")
  kNotVpArchive,  // wrong magic or version
  kNoSuchEntry,   // the archive holds no file entry of that name or path
  kBrokenEntry,   // an archive entry that -verify reports (data outside, overlapping...)
  kOutOfRange,    // data that lie outside the file
  kChanged,       // a file not the length it had when it was added or its size was read
  kIoError,       // anything the operating system refused
  kBadPattern,    // a file pattern that cannot be used
  kBadTime,       // a time that is none of the forms read, or one an archive cannot hold
  kEndOfInput,    // the console's input ended before the answer the run needs
};

struct [[nodiscard]] Status {
  Code code = Code::kOk;
  std::string file;    // the file, folder or archive concerned; "" when none
  std::string reason;  // in this tool's words: "no such file or folder"

  bool ok() const { return code == Code::kOk; }
  // "<file>: <reason>", or the reason alone when no file is concerned.
  std::string Message() const { return file.empty() ? reason : file + ": " + reason; }

  static Status Ok() { return {}; }
  static Status Error(Code code, std::string file, std::string reason) {
    return Status{code, std::move(file), std::move(reason)};
  }
};

}  // namespace quarrion
