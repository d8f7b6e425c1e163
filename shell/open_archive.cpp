#include "shell/open_archive.h"

#include "base/text.h"
#include "vp/format.h"

namespace quarrion {

bool OpenArchive(const std::string& path, VpReader* reader, Console& console, Warnings& warnings) {
  Status why = reader->Open(path);
  if (why.ok()) {
    const ArchiveFindings& findings = reader->findings();
    const bool whole = findings.DirectoryWhole();
    for (std::size_t i = 0; i < findings.wholeFile; ++i) {
      const std::string text = path + ": " + findings.problems[i];
      if (whole) {
        warnings.Add(text);
      } else {
        console.Error(text);
      }
    }
    return whole;
  }
  if (why.code != Code::kNotVpArchive) {
    console.Error(Failure("cannot open archive", path, why));
  } else if (!MagicMatches(reader->header().magic)) {
    console.Error(path + ": not a VP archive (it does not begin with \"VPVP\")");
  } else {
    console.Error(path + ": not a VP archive of version 2 (version " +
                  std::to_string(reader->header().version) + ")");
  }
  return false;
}

std::string RefusalOf(const ArchiveFindings& findings, std::size_t i, const std::string& path) {
  const EntryRefusal* refused = findings.Refusal(i);
  if (refused == nullptr) return "";
  const std::string& problem = findings.problems[refused->problem];
  if (!refused->inFolder) return problem;
  return "entry " + std::to_string(i) + " (" + Printable(path) + "): in folder " + problem;
}

void SourceWarnings::Archive(const std::string& path, const std::vector<std::string>& problems) {
  if (problems.empty() || !warned_.insert(path).second) return;
  for (const std::string& problem : problems) {
    warnings_.Add("source archive " + path + ": " + problem);
  }
}

void SourceWarnings::Note(const FileSource& source, const SourceNotes& notes) {
  Archive(source.path, notes.archiveProblems);
  if (notes.sameName > 1) {
    warnings_.Add(source.Text() + ": the archive holds " + std::to_string(notes.sameName) +
                  " files named \"" + source.inner + "\"; the first, " + Printable(notes.taken) +
                  ", is used");
  }
}

}  // namespace quarrion
