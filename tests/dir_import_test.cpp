#include "buildlist/dir_import.h"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "buildlist/build_list.h"
#include "test_util.h"

namespace quarrion {
namespace {

using testing::TempDir;
using testing::WriteFile;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class DirImportTest : public ::testing::Test {
 protected:
  // Imports `top` and keeps what was printed.
  bool Import(const std::string& top) {
    out_.str("");
    warn_.str("");
    stats_ = ImportStats{};
    return ImportDataDirectory(list_, top, out_, warn_, &stats_, &why_);
  }

  // "folder|name" of every record, in list order.
  std::vector<std::string> Records() const {
    std::vector<std::string> r;
    for (const FileRecord& f : list_.files) r.push_back(f.folder + "|" + std::string(f.name()));
    return r;
  }

  TempDir dir_;
  std::string top_ = dir_.Join("mod");
  BuildList list_;
  std::ostringstream out_;
  std::ostringstream warn_;
  ImportStats stats_;
  Status why_;
};

TEST_F(DirImportTest, FilesOfAFolderComeBeforeItsSubfoldersInListingOrder) {
  WriteFile(top_ + "/a.tbl", "aa");
  WriteFile(top_ + "/b.tbl", "b");
  WriteFile(top_ + "/maps/c.pof", "ccc");
  WriteFile(top_ + "/maps/deep/d.pof", "d");
  WriteFile(top_ + "/models/e.pof", "e");
  std::filesystem::create_directories(top_ + "/empty");
  ASSERT_TRUE(Import(top_)) << why_.message;

  // The import keeps the host's order; the expectations follow that order.
  std::vector<std::string> top, sub;
  ASSERT_TRUE(ListDirectory(top_, &top, &sub));
  std::sort(top.begin(), top.end());
  EXPECT_EQ(top, (std::vector<std::string>{"a.tbl", "b.tbl"}));
  ASSERT_EQ(sub.size(), 3u);
  std::vector<std::string> expected;
  std::vector<std::string> announced{"Adding directory: " + top_};
  std::vector<std::string> topFiles;
  ASSERT_TRUE(ListEntries(top_, &topFiles));
  for (const std::string& f : topFiles) {
    if (f.find('.') != std::string::npos) expected.push_back("data|" + f);
  }
  for (const std::string& s : sub) {
    announced.push_back("Adding directory: " + top_ + "\\" + s);
    if (s == "maps") {
      expected.push_back("data\\maps|c.pof");
      announced.push_back("Adding directory: " + top_ + "\\maps\\deep");
      expected.push_back("data\\maps\\deep|d.pof");
    } else if (s == "models") {
      expected.push_back("data\\models|e.pof");
    }
  }
  EXPECT_EQ(Records(), expected);
  EXPECT_EQ(Lines(out_.str()), announced);
  EXPECT_EQ(warn_.str(), "");
  EXPECT_EQ(stats_.added, 5);
  EXPECT_EQ(stats_.skipped, 0);

  // Paths are joined with one backslash and open on this host.
  auto c = std::find_if(list_.files.begin(), list_.files.end(),
                        [](const FileRecord& f) { return f.name() == "c.pof"; });
  ASSERT_NE(c, list_.files.end());
  EXPECT_EQ(c->path, top_ + "\\maps\\c.pof");
  EXPECT_EQ(c->size, 3);
}

TEST_F(DirImportTest, TrailingBackslashDoublesInPathsButNotInFolders) {
  WriteFile(top_ + "/sub/f.txt", "f");
  ASSERT_TRUE(Import(top_ + "\\")) << why_.message;
  ASSERT_EQ(list_.size(), 1u);
  EXPECT_EQ(list_[0].path, top_ + "\\\\sub\\f.txt");
  EXPECT_EQ(list_[0].folder, "data\\sub");
  EXPECT_EQ(Lines(out_.str()), (std::vector<std::string>{"Adding directory: " + top_ + "\\",
                                                         "Adding directory: " + top_ + "\\\\sub"}));
}

TEST_F(DirImportTest, CvsFoldersAreLeftOutSilentlyButCvsFilesAreAdded) {
  WriteFile(top_ + "/CVS/Entries", "x");
  WriteFile(top_ + "/maps/CVS/Root", "x");
  WriteFile(top_ + "/maps/m.map", "m");
  // Each beside no "CVS", so that they stay apart where names ignore case.
  WriteFile(top_ + "/models/cvs/lower.txt", "l");
  WriteFile(top_ + "/effects/Cvs/mixed.txt", "m");
  WriteFile(top_ + "/tables/CVS", "a plain file");
  ASSERT_TRUE(Import(top_));

  std::vector<std::string> records = Records();
  std::sort(records.begin(), records.end());
  EXPECT_EQ(records, (std::vector<std::string>{"data\\effects\\Cvs|mixed.txt", "data\\maps|m.map",
                                               "data\\models\\cvs|lower.txt", "data\\tables|CVS"}));
  EXPECT_EQ(warn_.str(), "");
  EXPECT_EQ(out_.str().find("CVS"), std::string::npos);
  EXPECT_EQ(stats_.skipped, 0);
}

// FIFOs, symbolic links and unreadable folders as POSIX hosts have them.
#if !defined(_WIN32)
TEST_F(DirImportTest, UnaddableEntriesAreSkippedWithOneWarningEach) {
  WriteFile(top_ + "/good.tbl", "g");
  std::filesystem::create_directories(top_);
  ASSERT_EQ(::mkfifo((top_ + "/pipe").c_str(), 0600), 0);
  const std::string longName(32, 'n');
  WriteFile(top_ + "/" + longName, "too long a name");
  ::symlink("nowhere", (top_ + "/broken").c_str());
  const std::string longFolder(32, 'f');
  WriteFile(top_ + "/" + longFolder + "/inside/x.tbl", "x");
  WriteFile(top_ + "/" + std::string(31, 'f') + "/y.tbl", "y");
  ASSERT_TRUE(Import(top_));

  std::vector<std::string> records = Records();
  std::sort(records.begin(), records.end());
  EXPECT_EQ(records, (std::vector<std::string>{"data\\" + std::string(31, 'f') + "|y.tbl",
                                               "data|good.tbl"}));
  std::vector<std::string> warnings = Lines(warn_.str());
  std::sort(warnings.begin(), warnings.end());
  ASSERT_EQ(warnings.size(), 4u) << warn_.str();
  const std::string prefix = "quarrion: warning: " + top_ + "\\";
  const std::vector<std::string> skipped{"broken", longFolder, longName, "pipe"};
  for (std::size_t i = 0; i < warnings.size(); ++i) {
    SCOPED_TRACE(warnings[i]);
    EXPECT_EQ(warnings[i].rfind(prefix + skipped[i] + ": ", 0), 0u);
    EXPECT_EQ(warnings[i].substr(warnings[i].size() - 9), ", skipped");
  }
  EXPECT_EQ(stats_.skipped, 4);
  EXPECT_EQ(stats_.added, 2);
  // The too-long folder was not entered.
  EXPECT_EQ(out_.str().find(longFolder), std::string::npos);
}

TEST_F(DirImportTest, LinkBackToAFolderBeingWalkedEndsTheWalkThere) {
  WriteFile(top_ + "/a/f.txt", "f");
  WriteFile(dir_.Join("elsewhere/g.txt"), "g");
  ::symlink("..", (top_ + "/a/up").c_str());                         // to the top
  ::symlink(".", (top_ + "/a/self").c_str());                        // to itself
  ::symlink(dir_.Join("elsewhere").c_str(), (top_ + "/b").c_str());  // a plain link: followed
  ASSERT_TRUE(Import(top_));

  std::vector<std::string> records = Records();
  std::sort(records.begin(), records.end());
  EXPECT_EQ(records, (std::vector<std::string>{"data\\a|f.txt", "data\\b|g.txt"}));
  EXPECT_EQ(stats_.skipped, 2);
  std::vector<std::string> warnings = Lines(warn_.str());
  std::sort(warnings.begin(), warnings.end());
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[0].rfind("quarrion: warning: " + top_ + "\\a\\self: ", 0), 0u);
  EXPECT_EQ(warnings[1].rfind("quarrion: warning: " + top_ + "\\a\\up: ", 0), 0u);
}

TEST_F(DirImportTest, UnlistableSubfolderIsSkippedAndTheWalkGoesOn) {
  WriteFile(top_ + "/locked/secret.txt", "s");
  WriteFile(top_ + "/open/visible.txt", "v");
  ::chmod((top_ + "/locked").c_str(), 0);
  if (::access((top_ + "/locked").c_str(), R_OK) == 0) {
    GTEST_SKIP() << "running with privileges that read any folder";
  }
  ASSERT_TRUE(Import(top_));
  EXPECT_EQ(Records(), (std::vector<std::string>{"data\\open|visible.txt"}));
  EXPECT_EQ(stats_.skipped, 1);
  EXPECT_EQ(warn_.str().rfind("quarrion: warning: " + top_ + "\\locked: ", 0), 0u);
}
#endif  // !defined(_WIN32)

TEST_F(DirImportTest, MissingOrNonFolderTopIsAnErrorAndAddsNothing) {
  ASSERT_FALSE(Import(top_));
  EXPECT_EQ(why_.code, Code::kNotFound);
  EXPECT_EQ(why_.message.rfind(top_ + ": ", 0), 0u);
  EXPECT_EQ(out_.str(), "");

  WriteFile(top_, "a file");
  ASSERT_FALSE(Import(top_));
  EXPECT_EQ(why_.message, top_ + ": not a folder");
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(list_.size(), 0u);
}

TEST_F(DirImportTest, ListingHelpersSplitOneListing) {
  WriteFile(top_ + "/f.txt", "f");
  WriteFile(top_ + "/sub/x", "x");
  WriteFile(top_ + "/CVS/x", "x");
  std::vector<std::string> entries, files, subs;
  ASSERT_TRUE(ListEntries(top_, &entries));
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"CVS", "f.txt", "sub"}));
  ASSERT_TRUE(ListDirectory(top_, &files, &subs));
  EXPECT_EQ(files, (std::vector<std::string>{"f.txt"}));
  EXPECT_EQ(subs, (std::vector<std::string>{"sub"}));
  EXPECT_EQ(ListSubfolders(top_), (std::vector<std::string>{"sub"}));
  EXPECT_TRUE(ListSubfolders(dir_.Join("missing")).empty());
  EXPECT_FALSE(ListEntries(dir_.Join("missing"), &entries));
}

}  // namespace
}  // namespace quarrion
