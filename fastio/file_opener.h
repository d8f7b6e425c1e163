// Opening the source files of an archive being written: relative to the
// folder of the last one, and ahead on a thread of their own where the host
// can.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "base/status.h"
#include "host/host.h"

namespace quarrion::fastio {

// Opens the disk files of an archive being written, one after another and
// mostly several in a row from one folder. The folder of the last file stays
// open and the next file in it is opened relative to it, which spares the
// kernel the walk of the whole path for every file.
//
// The files were regular files when they were added, and their sizes were
// read then; Open reads no status again (info() stays empty). What changed
// since shows up in the copy: OutputFile::CopyFrom with `wholeFile`
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
  Status Open(const std::string& path, host::InputFile* file);

  // Closes a file opened here; where files are opened ahead, their thread
  // does it. The copy holds one file at a time: Open the next one only
  // after this for the last.
  void Close(host::InputFile* file);

 private:
  struct State;  // per host: the open folder, the files opened ahead
  std::unique_ptr<State> state_;
};

}  // namespace quarrion::fastio
