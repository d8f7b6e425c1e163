// The "vp" command over arbitrary archive bytes (typed as a ".vp" name) and
// answers (as many bytes from the end as the first byte says) ends, adds only
// the references it was told to take, each to the exact path of a file
// -verify does not report, which write as those files' bytes or are refused.
#include <algorithm>
#include <sstream>
#include <string>

#include "buildlist/build_list.h"
#include "fuzz_util.h"
#include "pack/writer.h"
#include "shell/console.h"
#include "shell/modes.h"
#include "vp/format.h"
#include "vp/reader.h"

namespace {

using namespace quarrion;

const std::string kArchive = fuzz::InputName("walk.vp");
const std::string kOutput = fuzz::ScratchName("walk-out.vp");  // where the added files go

// The archive written from `list` holds, in order, a file entry per record
// with its name, size and time and the bytes of its entry in the source.
void CheckWritten(const BuildList& list, VpReader& in) {
  VpReader out;
  Check(out.Open(kOutput).ok());
  std::size_t next = 0;
  for (const VpDirEntry& e : out.entries()) {
    if (ClassifyEntry(e) != EntryKind::kFile) continue;
    Check(next < list.files.size());
    const FileRecord& r = list.files[next++];
    Check(EntryName(e) == r.name() && e.size == r.entry.size && e.timestamp == r.entry.timestamp);
    Check(fuzz::DataOf(out, e) ==
          fuzz::DataOf(in, in.entries()[static_cast<std::size_t>(r.sourceEntry)]));
  }
  Check(next == list.files.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;  // a single byte runs an empty archive
  const std::size_t answerBytes = std::min<std::size_t>(*data++, --size);
  fuzz::Hold(kArchive, data, size - answerBytes);
  const std::string answers(reinterpret_cast<const char*>(data) + size - answerBytes, answerBytes);

  BuildList list;
  std::istringstream in(kArchive + "\n" + answers);
  std::ostringstream out, err;
  Console console{in, out, err};
  ImportFromVp(list, console);

  // A record only for a file entry answered with y or Y, each a reference to
  // the exact path of an entry -verify does not report. (Not the console
  // text: the names in it may hold any bytes, the program's words included.)
  VpReader reader;
  const Status opened = reader.Open(kArchive);
  Check(opened.ok() || opened.code == Code::kNotVpArchive);
  const auto& entries = reader.entries();
  std::size_t files = 0, yes = 0;
  for (const VpDirEntry& e : entries) files += ClassifyEntry(e) == EntryKind::kFile;
  for (const char c : answers) yes += c == 'y' || c == 'Y';
  Check(list.files.size() <= files && list.files.size() <= yes);
  for (const FileRecord& r : list.files) {
    Check(r.source == FileRecord::Source::kArchive && r.sourceArchive == kArchive);
    Check(r.sourceEntry >= 0 && static_cast<std::size_t>(r.sourceEntry) < entries.size());
    const auto entry = static_cast<std::size_t>(r.sourceEntry);
    Check(ClassifyEntry(entries[entry]) == EntryKind::kFile &&
          EntryName(entries[entry]) == r.name());
    Check(reader.findings().Refusal(entry) == nullptr && r.entry.size >= 0);
    const std::string path = reader.PathOf(entry);
    Check(r.path == kArchive + ":" + (path.find('\\') == std::string::npos ? "\\" : "") + path);
  }
  if (list.files.empty()) return 0;

  ConsoleWarnings warnings(out, err);
  if (Status why = WriteArchive(list, kOutput, warnings); !why.ok()) {
    // Only folders an archive cannot hold are refused.
    Check(why.code == Code::kBadFolder || why.code == Code::kNameTooLong);
    return 0;
  }
  CheckWritten(list, reader);
  return 0;
}
