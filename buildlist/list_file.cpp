#include "buildlist/list_file.h"

#include <string_view>
#include <utility>

#include "base/read_text.h"
#include "host/host.h"
#include "host/output_file.h"

namespace quarrion {

namespace {

// The entry of record `index` (below the number of records).
ListEntry MakeListEntry(const BuildList& list, std::size_t index) {
  const FileRecord& r = list.files[index];
  return ListEntry{std::string(r.name()), r.path, r.folder};
}

// Appends the entry's three lines, each ended by CR LF, to `out`.
void WriteListEntry(std::string* out, const ListEntry& entry) {
  for (const std::string* line : {&entry.name, &entry.path, &entry.folder}) {
    out->append(*line);
    out->append("\r\n");
  }
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(const std::string& line) { return line.find_first_not_of(" \t") == std::string::npos; }

}  // namespace

bool ListReader::NextLine(std::string* line) {
  if (!ahead_.empty()) {
    *line = std::move(ahead_.front());
    ahead_.pop_front();
  } else {
    ReadLine(in_, *line);
    if (in_.fail()) return false;
    if (lines_ == 0 && line->starts_with(kByteOrderMark)) line->erase(0, kByteOrderMark.size());
  }
  ++lines_;
  return true;
}

bool ListReader::RestIsBlank() {
  for (;;) {
    std::string line;
    ReadLine(in_, line);
    if (in_.fail()) return true;
    const bool blank = IsBlank(line);
    ahead_.push_back(std::move(line));
    if (!blank) return false;
  }
}

bool ListReader::Next(ListEntry* entry) {
  first_ = lines_ + 1;
  int got = 0;
  bool blank = true;
  for (std::string* field : {&entry->name, &entry->path, &entry->folder}) {
    if (!NextLine(field)) break;
    ++got;
    blank = blank && IsBlank(*field);
  }
  // Blank lines at the end of the file make no entry, in any number.
  if (blank && (got < 3 || RestIsBlank())) return false;
  if (got == 3) return true;
  incomplete_ = got;
  return false;
}

Status OpenListFile(const std::string& path, std::ifstream* in) {
  host::FileInfo info;
  if (Status s = host::StatPath(path, &info); !s.ok()) return s;
  if (info.kind != host::FileKind::kRegular) {
    return Status::Error(Code::kNotRegular, path, "not a regular file");
  }
  if (!host::OpenStream(path, in)) {
    return Status::Error(Code::kIoError, path, "cannot be opened for reading");
  }
  return Status::Ok();
}

Status WriteListFile(const BuildList& list, const std::string& path) {
  for (const FileRecord& r : list.files) {
    for (const auto& [line, what] : {std::pair<std::string_view, const char*>{r.name(), "name"},
                                     {r.path, "source path"},
                                     {r.folder, "folder"}}) {
      if (line.find_first_of("\r\n") != std::string_view::npos) {
        return Status::Error(
            Code::kNotPlainName, RecordPath(r),
            std::string("its ") + what + " holds a line end, which a list file cannot hold");
      }
    }
  }
  host::OutputFile out;
  if (Status s = out.Create(path); !s.ok()) return s;
  std::string text;
  for (std::size_t i = 0; i < list.size(); ++i) {
    WriteListEntry(&text, MakeListEntry(list, i));
    if (text.size() >= 64 * 1024) {
      if (Status s = out.Write(text); !s.ok()) return s;
      text.clear();
    }
  }
  if (Status s = out.Write(text); !s.ok()) return s;
  return out.Commit();
}

}  // namespace quarrion
