// Reproducible archives and exclusions, run in process: -mtime and
// SOURCE_DATE_EPOCH in every mode that writes an archive, -exclude in every
// mode that imports a directory, and the refusal of malformed values.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace quarrion {
namespace {

using testing::FileExists;
using testing::ReadFile;
using testing::RunResult;
using testing::SetMTime;
using testing::WriteFile;
using Strings = std::vector<std::string>;

class ReproducibleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Put("a.tbl", "table", 1000000000);
    Put("maps/c.pof", "model", 1200000000);
    Put("maps/empty.txt", "", 1200000000);
  }

  void Put(const std::string& path, const std::string& bytes, std::int64_t time) {
    WriteFile(Data() + "/" + path, bytes);
    SetMTime(Data() + "/" + path, time);
  }
  std::string Data() const { return dir_.Join("data"); }

  static RunResult Run(const Strings& args, const std::optional<std::string>& epoch = {},
                       const std::string& input = "") {
    return testing::RunQuarrionInProcess(args, input, epoch);
  }

  // "<time>  <path>" of every file of `archive`, in directory order.
  static Strings Listing(const std::string& archive) {
    std::istringstream text(Run({"-list", archive}).out);
    Strings lines;
    for (std::string line; std::getline(text, line);) {
      if (line.size() > 12 && line[10] == ' ' && line[11] == ' ') lines.push_back(line.substr(12));
    }
    return lines;
  }

  testing::TempDir dir_;
};

TEST_F(ReproducibleTest, RebuildsOfATouchedTreeAreTheSameWithMtimeOrSourceDateEpoch) {
  struct Case {
    Strings words;
    std::optional<std::string> epoch;
    bool same;
  };
  const std::string first = dir_.Join("first.vp"), second = dir_.Join("second.vp");
  for (const Case& c : {Case{{}, {}, false}, Case{{"-mtime", "1500000000"}, {}, true},
                        Case{{}, "1100000000", true}}) {
    SetUp();  // the times of the first build
    Strings args = c.words;
    args.insert(args.end(), {"-dir", Data(), "-o", first});
    ASSERT_EQ(Run(args, c.epoch).status, 0);
    SetMTime(Data() + "/maps/c.pof", 1300000000);
    SetMTime(Data() + "/maps/empty.txt", 1300000000);
    args.back() = second;
    ASSERT_EQ(Run(args, c.epoch).status, 0);
    EXPECT_EQ(ReadFile(first) == ReadFile(second), c.same) << c.words.size();
  }
  // SOURCE_DATE_EPOCH lowers later times only.
  EXPECT_EQ(Listing(second),
            (Strings{"2001-09-09 01:46:40  data\\a.tbl", "2004-11-09 11:33:20  data\\maps\\c.pof",
                     "2004-11-09 11:33:20  data\\maps\\empty.txt"}));
}

TEST_F(ReproducibleTest, MtimeStampsEveryFileOfEveryArchiveWriter) {
  const std::string out = dir_.Join("out.vp"), cfg = dir_.Join("data.cfg");
  ASSERT_EQ(Run({"-dir", Data(), "-mconfig", cfg}).status, 0);
  struct Case {
    std::string when;
    Strings args;
    std::string input;
    std::string shown;
  };
  for (const Case& c : {
           Case{"1796639405", {"-dir", Data(), "-o", out}, "", "2026-12-07 10:30:05"},
           Case{"2026-12-07",
                {"-rconfig", cfg, "-dir", dir_.path(), "-o", out},
                "",
                "2026-12-07 00:00:00"},
           Case{"2026-12-07T10:30:05",
                {"-oldinterface"},
                "im\n" + Data() + "\nwr\n" + out + "\nqu\n",
                "2026-12-07 10:30:05"},
       }) {
    Strings args = c.args;
    args.insert(args.end(), {"-mtime", c.when});
    ASSERT_EQ(Run(args, "1", c.input).status, 0) << c.when;  // -mtime wins over the environment
    EXPECT_EQ(Listing(out), (Strings{c.shown + "  data\\a.tbl", c.shown + "  data\\maps\\c.pof",
                                     c.shown + "  data\\maps\\empty.txt"}))
        << c.when;
  }
}

TEST_F(ReproducibleTest, ExclusionsLeaveOutNamesFoldersWithTheirTreesAndPaths) {
  for (const char* path : {".git/HEAD", ".git/objects/ab", "ships.tbl.BAK", "Thumbs.db",
                           "notes.txt", "maps/old/deep/a.map", "maps/campaign/b.txt"}) {
    Put(path, "x", 1000000000);
  }
  const Strings exclusions = {"-exclude",  ".git",     "-exclude",  "*.bak",    "-exclude",
                              "THUMBS.DB", "-exclude", "maps\\old", "-exclude", "maps\\*.txt"};
  const Strings kept = {"data\\a.tbl", "data\\maps\\c.pof", "data\\maps\\campaign\\b.txt",
                        "data\\notes.txt"};  // sorted
  const std::string out = dir_.Join("out.vp"), cfg = dir_.Join("data.cfg");
  for (const Strings& mode : {Strings{"-dir", Data(), "-o", out}, Strings{"-oldinterface"},
                              Strings{"-dir", Data(), "-mconfig", cfg}}) {
    Strings args = exclusions;
    args.insert(args.end(), mode.begin(), mode.end());
    RunResult r = Run(args, {}, "im\n" + Data() + "\nwr\n" + out + "\nqu\n");
    EXPECT_EQ(r.status, 0) << mode[0] << r.err;
    EXPECT_EQ(r.err, "") << mode[0];
    // Excluded folders are not even entered.
    EXPECT_EQ(r.out.find("Adding directory: " + Data() + "\\maps\\old"), std::string::npos);
    EXPECT_EQ(r.out.find("Adding directory: " + Data() + "\\.git"), std::string::npos);
    Strings packed;
    if (mode.back() == cfg) {
      // Three lines a file: name, source path, folder.
      std::istringstream text(ReadFile(cfg));
      for (std::string name, path, folder;
           std::getline(text, name) && std::getline(text, path) && std::getline(text, folder);) {
        packed.push_back(folder.substr(0, folder.size() - 1) + "\\" +
                         name.substr(0, name.size() - 1));
      }
    } else {
      for (const std::string& line : Listing(out)) packed.push_back(line.substr(21));
    }
    std::sort(packed.begin(), packed.end());
    EXPECT_EQ(packed, kept) << mode[0];
  }
}

TEST_F(ReproducibleTest, MalformedValuesAreRefusedBeforeAnythingIsRead) {
  struct Case {
    Strings words;
    std::optional<std::string> epoch;
    std::string error;
  };
  for (const Case& c : {
           Case{{"-mtime", "2026-02-30"}, {}, "-mtime \"2026-02-30\": not a time"},
           Case{{"-mtime", "soon"}, {}, "-mtime \"soon\": not a time"},
           Case{{}, "2026-12-07", "SOURCE_DATE_EPOCH \"2026-12-07\": not a count of seconds"},
           Case{{"-exclude", "*.bak", "-exclude", "*.[ch"},
                {},
                "-exclude: the pattern \"*.[ch\" has a [ that is not closed"},
       }) {
    Strings args = c.words;
    args.insert(args.end(), {"-dir", Data(), "-o", dir_.Join("out.vp")});
    RunResult r = Run(args, c.epoch);
    EXPECT_EQ(r.status, 1) << c.error;
    EXPECT_EQ(r.out, "") << c.error;
    EXPECT_EQ(r.err.find("quarrion: " + c.error), 0u) << r.err;
    EXPECT_FALSE(FileExists(dir_.Join("out.vp")));
  }
}

}  // namespace
}  // namespace quarrion
