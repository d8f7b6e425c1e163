// Arbitrary bytes as a VP archive, opened by path and through a source
// reference: the reader loads, looks up and reads them within the file, its
// answers agree with each other and with the findings of its check.
#include <algorithm>
#include <optional>
#include <string>

#include "buildlist/add_file.h"
#include "buildlist/build_list.h"
#include "fuzz_util.h"
#include "vp/format.h"
#include "vp/reader.h"
#include "vp/source_archives.h"

using namespace quarrion;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::Scratch archive("reader", true);
  archive.Hold(data, size);

  VpReader reader;
  const Status opened = reader.Open(archive.path);
  Check(opened.ok() || opened.code == Code::kNotVpArchive);
  Check(opened.ok() || reader.entries().empty());
  Check(reader.header().dirEntries == static_cast<std::int32_t>(reader.entries().size()));
  // No more entries than the file has room for after the header.
  Check(reader.entries().size() * kDirEntrySize <= size);

  // Every file entry is found by its own name and by its path (unless a
  // folder has that path first), at its index or at an earlier file of the
  // same name or path (a folder never), and read only when its data lie
  // inside the file.
  const char* input = reinterpret_cast<const char*>(data);
  std::string bytes;
  const auto& entries = reader.entries();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (ClassifyEntry(entries[i]) != EntryKind::kFile) continue;
    const std::string name(EntryName(entries[i]));
    std::string upper = name;
    for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    const std::optional<FileMatch> found = reader.FindFile(name);
    if (name.find('\\') == std::string::npos) {
      Check(found.has_value() && found->entry <= i && found->sameName >= 1);
      Check(ClassifyEntry(entries[found->entry]) == EntryKind::kFile);
      const std::optional<FileMatch> byUpper = reader.FindFile(upper);
      Check(byUpper.has_value() && byUpper->entry == found->entry);
    }
    const std::string path = reader.PathOf(i);
    if (path.find('\\') != std::string::npos && path.front() != '\\') {
      // Found, or a folder took the path first: then -verify reports the file.
      const std::optional<FileMatch> byPath = reader.FindFile(path);
      Check(byPath.has_value() || reader.findings().Refusal(i) != nullptr);
      Check(!byPath || byPath->entry <= i);
      Check(!byPath || reader.PathOf(byPath->entry).size() == path.size());
    }
    // -verify calls data outside the data area a problem of the entry.
    if (!reader.EntryDataInFile(entries[i])) {
      Check(reader.findings().Refusal(i) != nullptr && reader.findings().Refusal(i)->data);
    }
    if (reader.EntryDataInFile(entries[i])) {
      // The data lie in the file, so they are the input's own bytes.
      Check(static_cast<std::size_t>(entries[i].offset) + entries[i].size <= size);
      bytes.assign(static_cast<std::size_t>(entries[i].size), '\0');
      std::size_t got = 0;
      Check(reader.file().ReadAt(entries[i].offset, bytes.data(), bytes.size(), &got).ok());
      Check(got == bytes.size());
      Check(std::equal(bytes.begin(), bytes.end(), input + entries[i].offset));
    }
  }

  // A name taken from the tail of the input, whatever it holds.
  const std::size_t tail = size < kNameFieldSize + 8 ? size : kNameFieldSize + 8;
  const std::string probe(input + size - tail, tail);
  const std::optional<FileMatch> probed = reader.FindFile(probe);
  Check(!probed || probed->entry < entries.size());

  // The same bytes as the source archive of a reference: added only when
  // the file it names is one -verify does not report, with its size.
  SourceArchives archives;
  BuildList list;
  for (const std::string& name :
       {probe, entries.empty() ? std::string() : std::string(EntryName(entries.back()))}) {
    const std::size_t before = list.files.size();
    const Status added =
        AddFile(list, name, FileSource::Archived(archive.path, name), "data", &archives);
    Check(list.files.size() == before + (added.ok() ? 1 : 0));
    if (added.ok()) {
      const std::optional<FileMatch> i = reader.FindFile(name);
      Check(i.has_value() && list.files.back().entry.size == entries[i->entry].size);
      Check(list.files.back().sourceEntry == static_cast<std::int64_t>(i->entry));
      Check(reader.findings().Refusal(i->entry) == nullptr);
    } else {
      Check(!added.Message().empty());
    }
  }
  return 0;
}
