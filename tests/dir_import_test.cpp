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
#include "host/host.h"
#include "test_util.h"

namespace quarrion {
namespace {

using testing::TempDir;
using testing::WriteFile;
using Strings = std::vector<std::string>;

Strings Sorted(Strings v) {
  std::sort(v.begin(), v.end());
  return v;
}

// The subfolders of `dir` in the host's listing order.
Strings Subfolders(const std::string& dir) {
  host::FolderLister lister;
  std::vector<host::FolderEntry> entries;
  EXPECT_TRUE(lister.List(dir, &entries).ok());
  Strings names;
  for (const host::FolderEntry& e : entries) {
    if (e.info.kind == host::FileKind::kFolder) names.push_back(e.name);
  }
  return names;
}

class DirImportTest : public ::testing::Test {
 protected:
  // Imports `top` afresh and keeps what was printed.
  bool Import(const std::string& top) {
    list_ = BuildList{};
    out_.str("");
    warn_.str("");
    stats_ = ImportStats{};
    Warnings warnings{out_, warn_};
    why_ = ImportDataDirectory(list_, top, out_, warnings, &stats_);
    EXPECT_EQ(warnings.count, stats_.skipped);
    return why_.ok();
  }

  // "folder|name" of every record, in list order.
  Strings Records() const {
    Strings r;
    for (const FileRecord& f : list_.files) r.push_back(f.folder + "|" + std::string(f.name()));
    return r;
  }

  static Strings Lines(const std::ostringstream& text) {
    Strings lines;
    std::istringstream in(text.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  TempDir dir_;
  std::string top_ = dir_.Join("mod");
  BuildList list_;
  std::ostringstream out_;
  std::ostringstream warn_;
  ImportStats stats_;
  Status why_;
};

TEST_F(DirImportTest, FilesOfAFolderComeBeforeItsSubfoldersDepthFirst) {
  WriteFile(top_ + "/a.tbl", "aa");
  WriteFile(top_ + "/maps/c.pof", "ccc");
  WriteFile(top_ + "/maps/deep/d.pof", "d");
  WriteFile(top_ + "/models/e.pof", "e");
  std::filesystem::create_directories(top_ + "/empty");
  // Subfolders go in the host's listing order; a trailing backslash on the
  // top is kept, doubling it in paths but not in archive folders.
  for (const std::string& base : {top_, top_ + "\\"}) {
    SCOPED_TRACE(base);
    ASSERT_TRUE(Import(base)) << why_.Message();
    Strings records{"data|a.tbl"};
    Strings announced{"Adding directory: " + base};
    for (const std::string& sub : Subfolders(top_)) {
      announced.push_back("Adding directory: " + base + "\\" + sub);
      if (sub == "maps") {
        records.insert(records.end(), {"data\\maps|c.pof", "data\\maps\\deep|d.pof"});
        announced.push_back("Adding directory: " + base + "\\maps\\deep");
      } else if (sub == "models") {
        records.push_back("data\\models|e.pof");
      }
    }
    ASSERT_EQ(Records(), records);
    EXPECT_EQ(Lines(out_), announced);
    EXPECT_EQ(warn_.str(), "");
    EXPECT_EQ(stats_.added, 4);
    EXPECT_EQ(list_[0].path, base + "\\a.tbl");
  }
}

TEST_F(DirImportTest, CvsFoldersAreLeftOutSilentlyButCvsFilesAreAdded) {
  WriteFile(top_ + "/CVS/Entries", "x");
  WriteFile(top_ + "/maps/CVS/Root", "x");
  WriteFile(top_ + "/maps/m.map", "m");
  // Each beside no "CVS", so that they stay apart where names ignore case.
  WriteFile(top_ + "/models/cvs/lower.txt", "l");
  WriteFile(top_ + "/tables/CVS", "a plain file");
  ASSERT_TRUE(Import(top_));
  EXPECT_EQ(Sorted(Records()),
            (Strings{"data\\maps|m.map", "data\\models\\cvs|lower.txt", "data\\tables|CVS"}));
  EXPECT_EQ(warn_.str(), "");
  EXPECT_EQ(out_.str().find("CVS"), std::string::npos);
  EXPECT_EQ(stats_.skipped, 0);
}

// FIFOs, symbolic links and unreadable folders as POSIX hosts have them; a
// link back to a folder being walked ends the walk there.
#if !defined(_WIN32)
TEST_F(DirImportTest, LinkLoopsLongFolderNamesAndLockedFoldersAreSkippedWithAWarningEach) {
  WriteFile(top_ + "/a/f.txt", "f");
  WriteFile(dir_.Join("elsewhere/g.txt"), "g");
  ::symlink("..", (top_ + "/a/up").c_str());                         // to the top
  ::symlink(".", (top_ + "/a/self").c_str());                        // to itself
  ::symlink(dir_.Join("elsewhere").c_str(), (top_ + "/b").c_str());  // a plain link: followed
  const std::string longFolder(32, 'f');
  WriteFile(top_ + "/" + longFolder + "/inside/x.tbl", "x");
  WriteFile(top_ + "/" + std::string(31, 'f') + "/y.tbl", "y");
  WriteFile(top_ + "/locked/secret.txt", "s");
  ::chmod((top_ + "/locked").c_str(), 0);
  const bool privileged = ::access((top_ + "/locked").c_str(), R_OK) == 0;
  ASSERT_TRUE(Import(top_));

  Strings records{"data\\" + std::string(31, 'f') + "|y.tbl", "data\\a|f.txt", "data\\b|g.txt"};
  Strings skipped{"a\\self", "a\\up", longFolder};
  if (privileged) {  // every folder is readable
    records.push_back("data\\locked|secret.txt");
  } else {
    skipped.push_back("locked");
  }
  EXPECT_EQ(Sorted(Records()), Sorted(records));
  Strings warned;  // each up to the path it names
  for (const std::string& w : Lines(warn_)) warned.push_back(w.substr(0, w.find(": ", 19 + top_.size())));
  for (std::string& s : skipped) s = "quarrion: warning: " + top_ + "\\" + s;
  EXPECT_EQ(Sorted(warned), Sorted(skipped));
  EXPECT_EQ(out_.str().find(longFolder), std::string::npos);  // not entered
}

// Names a POSIX folder may hold but an archive may not: each file and folder
// is skipped with a warning saying why, and the rest is added.
TEST_F(DirImportTest, NamesThatAreNotPlainAreSkippedAndTheRestIsWritten) {
  WriteFile(top_ + "/fine.tbl", "fine");
  WriteFile(top_ + "/back\\slash.txt", "b");
  WriteFile(top_ + "/c:olon.txt", "c");
  WriteFile(top_ + "/x:y/inside.tbl", "i");
  WriteFile(top_ + "/sub/bell\a", "a");
  ASSERT_TRUE(Import(top_));
  EXPECT_EQ(Records(), (Strings{"data|fine.tbl"}));
  const std::string w = "quarrion: warning: " + top_ + "\\";
  EXPECT_EQ(Sorted(Lines(warn_)),
            (Strings{w + "back\\slash.txt: name \"back\\slash.txt\" holds a backslash, skipped",
                     w + "c:olon.txt: name \"c:olon.txt\" holds a colon, skipped",
                     w + "sub\\bell\a: name \"bell\a\" holds a control character, skipped",
                     w + "x:y: folder name \"x:y\" holds a colon, skipped"}));
}
#endif  // !defined(_WIN32)

// A folder large enough for its statuses to be read by two threads: every
// record still gets its own file's size, links count as what they lead to,
// and subfolders and what cannot be added are told apart as in a small one.
TEST_F(DirImportTest, LargeFolderGivesEveryEntryItsOwnStatus) {
  Strings want;
  for (int i = 0; i < 300; ++i) {
    const std::string name = "file" + std::to_string(i);
    WriteFile(top_ + "/" + name, std::string(static_cast<std::size_t>(i), 'x'));
    want.push_back(name + "=" + std::to_string(i));
  }
  for (int i = 0; i < 10; ++i) {
    WriteFile(top_ + "/sub" + std::to_string(i) + "/in.tbl", "in");
    want.push_back("in.tbl=2");
  }
  int skipped = 0;
#if !defined(_WIN32)
  ::symlink("file250", (top_ + "/link").c_str());
  want.push_back("link=250");
  ::symlink("nowhere", (top_ + "/broken").c_str());
  skipped = 1;
#endif
  ASSERT_TRUE(Import(top_));
  Strings got;
  for (const FileRecord& f : list_.files)
    got.push_back(std::string(f.name()) + "=" + std::to_string(f.entry.size));
  EXPECT_EQ(Sorted(got), Sorted(want));
  EXPECT_EQ(stats_.skipped, skipped) << warn_.str();
}

// A missing top: see the batch tests.
TEST_F(DirImportTest, TopThatIsNoFolderIsAnErrorAndAddsNothing) {
  WriteFile(top_, "a file");
  ASSERT_FALSE(Import(top_));
  EXPECT_EQ(why_.Message(), top_ + ": not a folder");
  EXPECT_EQ(out_.str(), "");
}

}  // namespace
}  // namespace quarrion
