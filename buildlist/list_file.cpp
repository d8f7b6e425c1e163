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

Status OpenListFile(const std::string& path, std::ifstream* in) {
  host::FileInfo info;
  if (Status s = host::StatPath(path, &info); !s.ok()) return s;
  if (info.kind != host::FileKind::kRegular) {
    return Status::Error(Code::kNotRegular, path, "not a regular file");
  }
  if (!host::OpenStream(path, in)) return Status::Error(Code::kIoError, path, "cannot be opened for reading");
  return Status::Ok();
}

Status WriteListFile(const BuildList& list, const std::string& path) {
  host::AtomicOutputFile out;
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
