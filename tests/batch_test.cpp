// The batch modes, run through the real program: prompts, messages, exit
// statuses and the files they write.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "test_util.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace quarrion {
namespace {

using testing::FileExists;
using testing::ReadFile;
using testing::RunQuarrionBinary;
using testing::RunResult;
using testing::WriteFile;

const std::string kShortBanner = "Quarrion 1.6 - VP archive builder\n\n";

// A data directory whose walk order does not depend on the host's listing:
// one file and one subfolder per folder.
class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_.Join("game/data/a.tbl"), "table");
    WriteFile(dir_.Join("game/data/maps/c.pof"), "model bytes");
    testing::SetMTime(dir_.Join("game/data/a.tbl"), 1000000000);
    testing::SetMTime(dir_.Join("game/data/maps/c.pof"), 1100000000);
  }
  std::string Data() const { return dir_.Join("game/data"); }
  std::string Game() const { return dir_.Join("game"); }

  testing::TempDir dir_;
};

TEST_F(BatchTest, DefaultBuildWithOptionsOrPrompts) {
  const std::string adding =
      "Adding directory: " + Data() + "\nAdding directory: " + Data() + "\\maps\n";
  RunResult r = RunQuarrionBinary({"-dir", Data(), "-o", dir_.Join("given.vp")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, kShortBanner + adding + "Writing VP ->\ndata\ndata\\maps\n\n");
  const std::string vp = ReadFile(dir_.Join("given.vp"));
  // header, 5 + 11 data bytes, folder data, a.tbl, folder maps, c.pof
  ASSERT_EQ(vp.size(), 16u + 16u + 4 * 44u);
  EXPECT_EQ(vp.substr(16, 16), "tablemodel bytes");
  EXPECT_EQ(testing::Int32At(vp, 32 + 44 + 40), 1000000000);  // a.tbl's time

  // No option: the long banner and two prompts; the typed name ends at a blank.
  r = RunQuarrionBinary({}, Data() + "\nasked.vp ignored words\n", dir_.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(r.out.find("# VP to VP Copy")),
            "# VP to VP Copy and oldinterface now available\n\n\n"
            "Enter Data Directory Location (ie c:\\games\\starhold\\data)\n#:\n"
            "Importing Directory: \"" +
                Data() + "\"\n" + adding +
                "\n\nWriting VP ->\nVP output Filename (no whitespace): data\ndata\\maps\n\n");
  EXPECT_EQ(ReadFile(dir_.Join("asked.vp")), vp);
}

TEST_F(BatchTest, InputsThatCannotBeReadAndOutputsThatCannotBeWrittenAreErrors) {
  // Nothing is written or created: the tree keeps its five entries and out.vp.
  const std::string out = dir_.Join("out.vp");
  WriteFile(out, "keep me");
  const std::string none = dir_.Join("none.cfg");
  for (std::vector<std::string> args :
       {std::vector<std::string>{"-dir", dir_.Join("nowhere"), "-o", out},
        {"-dir", dir_.Join("nowhere"), "-mconfig", out},
        {"-mdlist", none, out},
        {"-rconfig", none, "-dir", Game(), "-o", out}}) {
    RunResult r = RunQuarrionBinary(args);
    EXPECT_EQ(r.status, 1) << args[1];
    EXPECT_NE(r.err.find(args[1]), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(out), "keep me");
    EXPECT_EQ(testing::ListTree(dir_.path()).size(), 6u);
  }
  // The end of input at a prompt.
  RunResult r = RunQuarrionBinary({"-o", out}, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("end of input"), std::string::npos);
  r = RunQuarrionBinary({"-dir", Data()}, "", dir_.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(testing::ListTree(dir_.path()).size(), 6u);
#if !defined(_WIN32)
  r = RunQuarrionBinary({"-dir", Data(), "-o", dir_.Join("no/such/folder/x.vp")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("could not write " + dir_.Join("no/such/folder/x.vp")), std::string::npos);
#endif
}

#if !defined(_WIN32)
TEST_F(BatchTest, SkippedFilesStillWriteTheArchiveButExitOne) {
  ASSERT_EQ(::mkfifo((Data() + "/pipe").c_str(), 0600), 0);
  const std::string out = dir_.Join("out.vp");
  RunResult r = RunQuarrionBinary({"-dir", Data(), "-o", out});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("pipe"), std::string::npos);
  EXPECT_EQ(ReadFile(out).size(), 16u + 16u + 4 * 44u);
}
#endif

TEST_F(BatchTest, ConfigurationRoundTripGivesTheSameArchive) {
  WriteFile(Data() + "/maps/d.pof", "second model");
  const std::string cfg = dir_.Join("game.cfg");
  RunResult r = RunQuarrionBinary({"-dir", Data(), "-mconfig", cfg});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string config = ReadFile(cfg);
  EXPECT_EQ(config.find("a.tbl\r\n" + Data() + "\\a.tbl\r\ndata\r\n"), 0u);
  EXPECT_NE(config.find("c.pof\r\n" + Data() + "\\maps\\c.pof\r\ndata\\maps\r\n"),
            std::string::npos);
  ASSERT_EQ(RunQuarrionBinary({"-dir", Data(), "-o", dir_.Join("direct.vp")}).status, 0);

  // The relational build joins base directory, folder and name: the old
  // paths, which no longer exist, are ignored.
  const std::string moved = dir_.Join("moved");
  std::filesystem::rename(Game(), moved);
  r = RunQuarrionBinary({"-rconfig", cfg, "-o", dir_.Join("relational.vp")}, moved + "\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kShortBanner +
                       "Relational Config Mode\n"
                       "Enter Data Directory Location (ie c:\\games\\starhold\\data)\n#:"
                       "Importing Relational Config with base directory: " +
                       moved + "\ndata\ndata\\maps\n\n");
  EXPECT_EQ(ReadFile(dir_.Join("relational.vp")), ReadFile(dir_.Join("direct.vp")));
}

TEST_F(BatchTest, RelationalBuildReferencesAndFailures) {
  const std::string packs = dir_.Join("packs");
  WriteFile(packs + "/keep", "");
  ASSERT_EQ(RunQuarrionBinary({"-dir", Data(), "-o", packs + "/pack.vp"}).status, 0);
  const std::string cfg = dir_.Join("r.cfg");
  const std::string out = dir_.Join("r.vp");
  WriteFile(out, "old archive");
  // An empty folder line gives two backslashes in a row.
  WriteFile(cfg, "c.pof\nx\ndata\\maps\nlost.tbl\nx\n\nc.pof\nx\ndata\\maps\n");
  RunResult r = RunQuarrionBinary({"-rconfig", cfg, "-dir", Game(), "-o", out});
  EXPECT_EQ(r.status, 1);
  const std::string failed = "Add Failed! File \"" + Game() + "\\\\lost.tbl\" Does Not Exist!";
  ASSERT_GE(r.out.size(), failed.size());
  EXPECT_EQ(r.out.substr(r.out.size() - failed.size()), failed);  // no line end after it
  EXPECT_EQ(ReadFile(out), "old archive");

  // A refusal for another reason says that reason instead.
  WriteFile(cfg, std::string(32, 'n') + "\nx\ndata\n");
  WriteFile(Data() + "/" + std::string(32, 'n'), "long name");
  r = RunQuarrionBinary({"-rconfig", cfg, "-dir", Game(), "-o", out});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Add Failed! File \"" + Game() + "\\data\\" + std::string(32, 'n') + "\" "),
            std::string::npos);
  EXPECT_EQ(r.out.find("Does Not Exist!"), std::string::npos);
  EXPECT_EQ(ReadFile(out), "old archive");

  // A doubled backslash makes an empty folder component, which the writer refuses.
  WriteFile(cfg, "a.tbl\nx\ndata\\\\\n");
  r = RunQuarrionBinary({"-rconfig", cfg, "-dir", Game(), "-o", out});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("could not write " + out), std::string::npos);
  EXPECT_EQ(ReadFile(out), "old archive");

  // A reference is kept as written, whatever the base directory.
  WriteFile(cfg, "c.pof\n" + packs + "/pack.vp:c.pof\ndata\\models\n");
  r = RunQuarrionBinary({"-rconfig", cfg, "-dir", "/nowhere", "-o", dir_.Join("k.vp")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(ReadFile(dir_.Join("k.vp")).substr(16, 11), "model bytes");

  // Moved to the -vppath folder before it is added; a failure shows the moved path.
  WriteFile(cfg, "c.pof\nd:\\vps\\pack.vp:c.pof\ndata\\models\n");
  r = RunQuarrionBinary(
      {"-rconfig", cfg, "-dir", "/nowhere", "-vppath", packs, "-o", dir_.Join("m.vp")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(ReadFile(dir_.Join("m.vp")), ReadFile(dir_.Join("k.vp")));

  r = RunQuarrionBinary(
      {"-rconfig", cfg, "-vppath", dir_.Join("elsewhere"), "-dir", "/x", "-o", dir_.Join("f.vp")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Add Failed! File \"" + dir_.Join("elsewhere") + "\\pack.vp:c.pof\""),
            std::string::npos);
  EXPECT_FALSE(FileExists(dir_.Join("f.vp")));
}

TEST_F(BatchTest, DeleteListBytes) {
  const std::string cfg = dir_.Join("d.cfg");
  WriteFile(cfg, "a.txt\nignored\\path\ndata\r\nb.txt\nx\n\r\nfighter.pof\n\ndata\\models\nhalf\n");
  const std::string out = dir_.Join("del.nsh");
  RunResult r = RunQuarrionBinary({"-mdlist", cfg, out});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kShortBanner + "Making NSIS Delete List (" + out + ") from config file (" + cfg +
                       ")\n");
  EXPECT_EQ(ReadFile(out),
            "  delete \"$INSTDIR\\data\\a.txt\"\r\n"
            "  delete \"$INSTDIR\\\\b.txt\"\r\n"
            "  delete \"$INSTDIR\\data\\models\\fighter.pof\"\r\n");
}

// The delete list is meant for an installer script: check that a real
// installer compiler accepts it.
TEST_F(BatchTest, DeleteListCompilesInAnInstallerScript) {
  if (std::system("makensis -VERSION > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "makensis is not installed; the installer check did not run";
  }
  const std::string cfg = dir_.Join("game.cfg");
  ASSERT_EQ(RunQuarrionBinary({"-dir", Data(), "-mconfig", cfg}).status, 0);
  ASSERT_EQ(RunQuarrionBinary({"-mdlist", cfg, dir_.Join("delete.nsh")}).status, 0);
  WriteFile(dir_.Join("setup.nsi"),
            "OutFile \"qtest.exe\"\r\n"
            "Section\r\n"
            "  WriteUninstaller \"$INSTDIR\\remove-qtest.exe\"\r\n"
            "SectionEnd\r\n"
            "Section \"Uninstall\"\r\n"
            "!include \"delete.nsh\"\r\n"
            "SectionEnd\r\n");
  const std::string cmd = "cd '" + dir_.path() + "' && makensis -V1 -WX setup.nsi > log.txt 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << ReadFile(dir_.Join("log.txt"));
  EXPECT_TRUE(FileExists(dir_.Join("qtest.exe")));
}

}  // namespace
}  // namespace quarrion
