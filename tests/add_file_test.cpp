#include "buildlist/add_file.h"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <string>
#include <tuple>

#include "buildlist/build_list.h"
#include "test_util.h"
#include "vp/reference.h"
#include "vp/source_archives.h"

namespace quarrion {
namespace {

using testing::TempDir;
using testing::WriteFile;

// ship.pof twice (data\a first: 3 bytes, time 1111), then "cut.tbl" whose
// data run past the end.
std::string SourceArchive() {
  testing::ArchiveBuilder b;
  b.Folder("data").Folder("a").File("ship.pof", "abc", 1111).Up().Folder("b");
  b.File("ship.pof", "defg", 2222).Add(testing::Entry(16, 400, "cut.tbl", 3333));
  return b.Bytes();
}

// Times outside 32 bits are clamped, not wrapped.
TEST(AddFileTest, DiskFileKeepsItsArgumentsVerbatimAndClampsItsTime) {
  TempDir dir;
  BuildList list;
  const std::string path = dir.Join("ships.tbl");
  WriteFile(path, "12345");
  for (std::int64_t time : {std::int64_t{1234567890}, std::int64_t{5000000000}, std::int64_t{-100}}) {
    testing::SetMTime(path, time);
    ASSERT_TRUE(AddFile(list, std::string(31, 'x'), path, "data\\tables\\").ok());
  }
  EXPECT_EQ(list[0].path, path);
  EXPECT_EQ(list[0].folder, "data\\tables\\");
  EXPECT_EQ(list[0].name(), std::string(31, 'x'));
  EXPECT_EQ(list[0].entry.size, 5);
  EXPECT_EQ(list[0].entry.timestamp, 1234567890);
  EXPECT_EQ(list[1].entry.timestamp, 0x7fffffff);
  EXPECT_EQ(list[2].entry.timestamp, 0);
}

TEST(AddFileTest, EveryRefusalLeavesTheListAloneWithItsCode) {
  TempDir dir;
  const std::string archive = dir.Join("pack.vp");
  WriteFile(archive, SourceArchive());
  WriteFile(dir.Join("text.vp"), "just some text, no archive");
  const std::tuple<std::string, std::string, Code> cases[] = {
    {"x", dir.Join("missing.tbl"), Code::kNotFound},
    {"x", dir.path(), Code::kNotRegular},
    {std::string(32, 'n'), archive, Code::kNameTooLong},
    {"a:b", archive + ":x", Code::kNotPlainName},
    {"ship.pof", dir.Join("gone.vp") + ":ship.pof", Code::kNotFound},
    {"ship.pof", dir.Join("text.vp") + ":ship.pof", Code::kNotVpArchive},
    {"ship", archive + ":ship", Code::kNoSuchEntry},
    {"cut.tbl", archive + ":cut.tbl", Code::kOutOfRange},
  };
  SourceArchives archives;
  BuildList list;
  for (const auto& [name, path, code] : cases) {
    for (SourceArchives* cache : {static_cast<SourceArchives*>(nullptr), &archives}) {
      SCOPED_TRACE(path + (cache ? ", cached" : ""));
      Status why = AddFile(list, name, path, "data", cache);
      EXPECT_EQ(why.code, code);
      EXPECT_EQ(why.file, path) << why.Message();
      ASSERT_EQ(list.size(), 0u);
    }
  }
}

// The name is looked up without regard to case, the text after the colon
// is not used, and only the last colon ends the archive's path (a folder
// may hold one; on Windows the drive's colon comes first).
TEST(AddFileTest, ReferenceTakesTheFirstEntryOfTheName) {
  TempDir dir;
#if defined(_WIN32)
  const std::string archive = dir.Join("pack.vp");
#else
  const std::string archive = dir.Join("a:b/pack.vp");
#endif
  WriteFile(archive, SourceArchive());
  SourceArchives archives;
  for (SourceArchives* cache : {static_cast<SourceArchives*>(nullptr), &archives}) {
    BuildList list;
    Status why = AddFile(list, "SHIP.pof", archive + ":whatever", "data\\x", cache);
    ASSERT_TRUE(why.ok()) << why.Message();
    EXPECT_EQ(list[0].entry.size, 3);
    EXPECT_EQ(list[0].entry.timestamp, 1111);
    EXPECT_EQ(list[0].path, archive + ":whatever");
  }
}

// -vppath: the archive's file name, after its last separator of either
// kind, is put behind the folder, which ends in one backslash.
TEST(AddFileTest, MovedReferenceKeepsWhatFollowsTheLastSeparator) {
  for (const char* folder : {"d:\\new\\", "d:\\new"}) {
    for (const char* from :
         {"c:\\old\\pack.vp:ship.pof", "pack.vp:ship.pof", "/old/pack.vp:ship.pof"}) {
      EXPECT_EQ(MoveVpReference(from, folder), "d:\\new\\pack.vp:ship.pof") << from << folder;
    }
  }
}

#if !defined(_WIN32)
// A file whose permissions refuse reading is refused when it is added (its
// status tells; it is not opened): the import skips it with a warning and
// packs the readable one beside it. That takes an unprivileged user, so
// under root the program runs as "nobody", from a copy in the test's
// folder, which nobody can reach wherever the build lives.
TEST(AddFileTest, FileThatMayNotBeReadIsSkippedWhenAdded) {
  namespace fs = std::filesystem;
  TempDir dir;
  const std::string top = dir.Join("mod");
  WriteFile(top + "/open.tbl", "open");
  WriteFile(top + "/locked.tbl", "locked");
  const std::string program = dir.Join("quarrion");
  fs::copy_file(QUARRION_BINARY, program);
  for (const std::string& path : {dir.path(), top, program}) {
    ASSERT_EQ(::chmod(path.c_str(), 0777), 0);
  }
  ASSERT_EQ(::chmod((top + "/locked.tbl").c_str(), 0), 0);
  for (fs::path up = fs::path(dir.path()).parent_path(); up != up.root_path(); up = up.parent_path()) {
    if ((fs::status(up).permissions() & fs::perms::others_exec) == fs::perms::none) {
      GTEST_SKIP() << up << " is closed to other users: TMPDIR must be searchable by nobody";
    }
  }
  const std::string out = dir.Join("out.vp");
  const std::string err = dir.Join("err");
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    const int o = ::open("/dev/null", O_WRONLY);
    const uid_t nobody = 65534;
    if (e < 0 || o < 0 || ::dup2(e, 2) < 0 || ::dup2(o, 1) < 0 ||
        (::geteuid() == 0 && (::setgid(nobody) != 0 || ::setuid(nobody) != 0))) {
      ::_exit(100);
    }
    ::execl(program.c_str(), program.c_str(), "-dir", top.c_str(), "-o", out.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(101);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);  // 100: no user nobody, 101: no program
  EXPECT_EQ(testing::ReadFile(err),
            "quarrion: warning: " + top + "\\locked.tbl: permission denied, skipped\n");
  EXPECT_NE(testing::ReadFile(out).find("open"), std::string::npos);
}
#endif

}  // namespace
}  // namespace quarrion
