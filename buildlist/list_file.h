// List and configuration files: three lines per file (name, source path,
// folder), written with CR LF line ends on every host, read with LF or CR LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <fstream>
#include <istream>
#include <string>

#include "base/status.h"
#include "buildlist/build_list.h"

namespace quarrion {

struct ListEntry {
  std::string name;
  std::string path;
  std::string folder;
};

// Reads the entries of a list or configuration file, three lines each, in
// file order. A UTF-8 byte order mark at the start of the file is skipped,
// and the last line needs no line end. Blank lines (empty, or blanks and
// tabs only) at the end of the file are ignored; so is an entry that the
// file ends within, which incomplete() then tells.
class ListReader {
 public:
  explicit ListReader(std::istream& in) : in_(in) {}

  // Reads the next entry into `entry`; false at the end of the file.
  bool Next(ListEntry* entry);

  // The number of the first line of the entry read last (the first line of
  // the file is 1).
  std::int64_t line() const { return first_; }

  // After Next returned false: the number of lines (1 or 2) of an entry the
  // file ended within, whose first line is line(); 0 when it ended between
  // entries.
  int incomplete() const { return incomplete_; }

 private:
  // The next line, from the lines read ahead first; false at the end.
  bool NextLine(std::string* line);
  // Whether every line left is blank; the lines read to find out are kept
  // for NextLine.
  bool RestIsBlank();

  std::istream& in_;
  std::deque<std::string> ahead_;
  std::int64_t lines_ = 0;  // lines handed out so far
  std::int64_t first_ = 0;
  int incomplete_ = 0;
};

// Opens a list or configuration file for reading (binary; ReadLine drops the
// CR of CR LF). Never creates a file; refuses folders, FIFOs and devices.
Status OpenListFile(const std::string& path, std::ifstream* in);

// Writes every record of the list, in list order, to `path` through an
// output file: an existing file is replaced only when all was written.
// A name, path or folder that holds a line end (CR or LF) would put the
// lines out of step: it is refused (kNotPlainName, naming the record)
// before anything is written.
Status WriteListFile(const BuildList& list, const std::string& path);

}  // namespace quarrion
