#include "host/host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/coverage.h"
#include "fastio/file_opener.h"
#include "fastio/folder_lister.h"
#include "host/extract.h"
#include "host/output_file.h"
#include "test_util.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace quarrion {
namespace {

namespace fs = std::filesystem;

// A backslash separates folders, a FIFO is refused unread; listings stat every entry, via links.
TEST(HostTest, InputFileReadsRegularFilesOnlyAndListingsReadEveryStatus) {
  testing::TempDir dir;
  testing::WriteFile(dir.Join("maps/c.pof"), "hello world");
  host::InputFile f;
  ASSERT_TRUE(f.Open(dir.path() + "\\maps\\c.pof").ok());
  EXPECT_EQ(f.size(), 11);
  EXPECT_EQ(host::InputFile().Open(dir.path()).code, Code::kNotRegular);
  EXPECT_EQ(host::InputFile().Open(dir.Join("none")).code, Code::kNotFound);
  std::vector<std::string> want{"maps folder", "top.bin file 1"};
#if !defined(_WIN32)
  ASSERT_EQ(::mkfifo(dir.Join("fifo").c_str(), 0600), 0);
  EXPECT_EQ(host::InputFile().Open(dir.Join("fifo")).code, Code::kNotRegular);
  ASSERT_EQ(::symlink("maps/c.pof", dir.Join("link").c_str()), 0);
  want = {"fifo other", "link file 11", "maps folder", "top.bin file 1"};
#endif
  testing::WriteFile(dir.Join("top.bin"), "t");
  std::vector<host::FolderEntry> entries;
  ASSERT_TRUE(fastio::FolderLister().List(dir.path(), &entries).ok());
  std::vector<std::string> seen;
  for (const host::FolderEntry& e : entries) {
    const host::FileKind kind = e.info.kind;
    seen.push_back(e.name + (kind == host::FileKind::kFolder ? " folder"
                             : kind == host::FileKind::kRegular
                                 ? " file " + std::to_string(e.info.size)
                                 : " other"));
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, want);
}

// Names in any script and paths past MAX_PATH (260 characters) reach what they
// name: reads, listings, output files, and extraction one folder at a time.
TEST(HostTest, NamesInAnyScriptAndPathsPastMaxPath) {
  std::string deep = "long";
  for (int i = 0; i < 10; ++i) deep += "/folder " + std::to_string(i) + " abcdefghijklmnopqrstu";
  const std::string kRows[][2] = {{"Données/日本語 mod/voix", "声.wav"}, {deep, "deep été.txt"}};
  for (const auto& [folders, name] : kRows) {
    SCOPED_TRACE(folders);
    testing::TempDir dir;
    const std::string folder = dir.Join(folders);
    testing::WriteFile(folder + "/" + name, "bytes");
    host::InputFile in;  // read by the extraction below
    ASSERT_TRUE(in.Open(folder + "\\" + name).ok());
    std::vector<host::FolderEntry> entries;
    ASSERT_TRUE(fastio::FolderLister().List(folder, &entries).ok());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, name);

    host::OutputFile out;
    ASSERT_TRUE(out.Create(folder + "/copy " + name).ok());
    ASSERT_TRUE(out.Write("copy").ok());
    ASSERT_TRUE(out.Commit().ok());
    EXPECT_EQ(testing::ReadFile(folder + "/copy " + name), "copy");

    std::vector<host::ExtractFolder> held(1);
    ASSERT_TRUE(held[0].OpenRoot(dir.Join("x")).ok());
    for (std::size_t at = 0, end = 0; at <= folders.size(); at = end + 1) {
      end = std::min(folders.find('/', at), folders.size());
      host::ExtractFolder child;
      ASSERT_TRUE(held.back().OpenChild(folders.substr(at, end - at), &child).ok());
      held.push_back(std::move(child));
    }
    ASSERT_TRUE(held.back().WriteFile(name, in, 0, 5, 1000000000).ok());
    host::FileInfo info;
    ASSERT_TRUE(host::StatPath(dir.Join("x/" + folders + "/" + name), &info).ok());
    EXPECT_EQ(info.mtime, 1000000000);
    EXPECT_EQ(testing::ReadFile(dir.Join("x/" + folders + "/" + name)), "bytes");
  }
}

// The names this host cannot hold, which extraction refuses.
TEST(HostTest, ReservedHostNames) {
#if defined(_WIN32)
  for (const char* bad : {"CON", "con", "nul.txt", "Com1 .log", "LPT9", "aux.tar.gz", "PRN", "a.",
                          "a ", "a?b", "a*", "x|y", "\"q\"", "COM¹", "lpt².txt"}) {
    EXPECT_FALSE(host::CheckHostName(bad).ok()) << bad;
  }
  for (const char* ok : {"COM0", "COM10", "CONSOLE", "nul_", "lpt", "a.b", "con-x"}) {
    EXPECT_TRUE(host::CheckHostName(ok).ok()) << ok;
  }
#else
  for (const char* ok : {"CON", "nul.txt", "a.", "a?b"}) EXPECT_TRUE(host::CheckHostName(ok).ok());
#endif
}

#if defined(_WIN32)
TEST(HostTest, DriveLetterPathsAndDeviceNamesOnWindows) {
  testing::TempDir dir;
  testing::WriteFile(dir.Join("maps/c.pof"), "12345");
  std::string top = dir.path();  // "C:/...": the drive letter first
  std::replace(top.begin(), top.end(), '/', '\\');
  ASSERT_EQ(top[1], ':');

  host::FileInfo info;
  ASSERT_TRUE(host::StatPath(top + "\\maps\\c.pof", &info).ok());
  EXPECT_EQ(info.size, 5);
  std::vector<host::FolderEntry> entries;
  fastio::FolderLister lister;
  ASSERT_TRUE(lister.List(top + "\\", &entries).ok());  // a separator at the end
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "maps");
  EXPECT_EQ(lister.List(top + "\\maps\\c.pof", &entries).file, top + "\\maps\\c.pof");

  // A device name looks like a file in any folder; it is never read.
  host::InputFile device;
  for (const std::string& name : {std::string("NUL"), top + "\\NUL"}) {
    EXPECT_EQ(device.Open(name).code, Code::kNotRegular) << name;
    EXPECT_NE(host::StatPath(name, &info).ok() ? info.kind : host::FileKind::kMissing,
              host::FileKind::kFolder)
        << name;
  }
}
#endif

// In an open folder, a source that ends early fails naming it and leaves the old
// file or none; a whole copy replaces or makes the file; only plain names are taken.
TEST(OutputFileTest, InAFolderReplacesOnlyWhatWasWrittenWhole) {
  testing::TempDir dir;
  testing::WriteFile(dir.Join("out/a.bin"), "old");
  testing::WriteFile(dir.Join("src.bin"), "0123456789");
  host::InputFile src;
  ASSERT_TRUE(src.Open(dir.Join("src.bin")).ok());
  host::ExtractFolder folder;
  ASSERT_TRUE(folder.OpenRoot(dir.Join("out")).ok());

  host::OutputFile out;
  ASSERT_TRUE(out.Create(folder, "a.bin").ok());
  Status why = out.CopyFrom(src, 4, 10);
  EXPECT_EQ(why.code, Code::kChanged);
  EXPECT_EQ(why.file, dir.Join("src.bin"));
  out.Discard();
  EXPECT_EQ(testing::ReadFile(dir.Join("out/a.bin")), "old");
  EXPECT_EQ(folder.WriteFile("new.bin", src, 4, 10, 1).code, Code::kChanged);
  EXPECT_EQ(testing::ListTree(dir.Join("out")), std::vector<std::string>{"a.bin"});

  for (const char* name : {"a.bin", "new.bin"}) {
    ASSERT_TRUE(folder.WriteFile(name, src, 2, 5, 1000000000).ok());
    EXPECT_EQ(testing::ReadFile(dir.Join("out/") + name), "23456");
  }

  EXPECT_EQ(out.Create(folder, "..").code, Code::kNotPlainName);
  EXPECT_EQ(testing::ListTree(dir.Join("out")), (std::vector<std::string>{"a.bin", "new.bin"}));
}

// With the interruption registry full no output file is made: it could not be removed.
TEST(OutputFileTest, NoFileIsMadeThatAnInterruptionCouldNotRemove) {
  testing::TempDir dir;
  host::ExtractFolder folder;
  ASSERT_TRUE(folder.OpenRoot(dir.Join("out")).ok());
  std::vector<std::unique_ptr<interrupt::RemoveOnInterrupt>> taken;
  for (Status s; s.ok() && taken.size() < 1000;) {
    taken.push_back(std::make_unique<interrupt::RemoveOnInterrupt>());
    s = taken.back()->Set(interrupt::RemoveOnInterrupt::kNoFolder,
                          dir.Join("none" + std::to_string(taken.size())));
  }
  host::OutputFile out;
  Status why = out.Create(dir.Join("out/a.vp"));
  EXPECT_EQ(why.Message(), dir.Join("out/a.vp") + ": too many files written at once");
  EXPECT_FALSE(out.Create(folder, "b.bin").ok());
  EXPECT_EQ(testing::ListTree(dir.Join("out")), std::vector<std::string>{});
  taken.clear();
  EXPECT_TRUE(out.Create(folder, "b.bin").ok());
}

#if !defined(_WIN32)
// A target that is a symbolic link is written through to the end of its chain
// (relative links read from their own folders), every link kept, nothing left over.
TEST(OutputFileTest, ATargetThatIsALinkIsWrittenThroughAndStaysALink) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> links;  // in out/: link, what it holds
    std::string written;
  } const cases[] = {
      {{{"current.vp", "../real/a.vp"}}, "real/a.vp"},
      {{{"current.vp", "/"}}, "real/a.vp"},  // "/": the absolute path of `written`
      {{{"current.vp", "next.vp"}, {"next.vp", "../real/a.vp"}}, "real/a.vp"},
      {{{"current.vp", "../real/new.vp"}}, "real/new.vp"},  // ending at nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.links.back().second + " " + c.written);
    testing::TempDir dir;
    testing::WriteFile(dir.Join("real/a.vp"), "old");
    fs::create_directory(dir.Join("out"));
    std::vector<std::string> tree = {"out", "real", "real/a.vp"};
    for (const auto& [link, to] : c.links) {
      ASSERT_EQ(::symlink((to == "/" ? dir.Join(c.written) : to).c_str(),
                          dir.Join("out/" + link).c_str()),
                0);
      tree.push_back("out/" + link);
    }
    if (c.written != "real/a.vp") tree.push_back(c.written);
    std::sort(tree.begin(), tree.end());

    host::OutputFile out;
    ASSERT_TRUE(out.Create(dir.Join("out/current.vp")).ok());
    ASSERT_TRUE(out.Write("new").ok());
    ASSERT_TRUE(out.Commit().ok());
    EXPECT_EQ(testing::ReadFile(dir.Join(c.written)), "new");
    EXPECT_EQ(testing::ListTree(dir.path()), tree);
    for (const auto& [link, to] : c.links) {
      EXPECT_EQ(fs::read_symlink(dir.Join("out/" + link)), to == "/" ? dir.Join(c.written) : to);
    }
  }
}
#endif

#if !defined(_WIN32)
// `count` files, 40 a folder, each holding its own path, and the plan to open them in order.
struct Files {
  Files(const testing::TempDir& dir, int count) {
    for (int i = 0; i < count; ++i) {
      paths.push_back(
          dir.Join("f" + std::to_string(i / 40) + "/file" + std::to_string(i) + ".bin"));
      testing::WriteFile(paths.back(), paths.back());
    }
    for (const std::string& p : paths) plan.push_back(&p);
  }
  std::vector<std::string> paths;
  std::vector<const std::string*> plan;
};

// Opens `path` through `opener` and reads it whole; "" when it fails.
std::string OpenAndRead(fastio::FileOpener& opener, const std::string& path) {
  host::InputFile file;
  if (!opener.Open(path, &file).ok()) return "";
  std::string bytes(path.size() + 1, '\0');
  std::size_t got = 0;
  if (!file.ReadAt(0, bytes.data(), bytes.size(), &got).ok()) got = 0;
  opener.Close(&file);
  return bytes.substr(0, got);
}

// The open descriptors below `limit`.
int OpenDescriptors(int limit) {
  int open = 0;
  for (int fd = 0; fd < limit; ++fd) open += ::fcntl(fd, F_GETFD) != -1 ? 1 : 0;
  return open;
}

TEST(FileOpenerTest, APathOutOfThePlannedOrderEndsThePlanAndStillOpensTheRightFile) {
  testing::TempDir dir;
  const Files files(dir, 200);
  const std::vector<std::string>& paths = files.paths;
  fastio::FileOpener opener;
  opener.Expect(files.plan);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(OpenAndRead(opener, paths[i]), paths[i]);
  EXPECT_EQ(OpenAndRead(opener, paths[150]), paths[150]);
  EXPECT_EQ(OpenAndRead(opener, paths[10]), paths[10]);
  EXPECT_EQ(OpenAndRead(opener, paths[151]), paths[151]);
  host::InputFile missing;
  const Status why = opener.Open(dir.Join("f0/none.bin"), &missing);
  EXPECT_EQ(why.code, Code::kNotFound);
  EXPECT_EQ(why.file, dir.Join("f0/none.bin"));
}

// Limited to 64 open files (a child process), 500 planned files read right within the bound.
TEST(FileOpenerTest, ALowLimitOnOpenFilesKeepsTheThreadWithinItsBound) {
  testing::TempDir dir;
  const Files files(dir, 500);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    constexpr int kLimit = 64;
    struct rlimit limit = {kLimit, kLimit};
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(10);
    const std::size_t bound = fastio::FileOpener::MostOpenAhead();
    if (bound == 0 || bound > kLimit / 2) ::_exit(11);
    const int before = OpenDescriptors(kLimit);
    int most = 0;
    {
      fastio::FileOpener opener;
      opener.Expect(files.plan);
      for (const std::string& path : files.paths) {
        if (OpenAndRead(opener, path) != path) ::_exit(12);
        most = std::max(most, OpenDescriptors(kLimit) - before);
      }
    }
    if (most > static_cast<int>(bound) + 1) ::_exit(13);
    if (OpenDescriptors(kLimit) != before) ::_exit(14);
    WriteCoverageProfile();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  // 11: no bound to test, 12: a file read wrong, 13: the bound passed, 14: a descriptor left open.
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif  // !defined(_WIN32)

}  // namespace
}  // namespace quarrion
