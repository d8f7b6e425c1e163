// The "vp" command over arbitrary archive bytes (typed as a ".vp" name) with
// arbitrary answers (as many bytes from the end as the first byte says): the
// walk ends, adds only the references it was told to take, each to the exact
// path of a file -verify does not report, and they write as an archive of
// exactly those files' bytes or are refused for a folder.
#include <algorithm>
#include <optional>
#include <sstream>
#include <string>

#include "buildlist/build_list.h"
#include "fuzz_util.h"
#include "host/host.h"
#include "pack/writer.h"
#include "shell/console.h"
#include "shell/modes.h"
#include "vp/format.h"
#include "vp/reader.h"

namespace {

using namespace quarrion;

const fuzz::Scratch& Archive() {
  static const fuzz::Scratch archive("walk", true);
  return archive;
}
// Where the added files are written.
const std::string& Output() {
  static const std::string output = fuzz::ScratchName("walk-out.vp");
  return output;
}

// The data of entry `e`; each check that reads one needs them whole.
std::string DataOf(VpReader& reader, const VpDirEntry& e) {
  Check(reader.EntryDataInFile(e));
  std::string bytes(static_cast<std::size_t>(e.size), '\0');
  std::size_t got = 0;
  Check(reader.file().ReadAt(e.offset, bytes.data(), bytes.size(), &got).ok());
  Check(got == bytes.size());
  return bytes;
}

// The archive written from `list` holds, in order, one file entry per
// record with the record's name, size and time, and the bytes of the
// record's entry in the source archive.
void CheckWritten(const BuildList& list) {
  VpReader out;
  Check(out.Open(Output()).ok());
  VpReader in;
  Check(in.Open(Archive().path).ok());
  std::size_t next = 0;
  for (std::size_t i = 0; i < out.entries().size(); ++i) {
    const VpDirEntry& e = out.entries()[i];
    if (ClassifyEntry(e) != EntryKind::kFile) continue;
    Check(next < list.files.size());
    const FileRecord& r = list.files[next++];
    Check(EntryName(e) == r.name() && e.size == r.entry.size && e.timestamp == r.entry.timestamp);
    Check(DataOf(out, e) == DataOf(in, in.entries()[static_cast<std::size_t>(r.sourceEntry)]));
  }
  Check(next == list.files.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::size_t answerBytes = 0;
  if (size > 0) {
    answerBytes = data[0] < size - 1 ? data[0] : size - 1;
    ++data;
    --size;
  }
  const std::size_t archiveBytes = size - answerBytes;
  Archive().Hold(data, archiveBytes);
  const std::string answers(reinterpret_cast<const char*>(data) + archiveBytes, answerBytes);

  BuildList list;
  std::istringstream in(Archive().path + "\n" + answers);
  std::ostringstream out;
  std::ostringstream err;
  Console console{in, out, err};
  ImportFromVp(list, console);

  // A record only for a file entry answered with y or Y, each a reference
  // to the exact path of an entry -verify does not report. (The console
  // text is no measure: the names in it may hold any bytes, the program's
  // own words included.)
  VpReader reader;
  const Status opened = reader.Open(Archive().path);
  Check(opened.ok() || opened.code == Code::kNotVpArchive);
  const auto files =
      std::count_if(reader.entries().begin(), reader.entries().end(),
                    [](const VpDirEntry& e) { return ClassifyEntry(e) == EntryKind::kFile; });
  Check(static_cast<std::ptrdiff_t>(list.files.size()) <= files);
  Check(list.files.size() <=
        answers.size() - std::count_if(answers.begin(), answers.end(),
                                       [](char c) { return c != 'y' && c != 'Y'; }));
  for (const FileRecord& r : list.files) {
    Check(r.source == FileRecord::Source::kArchive && r.sourceArchive == Archive().path);
    Check(r.sourceEntry >= 0 && static_cast<std::size_t>(r.sourceEntry) < reader.entries().size());
    const auto entry = static_cast<std::size_t>(r.sourceEntry);
    const VpDirEntry& e = reader.entries()[entry];
    Check(ClassifyEntry(e) == EntryKind::kFile && EntryName(e) == r.name());
    Check(reader.findings().Refusal(entry) == nullptr);
    const std::string path = reader.PathOf(entry);
    Check(r.path ==
          Archive().path + ":" + (path.find('\\') == std::string::npos ? "\\" : "") + path);
    Check(r.entry.size >= 0);
  }
  if (list.files.empty()) return 0;

  ConsoleWarnings warnings(out, err);
  if (Status why = WriteArchive(list, Output(), warnings); !why.ok()) {
    // Only folders an archive cannot hold are refused.
    Check(why.code == Code::kBadFolder || why.code == Code::kNameTooLong);
    return 0;
  }
  CheckWritten(list);
  return 0;
}
