// Arbitrary bytes as two archives for -diff, run as the program runs it: the
// input up to the first "@@NEW@@" is the old archive, the rest the new one
// (without the marker both are the whole input). After each input:
//  - -diff ends with status 0, 1 or 2; unless 2, it printed one line per
//    difference ("+ ", "- " or "~ " and a path) and the totals, which count
//    those lines and agree with the status;
//  - -diff -o prints the same and writes a patch, or fails with status 2
//    and writes nothing;
//  - a patch written is sound for -verify, and compared with the new
//    archive it lacks nothing it should not: every file of it is in the new
//    archive with the same data.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "shell/options.h"
#include "shell/run.h"

namespace {

using namespace quarrion;

void Fail(const char* what, int line) {
  std::fprintf(stderr, "diff_fuzzer.cpp:%d: check failed: %s\n", line, what);
  std::abort();
}
#define Check(cond) ((cond) ? (void)0 : Fail(#cond, __LINE__))

struct Files {
  std::string folder;  // holds the three files and nothing else
  std::string oldArchive;
  std::string newArchive;
  std::string patch;
};

const Files& TheFiles() {
  // Never destroyed: the clean-up at exit still reads it.
  static const Files& files = *new Files([] {
    Files f;
    std::string dir = "/tmp";
    if (const char* t = std::getenv("TMPDIR")) dir = t;
    f.folder = dir + "/quarrion-diff-fuzz-XXXXXX";
    if (::mkdtemp(f.folder.data()) == nullptr) std::abort();
    f.oldArchive = f.folder + "/old.vp";
    f.newArchive = f.folder + "/new.vp";
    f.patch = f.folder + "/patch.vp";
    std::atexit([] {
      for (const std::string* p :
           {&TheFiles().oldArchive, &TheFiles().newArchive, &TheFiles().patch}) {
        ::unlink(p->c_str());
      }
      ::rmdir(TheFiles().folder.c_str());
    });
    return f;
  }());
  return files;
}

void Put(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) std::abort();
  if (!bytes.empty() &&
      ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    std::abort();
  }
  ::close(fd);
}

struct Run {
  int status = 0;
  std::vector<std::string> lines;  // standard output after the banner
  std::string err;
};

Run Quarrion(const std::vector<std::string>& args) {
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  Run r;
  r.status = RunQuarrion(args, in, out, err);
  r.err = err.str();
  std::ostringstream banner;
  PrintBanner(banner, false);
  const std::string text = out.str();
  Check(text.compare(0, banner.str().size(), banner.str()) == 0);
  std::istringstream body(text.substr(banner.str().size()));
  for (std::string line; std::getline(body, line);) r.lines.push_back(line);
  return r;
}

// The totals line for the difference lines before `end`, counted.
std::string Totals(const std::vector<std::string>& lines, std::size_t end, long unchanged) {
  long added = 0, removed = 0, changed = 0;
  for (std::size_t i = 0; i < end; ++i) {
    const std::string& l = lines[i];
    Check(l.size() >= 2 && l[1] == ' ');  // an empty name gives an empty path
    added += l[0] == '+';
    removed += l[0] == '-';
    changed += l[0] == '~';
    Check(l[0] == '+' || l[0] == '-' || l[0] == '~');
  }
  return std::to_string(added) + " added, " + std::to_string(removed) + " removed, " +
         std::to_string(changed) + " changed, " + std::to_string(unchanged) + " unchanged";
}

// Checks the output of a -diff that compared; the number of unchanged files.
long CheckComparison(const Run& r, std::size_t end) {
  Check(end >= 1 && end <= r.lines.size());
  const std::string& totals = r.lines[end - 1];
  const std::size_t at = totals.rfind(" changed, ");
  Check(at != std::string::npos);
  const long unchanged = std::strtol(totals.c_str() + at + 10, nullptr, 10);
  Check(totals == Totals(r.lines, end - 1, unchanged));
  Check(r.status == (end == 1 ? 0 : 1));
  return unchanged;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Files& f = TheFiles();
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t marker = input.find("@@NEW@@");
  Put(f.oldArchive, marker == std::string_view::npos ? input : input.substr(0, marker));
  Put(f.newArchive, marker == std::string_view::npos ? input : input.substr(marker + 7));

  const Run diff = Quarrion({"-diff", f.oldArchive, f.newArchive});
  Check(diff.status == 0 || diff.status == 1 || diff.status == 2);
  if (diff.status == 2) {
    Check(!diff.err.empty());
    return 0;
  }
  Check(diff.err.empty());
  CheckComparison(diff, diff.lines.size());

  const Run patched = Quarrion({"-diff", f.oldArchive, f.newArchive, "-o", f.patch});
  struct stat st;
  if (patched.status == 2) {
    Check(patched.err.rfind("quarrion: could not write " + f.patch, 0) == 0);
    Check(::stat(f.patch.c_str(), &st) != 0);
    Check(patched.lines == diff.lines);
    return 0;
  }
  Check(patched.status == diff.status);
  Check(patched.lines.size() == diff.lines.size() + 1);
  Check(std::vector<std::string>(patched.lines.begin(), patched.lines.end() - 1) == diff.lines);
  Check(patched.lines.back().rfind("Wrote " + f.patch + ": ", 0) == 0);

  const Run verify = Quarrion({"-verify", f.patch});
  Check(verify.status == 0);
  // Every file of the patch is in the new archive with its data.
  const Run back = Quarrion({"-diff", f.patch, f.newArchive});
  Check(back.err.empty());
  CheckComparison(back, back.lines.size());
  Check(back.lines.back().find(" 0 removed, 0 changed, ") != std::string::npos);
  ::unlink(f.patch.c_str());
  return 0;
}
