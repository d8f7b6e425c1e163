// A small result type for operations whose caller must say why they failed.
// The message names the file and the reason ("maps\a.pof: no such file");
// the shell adds context and prints it.
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
  kNotPlainName,  // a name that is not a plain name (PlainNameProblem)
  kBadFolder,     // a folder with a component an archive cannot hold (empty, "..", ":")
  kNotVpArchive,  // wrong magic or version
  kNoSuchEntry,   // the archive holds no entry of that name
  kOutOfRange,    // data that lie outside the file
  kChanged,       // a source whose size changed since it was added
  kIoError,       // anything the operating system refused
};

struct Status {
  Code code = Code::kOk;
  std::string message;

  bool ok() const { return code == Code::kOk; }
  static Status Ok() { return {}; }
  static Status Error(Code c, std::string msg) { return Status{c, std::move(msg)}; }
};

}  // namespace quarrion
