#include "buildlist/list_file.h"

#include "buildlist/read_text.h"
#include "host/host.h"

namespace quarrion {

ListEntry MakeListEntry(const BuildList& list, std::size_t index) {
  const FileRecord& r = list.files[index];
  return ListEntry{std::string(r.name()), r.path, r.folder};
}

void WriteListEntry(std::string* out, const ListEntry& entry) {
  for (const std::string* line : {&entry.name, &entry.path, &entry.folder}) {
    out->append(*line);
    out->append("\r\n");
  }
}

std::istream& ReadListEntry(std::istream& in, ListEntry& entry) {
  ReadLine(in, entry.name);
  ReadLine(in, entry.path);
  ReadLine(in, entry.folder);
  return in;
}

bool OpenListFile(const std::string& path, std::ifstream* in, Status* why) {
  host::FileInfo info;
  if (!host::StatPath(path, &info, why)) return false;
  if (info.kind != host::FileKind::kRegular) {
    if (why != nullptr) *why = Status::Error(Code::kNotRegular, path + ": not a regular file");
    return false;
  }
  in->open(host::NativePath(path), std::ios::in | std::ios::binary);
  if (!in->is_open()) {
    if (why != nullptr)
      *why = Status::Error(Code::kIoError, path + ": cannot be opened for reading");
    return false;
  }
  return true;
}

bool WriteListFile(const BuildList& list, const std::string& path, Status* why) {
  host::AtomicOutputFile out;
  if (!out.Create(path, why)) return false;
  std::string text;
  for (std::size_t i = 0; i < list.size(); ++i) {
    WriteListEntry(&text, MakeListEntry(list, i));
    if (text.size() >= 64 * 1024) {
      if (!out.Write(text, why)) return false;
      text.clear();
    }
  }
  return out.Write(text, why) && out.Commit(why);
}

}  // namespace quarrion
