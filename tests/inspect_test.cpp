// Listing, verifying and extracting archives: transcripts on crafted
// archives, every finding of -verify, extraction that never leaves its
// folder, and the round trip through the real program.
#include "shell/inspect.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "host/extract.h"
#include "shell/modes.h"
#include "test_util.h"
#include "vp/coding.h"
#include "vp/format.h"

namespace quarrion {
namespace {

namespace fs = std::filesystem;
using testing::FileExists;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// An archive assembled entry by entry; the header follows the data, as the
// writer lays it out, unless a test overrides its fields.
class Crafted {
 public:
  Crafted& File(const std::string& name, const std::string& bytes, std::int32_t time = 1000000000) {
    VpDirEntry e;
    e.offset = static_cast<std::int32_t>(kHeaderSize + data_.size());
    e.size = static_cast<std::int32_t>(bytes.size());
    std::copy(name.begin(), name.end(), e.name.begin());
    e.timestamp = time;
    data_ += bytes;
    return Entry(e);
  }
  Crafted& Folder(const std::string& name) {
    WriteFolderEntry(&dir_, name, 0);
    ++count_;
    return *this;
  }
  Crafted& Up() {
    WriteUpEntry(&dir_, 0);
    ++count_;
    return *this;
  }
  Crafted& Entry(const VpDirEntry& e) {
    WriteEntry(&dir_, e);
    ++count_;
    return *this;
  }
  std::int32_t DirOffset() const { return static_cast<std::int32_t>(kHeaderSize + data_.size()); }

  std::string Bytes(std::int32_t version = 2) const { return Bytes(version, DirOffset(), count_); }
  std::string Bytes(std::int32_t version, std::int32_t dirOffset, std::int32_t count) const {
    std::string out;
    WriteHeader(&out, HeaderValues{version, dirOffset, count});
    return out + data_ + dir_;
  }

 private:
  std::string data_;
  std::string dir_;
  std::int32_t count_ = 0;
};

VpDirEntry RawEntry(std::int32_t offset, std::int32_t size, const std::string& name,
                    std::int32_t time = 1000000000) {
  VpDirEntry e;
  e.offset = offset;
  e.size = size;
  std::copy(name.begin(),
            name.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(name.size(), 32)),
            e.name.begin());
  e.timestamp = time;
  return e;
}

struct Transcript {
  int status = -1;
  std::string out;
  std::string err;
};

class InspectTest : public ::testing::Test {
 protected:
  std::string Archive(const std::string& bytes, const std::string& name = "a.vp") {
    const std::string path = dir_.Join(name);
    WriteFile(path, bytes);
    return path;
  }

  template <typename Mode>
  Transcript Run(Mode mode, const std::string& archive, const std::string& target = "") {
    StartupOptions options;
    options.archiveFile = archive;
    options.extractDir = target;
    std::istringstream in;
    std::ostringstream out, err;
    Console console{in, out, err};
    Transcript t;
    t.status = mode(options, console);
    t.out = out.str();
    t.err = err.str();
    return t;
  }
  Transcript List(const std::string& archive) { return Run(RunListArchive, archive); }
  Transcript Verify(const std::string& archive) { return Run(RunVerifyArchive, archive); }
  Transcript Extract(const std::string& archive, const std::string& target) {
    return Run(RunExtractArchive, archive, target);
  }

  TempDir dir_;
};

// ---- shared pieces ---------------------------------------------------------

TEST(InspectPiecesTest, UtcTimesAcrossTheInt32Range) {
  EXPECT_EQ(UtcTimeText(0), "1970-01-01 00:00:00");
  EXPECT_EQ(UtcTimeText(-1), "1969-12-31 23:59:59");
  EXPECT_EQ(UtcTimeText(951782400), "2000-02-29 00:00:00");
  EXPECT_EQ(UtcTimeText(1000000000), "2001-09-09 01:46:40");
  EXPECT_EQ(UtcTimeText(2147483647), "2038-01-19 03:14:07");
  EXPECT_EQ(UtcTimeText(-2147483647 - 1), "1901-12-13 20:45:52");
}

TEST(InspectPiecesTest, HostNames) {
#if defined(_WIN32)
  for (const char* bad : {"CON", "con", "nul.txt", "Com1 .log", "LPT9", "aux.tar.gz", "PRN", "a.",
                          "a ", "a?b", "a*", "x|y", "\"q\""}) {
    EXPECT_NE(host::HostNameProblem(bad), "") << bad;
  }
  for (const char* ok : {"COM0", "COM10", "CONSOLE", "nul_", "lpt", "a.b", "con-x"}) {
    EXPECT_EQ(host::HostNameProblem(ok), "") << ok;
  }
#else
  for (const char* ok : {"CON", "nul.txt", "a.", "a?b"}) EXPECT_EQ(host::HostNameProblem(ok), "");
#endif
}

// ---- -list -----------------------------------------------------------------

TEST_F(InspectTest, ListPrintsFilesInDirectoryOrderThenTotals) {
  Crafted c;
  c.Folder("data")
      .File("readme.txt", "hello", 0)
      .Folder("maps")
      .File("a.map", "0123456789", 1000000000);
  c.Up().Folder("tables").File("ships.tbl", std::string(1234, 'x'), 2147483647);
  c.File("bad\x1b]0;x", "!", 86400);  // a name that would drive a terminal
  Transcript t = List(Archive(c.Bytes()));
  EXPECT_EQ(t.status, 0);
  EXPECT_EQ(t.err, "");
  EXPECT_EQ(t.out,
            "         5  1970-01-01 00:00:00  data\\readme.txt\n"
            "        10  2001-09-09 01:46:40  data\\maps\\a.map\n"
            "      1234  2038-01-19 03:14:07  data\\tables\\ships.tbl\n"
            "         1  1970-01-02 00:00:00  data\\tables\\bad?]0;x\n"
            "4 files, 1250 bytes\n");

  Crafted one;
  one.Folder("data").File("x", "y");
  EXPECT_EQ(List(Archive(one.Bytes(), "one.vp")).out,
            "         1  2001-09-09 01:46:40  data\\x\n1 file, 1 byte\n");
}

TEST_F(InspectTest, ArchivesThatCannotBeReadAreErrors) {
  for (auto mode : {RunListArchive, RunExtractArchive}) {
    Transcript missing = Run(mode, dir_.Join("missing.vp"), dir_.Join("out"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(
        missing.err.rfind("quarrion: cannot open archive " + dir_.Join("missing.vp") + ":", 0), 0u)
        << missing.err;

    Transcript wrong = Run(mode, Archive("VPVQ" + std::string(12, '\0'), "q.vp"), dir_.Join("out"));
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.err.find("q.vp: not a VP archive"), std::string::npos) << wrong.err;

    Transcript version = Run(mode, Archive(Crafted().Bytes(3), "v3.vp"), dir_.Join("out"));
    EXPECT_EQ(version.status, 1);
    EXPECT_NE(version.err.find("v3.vp: not a VP archive of version 2 (version 3)"),
              std::string::npos);
  }
  EXPECT_FALSE(FileExists(dir_.Join("out"))) << "nothing extracted from a non-archive";
  EXPECT_EQ(Verify(dir_.Join("missing.vp")).status, 1);
}

// ---- -verify ---------------------------------------------------------------

TEST_F(InspectTest, VerifyCallsAWellFormedArchiveSound) {
  Crafted c;
  c.Folder("data")
      .File("a", "12345")
      .Folder("maps")
      .File("b", "")
      .Up()
      .Up()
      .Folder("x")
      .File("c", "6789");
  const std::string path = Archive(c.Bytes());
  Transcript t = Verify(path);
  EXPECT_EQ(t.status, 0) << t.out;
  EXPECT_EQ(t.out, path + " is sound: 3 files, 9 bytes\n");
  EXPECT_EQ(t.err, "");
}

// One crafted fault per row, and the finding it must produce.
TEST_F(InspectTest, VerifyFindsEachProblem) {
  Crafted good;
  good.Folder("data").File("a.tbl", "0123456789").File("b.tbl", "abcdefghij");
  const std::int32_t dirOffset = good.DirOffset();  // 36

  auto withFile = [](VpDirEntry e) {
    Crafted c;
    c.Folder("data").File("a.tbl", "0123456789").Entry(e);
    return c.Bytes();
  };
  auto named = [](const std::string& folder, const std::string& file) {
    Crafted c;
    c.Folder(folder).File(file, "x");
    return c.Bytes();
  };

  struct Case {
    const char* what;
    std::string bytes;
    std::string finding;
  };
  const std::vector<Case> cases = {
      {"short", std::string("VPVP\2\0\0\0", 8),
       "the file is 8 bytes long, shorter than the 16-byte header"},
      {"magic", "VPVQ" + good.Bytes().substr(4), "the file does not begin with \"VPVP\""},
      {"version", good.Bytes(1), "the version is 1, not 2"},
      {"dir offset past the end", good.Bytes(2, 5000, 3),
       "the directory offset 5000 lies outside the file"},
      {"dir offset in the header", good.Bytes(2, 8, 3),
       "the directory offset 8 lies outside the file"},
      {"negative count", good.Bytes(2, dirOffset, -1), "the entry count -1 is negative"},
      {"count too large", good.Bytes(2, dirOffset, 0x7fffffff),
       "the header counts 2147483647 entries, but only 3 fit between"},
      {"count too small", good.Bytes(2, dirOffset, 2),
       "the file holds 44 bytes after the last directory entry"},
      {"unterminated", withFile(RawEntry(26, 0, std::string(32, 'n'))),
       "entry 2 (data\\" + std::string(32, 'n') + "): the name is not terminated within 32 bytes"},
      {"stray up", Crafted().Up().Folder("data").File("a", "1").Bytes(),
       "entry 0 (..): closes no open folder"},
      // A folder entry named ".." reads as an up entry; only a file can be.
      {"dot-dot file", named("data", ".."), "entry 1 (data\\..): \"..\" names the parent folder"},
      {"dot folder", named(".", "a"), "entry 0 (.): \".\" names the current folder"},
      {"empty file name", named("data", ""), "entry 1 (data\\): \"\" is empty"},
      {"slash", named("data", "/etc/passwd"), "\"/etc/passwd\" holds a slash"},
      {"backslash", named("data", "..\\..\\x"), "\"..\\..\\x\" holds a backslash"},
      {"drive", named("C:", "x"), "entry 0 (C:): \"C:\" holds a colon"},
      {"control", named("data", "a\nb"), "entry 1 (data\\a?b): \"a?b\" holds a control character"},
      {"negative size", withFile(RawEntry(26, -4, "neg")),
       "entry 2 (data\\neg): the size -4 is negative"},
      {"data past the directory", withFile(RawEntry(20, 30, "long")),
       "entry 2 (data\\long): the data (offset 20, 30 bytes) lie outside the data area (offset 16 "
       "up to 26)"},
      {"data in the header", withFile(RawEntry(4, 2, "hdr")),
       "the data (offset 4, 2 bytes) lie outside the data area"},
      {"overlap", withFile(RawEntry(20, 6, "over")),
       "entry 2 (data\\over): the data overlap those of entry 1 (data\\a.tbl)"},
  };
  for (const Case& c : cases) {
    Transcript t = Verify(Archive(c.bytes, "case.vp"));
    EXPECT_EQ(t.status, 1) << c.what;
    EXPECT_NE(t.out.find(c.finding), std::string::npos) << c.what << ":\n" << t.out;
    EXPECT_NE(t.out.find("\n" + dir_.Join("case.vp") + ": 1 problem found\n"), std::string::npos)
        << c.what << ": the last line counts the problems\n"
        << t.out;
  }
}

TEST_F(InspectTest, VerifyPrintsEveryProblemNotJustTheFirst) {
  Crafted c;
  c.Up().Folder("data").File("a", "0123456789").Entry(RawEntry(16, 4, "dup"));
  c.Entry(RawEntry(18, 2, "dup2")).Folder(".").File("x:y", "z").Up().Up().Up();
  Transcript t = Verify(Archive(c.Bytes()));
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.out,
            "entry 0 (..): closes no open folder\n"
            "entry 5 (data\\.): \".\" names the current folder\n"
            "entry 6 (data\\.\\x:y): \"x:y\" holds a colon\n"
            "entry 9 (..): closes no open folder\n"
            "entry 3 (data\\dup): the data overlap those of entry 2 (data\\a)\n"
            "entry 4 (data\\dup2): the data overlap those of entry 2 (data\\a)\n" +
                dir_.Join("a.vp") + ": 6 problems found\n");
}

// ---- -extract --------------------------------------------------------------

TEST_F(InspectTest, ExtractWritesFilesAtTheirPathsWithTheirTimes) {
  Crafted c;
  c.Folder("data").File("readme.txt", "hello", 1000000000).Folder("maps").Folder("deep");
  c.File("a.map", "map bytes", 1200000000).Up().File("empty.cfg", "", 1300000000).Up();
  c.File("last.tbl", std::string(300000, 'z'), 1);
  const std::string out = dir_.Join("out/nested");  // made, with its parent
  // An existing file is replaced, whatever it held.
  WriteFile(out + "/data/readme.txt", "old contents that are longer");

  Transcript t = Extract(Archive(c.Bytes()), out);
  EXPECT_EQ(t.status, 0) << t.err;
  EXPECT_EQ(t.err, "");
  EXPECT_EQ(t.out, "Extracted 4 files (300014 bytes) into " + out + "\n");
  EXPECT_EQ(
      testing::ListTree(out),
      (std::vector<std::string>{"data", "data/last.tbl", "data/maps", "data/maps/deep",
                                "data/maps/deep/a.map", "data/maps/empty.cfg", "data/readme.txt"}));
  EXPECT_EQ(ReadFile(out + "/data/readme.txt"), "hello");
  EXPECT_EQ(ReadFile(out + "/data/maps/deep/a.map"), "map bytes");
  EXPECT_EQ(ReadFile(out + "/data/last.tbl"), std::string(300000, 'z'));
  for (auto [file, time] : {std::pair<const char*, std::int64_t>{"data/readme.txt", 1000000000},
                            {"data/maps/deep/a.map", 1200000000},
                            {"data/maps/empty.cfg", 1300000000},
                            {"data/last.tbl", 1}}) {
    host::FileInfo info;
    ASSERT_TRUE(host::StatPath(out + "/" + file, &info, nullptr)) << file;
    EXPECT_EQ(info.mtime, time) << file;
  }
  // Extracting again replaces every file and leaves no temporary behind.
  EXPECT_EQ(Extract(dir_.Join("a.vp"), out).status, 0);
  EXPECT_EQ(testing::ListTree(out).size(), 7u);
}

TEST_F(InspectTest, ExtractRefusesNamesThatLeaveTheFolder) {
  Crafted c;
  // Up entries with no folder open stay at the top; a folder entry named
  // ".." is an up entry by the format, so it can never climb out either.
  c.Up().File("top.txt", "top");
  c.Folder("data").Up().Folder("..").File("up.txt", "up");
  c.Folder(".").File("dot.txt", "no").Up();
  c.Folder("data").File("..", "no").File(".", "no").File("", "no");
  c.File("../up.txt", "no").File("..\\up.txt", "no").File("/abs.txt", "no");
  c.File("C:\\drive.txt", "no").File("c:x", "no").File("a\x01", "no");
  c.Folder("sub\\..\\..").File("deep.txt", "no").Up();
  c.Folder("C:").File("d.txt", "no").Up();
  c.File("fine.txt", "yes");
  const std::string out = dir_.Join("sandbox/out");
  Transcript t = Extract(Archive(c.Bytes()), out);
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.out, "Extracted 3 files (8 bytes) into " + out + "\n");
  EXPECT_EQ(t.err,
            "quarrion: ignored entry 0 (..): it closes no open folder\n"
            "quarrion: ignored entry 4 (..): it closes no open folder\n"
            "quarrion: refused .\\dot.txt: \".\" names the current folder\n"
            "quarrion: refused data\\..: \"..\" names the parent folder\n"
            "quarrion: refused data\\.: \".\" names the current folder\n"
            "quarrion: refused data\\: \"\" is empty\n"
            "quarrion: refused data\\../up.txt: \"../up.txt\" holds a slash\n"
            "quarrion: refused data\\..\\up.txt: \"..\\up.txt\" holds a backslash\n"
            "quarrion: refused data\\/abs.txt: \"/abs.txt\" holds a slash\n"
            "quarrion: refused data\\C:\\drive.txt: \"C:\\drive.txt\" holds a colon\n"
            "quarrion: refused data\\c:x: \"c:x\" holds a colon\n"
            "quarrion: refused data\\a?: \"a?\" holds a control character\n"
            "quarrion: refused data\\sub\\..\\..\\deep.txt: \"sub\\..\\..\" holds a backslash\n"
            "quarrion: refused data\\C:\\d.txt: \"C:\" holds a colon\n"
            "quarrion: not everything was extracted: 14 refused, 0 failed\n");
  // Only the plain files exist, and nothing beside the target.
  EXPECT_EQ(testing::ListTree(dir_.Join("sandbox")),
            (std::vector<std::string>{"out", "out/data", "out/data/fine.txt", "out/top.txt",
                                      "out/up.txt"}));
}

TEST_F(InspectTest, ExtractReportsDataOutsideTheArchiveAndGoesOn) {
  Crafted c;
  c.Folder("data").Entry(RawEntry(1000, 5, "gone.tbl")).File("kept.tbl", "kept");
  const std::string out = dir_.Join("out");
  Transcript t = Extract(Archive(c.Bytes()), out);
  EXPECT_EQ(t.status, 1);
  EXPECT_NE(t.err.find("quarrion: could not extract data\\gone.tbl: its data lie outside the "
                       "archive\n"),
            std::string::npos)
      << t.err;
  EXPECT_NE(t.err.find("0 refused, 1 failed"), std::string::npos);
  EXPECT_EQ(ReadFile(out + "/data/kept.tbl"), "kept");
  EXPECT_FALSE(FileExists(out + "/data/gone.tbl"));
}

TEST_F(InspectTest, ExtractIntoAFolderThatIsAFileFails) {
  WriteFile(dir_.Join("plain"), "a file");
  Crafted c;
  c.Folder("data").File("a", "b");
  Transcript t = Extract(Archive(c.Bytes()), dir_.Join("plain"));
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.err.rfind("quarrion: cannot extract into " + dir_.Join("plain") + ":", 0), 0u)
      << t.err;
  EXPECT_EQ(ReadFile(dir_.Join("plain")), "a file");

  t = Extract(dir_.Join("a.vp"), "");
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.err, "quarrion: cannot extract into: no target folder given\n");
}

#if !defined(_WIN32)
TEST_F(InspectTest, ExtractNeverFollowsAPlantedSymbolicLink) {
  const std::string outside = dir_.Join("outside");
  WriteFile(outside + "/victim.tbl", "precious");
  const std::string out = dir_.Join("out");
  fs::create_directories(out + "/data");
  // A folder on the way that points outside, and a file name that does.
  fs::create_directory_symlink(outside, out + "/data/maps");
  fs::create_symlink(outside + "/victim.tbl", out + "/data/victim.tbl");
  fs::create_directory_symlink(outside, out + "/linked");

  Crafted c;
  c.Folder("data").File("victim.tbl", "replaced the link").Folder("maps");
  c.File("victim.tbl", "overwritten!").File("new.tbl", "planted").Up().Up();
  c.Folder("linked").Folder("deeper").File("x", "planted").Up().Up();
  Transcript t = Extract(Archive(c.Bytes()), out);
  EXPECT_EQ(t.status, 1);
  EXPECT_NE(t.err.find("quarrion: could not extract data\\maps\\victim.tbl: "), std::string::npos)
      << t.err;
  EXPECT_NE(t.err.find("quarrion: could not extract data\\maps\\new.tbl: "), std::string::npos);
  EXPECT_NE(t.err.find("quarrion: could not extract linked\\deeper\\x: "), std::string::npos);
  EXPECT_NE(t.err.find("0 refused, 3 failed"), std::string::npos);

  // Nothing outside changed; the link at the file's name was replaced by
  // the file, not written through.
  EXPECT_EQ(testing::ListTree(outside), (std::vector<std::string>{"victim.tbl"}));
  EXPECT_EQ(ReadFile(outside + "/victim.tbl"), "precious");
  EXPECT_FALSE(fs::is_symlink(out + "/data/victim.tbl"));
  EXPECT_EQ(ReadFile(out + "/data/victim.tbl"), "replaced the link");
  EXPECT_TRUE(fs::is_symlink(out + "/data/maps"));
}

#endif

// ---- the real program --------------------------------------------------------

// A data directory of a few hundred files in nested folders, packed,
// extracted and packed again from the extracted tree: the same bytes.
TEST(InspectProgramTest, ExtractedArchiveRebuildsByteForByte) {
  TempDir dir;
  const std::string data = dir.Join("game/data");
  const char* const folders[] = {"",       "maps",   "maps/campaign", "maps/campaign/act one",
                                 "models", "tables", "sounds",        "sounds/voice",
                                 "effects"};
  int n = 0;
  for (const char* folder : folders) {
    for (int i = 0; i < 35; ++i, ++n) {
      const std::string name = std::string(folder) + (*folder ? "/" : "") + "file" +
                               std::to_string(i) + (i % 3 == 0 ? ".pof" : ".tbl");
      // Sizes from empty to a few hundred KiB; every time differs.
      const std::string bytes(static_cast<std::size_t>((n * 7919) % (i == 7 ? 300000 : 2000)),
                              static_cast<char>('a' + n % 26));
      WriteFile(data + "/" + name, bytes);
      testing::SetMTime(data + "/" + name, 1000000000 + n * 3600);
    }
  }
  const std::string first = dir.Join("first.vp");
  const std::string second = dir.Join("second.vp");
  testing::RunResult r = testing::RunQuarrionBinary({"-dir", data, "-o", first});
  ASSERT_EQ(r.status, 0) << r.err;

  r = testing::RunQuarrionBinary({"-verify", first});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find(first + " is sound: 315 files, "), std::string::npos) << r.out;

  r = testing::RunQuarrionBinary({"-list", first});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("  2001-09-09 01:46:40  data\\file0.pof\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n315 files, "), std::string::npos);

  const std::string out = dir.Join("out");
  r = testing::RunQuarrionBinary({"-extract", first, out});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");

  r = testing::RunQuarrionBinary({"-dir", out + "\\data", "-o", second});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string a = ReadFile(first);
  EXPECT_GT(a.size(), 300000u);
  EXPECT_TRUE(a == ReadFile(second)) << "the rebuilt archive differs";
}

}  // namespace
}  // namespace quarrion
