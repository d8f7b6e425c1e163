#include "buildlist/add_file.h"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <string>
#include <tuple>

#include "buildlist/build_list.h"
#include "test_util.h"
#include "vp/reference.h"
#include "vp/source_archives.h"

namespace quarrion {
namespace {

using testing::Record;
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

TEST(AddFileTest, DiskFileKeepsArgumentsVerbatimWithSizeAndClampedTime) {
  TempDir dir;
  BuildList list;
  const std::string path = dir.Join("ships.tbl");
  WriteFile(path, "12345");
  testing::SetMTime(path, 1234567890);
  Status why = AddFile(list, "ships.tbl", path, "data\\tables\\");
  ASSERT_TRUE(why.ok()) << why.Message();
  // An empty folder (the archive's root) is accepted; a 31-byte name is stored whole.
  ASSERT_TRUE(AddFile(list, "root.tbl", path, "").ok());
  ASSERT_TRUE(AddFile(list, std::string(31, 'x'), path, "d").ok());
  // Times outside 32 bits are clamped.
  testing::SetMTime(path, 5000000000LL);
  ASSERT_TRUE(AddFile(list, "late", path, "d").ok());
  testing::SetMTime(path, -100);
  ASSERT_TRUE(AddFile(list, "early", path, "d").ok());

  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(list[0].path, path);
  EXPECT_EQ(list[0].folder, "data\\tables\\");
  EXPECT_EQ(list[0].entry.size, 5);
  EXPECT_EQ(list[0].entry.timestamp, 1234567890);
  EXPECT_EQ(list[1].folder, "");
  EXPECT_EQ(list[2].name(), std::string(31, 'x'));
  EXPECT_EQ(list[3].entry.timestamp, 0x7fffffff);
  EXPECT_EQ(list[4].entry.timestamp, 0);
}

TEST(AddFileTest, EveryRefusalLeavesTheListAloneWithItsCode) {
  TempDir dir;
  const std::string archive = dir.Join("pack.vp");
  WriteFile(archive, SourceArchive());
  WriteFile(dir.Join("text.vp"), "just some text, no archive");
#if !defined(_WIN32)
  const std::string fifo = dir.Join("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ::symlink("nowhere", dir.Join("broken").c_str());
#endif

  const std::tuple<std::string, std::string, Code> cases[] = {
    {"x", dir.Join("missing.tbl"), Code::kNotFound},
    {"x", dir.path(), Code::kNotRegular},
#if !defined(_WIN32)
    {"pipe", fifo, Code::kNotRegular},  // must not block
    {"broken", dir.Join("broken"), Code::kNotFound},
#endif
    {std::string(32, 'n'), archive, Code::kNameTooLong},
    {std::string(32, 's'), archive + ":x", Code::kNameTooLong},
    // Names that are not plain names, from disk or an archive alike.
    {"", archive, Code::kNotPlainName},
    {"..", archive, Code::kNotPlainName},
    {"a:b", archive, Code::kNotPlainName},
    {"back\\slash.txt", archive, Code::kNotPlainName},
    {"tab\there", archive + ":x", Code::kNotPlainName},
    {"ship.pof", dir.Join("gone.vp") + ":ship.pof", Code::kNotFound},
    {"ship.pof", dir.Join("text.vp") + ":ship.pof", Code::kNotVpArchive},
    {"ship", archive + ":ship", Code::kNoSuchEntry},
    {"cut.tbl", archive + ":cut.tbl", Code::kOutOfRange},
  };
  SourceArchives archives;
  BuildList list;
  list.files.push_back(Record("data", "keep"));
  for (const auto& [name, path, code] : cases) {
    for (SourceArchives* cache : {static_cast<SourceArchives*>(nullptr), &archives}) {
      SCOPED_TRACE(path + (cache ? ", cached" : ""));
      Status why = AddFile(list, name, path, "data", cache);
      EXPECT_EQ(why.code, code);
      EXPECT_EQ(why.file, path) << why.Message();
      ASSERT_EQ(list.size(), 1u);
    }
  }
}

TEST(AddFileTest, ReferenceTakesTheFirstEntryOfTheNameAndItsMarkerInAnyCase) {
  TempDir dir;
  // A folder with a colon in its name: only the last colon ends the archive.
  // Windows names hold no colon; there the drive's colon comes first.
#if defined(_WIN32)
  const std::string archive = dir.Join("pack.vp");
#else
  const std::string archive = dir.Join("a:b/pack.vp");
#endif
  WriteFile(archive, SourceArchive());
  SourceArchives archives;
  for (SourceArchives* cache : {static_cast<SourceArchives*>(nullptr), &archives}) {
    BuildList list;
    // The text after the colon is not used; the name is, without case.
    Status why = AddFile(list, "SHIP.pof", archive + ":whatever", "data\\x", cache);
    ASSERT_TRUE(why.ok()) << why.Message();
    EXPECT_EQ(list[0].entry.size, 3);
    EXPECT_EQ(list[0].entry.timestamp, 1111);
    EXPECT_EQ(list[0].path, archive + ":whatever");
  }

  // ".VP:" marks a reference as ".vp:" does.
  const std::string upper = dir.Join("PACK.VP");
  WriteFile(upper, SourceArchive());
  BuildList list;
  Status why = AddFile(list, "ship.pof", upper + ":ship.pof", "data");
  ASSERT_TRUE(why.ok()) << why.Message();
  EXPECT_EQ(list[0].entry.size, 3);
  EXPECT_TRUE(IsVpSourceReference("c:\\mods\\Pack.Vp:x"));
  EXPECT_FALSE(IsVpSourceReference("c:\\mods\\pack.vpx:x"));
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
// packs the readable one beside it. It takes an unprivileged user, so under
// root the program runs as "nobody".
TEST(AddFileTest, FileThatMayNotBeReadIsSkippedWhenAdded) {
  TempDir dir;
  const std::string top = dir.Join("mod");
  WriteFile(top + "/open.tbl", "open");
  WriteFile(top + "/locked.tbl", "locked");
  ASSERT_EQ(::chmod((top + "/locked.tbl").c_str(), 0), 0);
  for (const std::string& folder : {dir.path(), top}) ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
  const std::string out = dir.Join("out.vp");

  // 0 when the run went as it should, else the number of the first check
  // that failed.
  auto run = [&]() -> int {
    const testing::RunResult r = testing::RunQuarrionBinary({"-dir", top, "-o", out});
    if (r.status != 1) return 1;
    if (r.err != "quarrion: warning: " + top + "\\locked.tbl: permission denied, skipped\n") {
      return 2;
    }
    return testing::ReadFile(out).find("open") == std::string::npos ? 3 : 0;
  };
  if (::geteuid() != 0) {
    EXPECT_EQ(run(), 0);
    return;
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    const uid_t nobody = 65534;
    ::_exit(::setgid(nobody) == 0 && ::setuid(nobody) == 0 ? run() : 100);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the first check that failed";
}
#endif

}  // namespace
}  // namespace quarrion
