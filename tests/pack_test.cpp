// Packing: the order and layout of an archive, and the writer that makes one.
#include <gtest/gtest.h>

#include <new>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "fastio/batch_io.h"
#include "fastio/folder_lister.h"
#include "fastio/helper_thread.h"
#include "host/host.h"
#include "pack/layout.h"
#include "pack/writer.h"
#include "shell/console.h"
#include "test_util.h"
#include "vp/coding.h"
#include "vp/format.h"
#include "vp/source_archives.h"

#if !defined(_WIN32)
#include <sys/resource.h>

#include <csignal>
#endif

namespace quarrion {
namespace {

using testing::Record;
using testing::Reference;

// The selection sort that defines the order (strings compare bytes unsigned).
void ReferenceSort(std::vector<FileRecord>& files) {
  auto key = [](const FileRecord& r) { return std::pair(std::string_view(r.folder), r.name()); };
  for (std::size_t m = files.size(); m > 0; --m) {
    std::size_t b = 0;
    for (std::size_t j = 0; j < m; ++j) {
      if (key(files[b]) < key(files[j])) b = j;
    }
    std::swap(files[b], files[m - 1]);
  }
}

TEST(LayoutTest, OrderMatchesTheSelectionSortOnRandomLists) {
  // Few distinct folders and names, so that equal records are common; bytes
  // above 0x7f, blanks and upper case test the unsigned, case-sensitive order.
  const std::vector<std::string> folders = {
      "",           "data",          "data\\maps", "data\\maps x",
      "data\\Maps", "data\\maps\\x", "d\xe9ta",    "data\\m"};
  const std::vector<std::string> names = {"a", "B", "a.pof", "ab", "\xff", "A", "b b", ""};
  std::mt19937 rng(12345);
  for (int round = 0; round < 1000; ++round) {
    std::size_t n = (round % 50 == 0) ? 400 + rng() % 200 : rng() % 40;
    BuildList list;
    for (std::size_t i = 0; i < n; ++i) {
      list.files.push_back(Record(folders[rng() % folders.size()], names[rng() % names.size()], 1,
                                  std::to_string(i)));
    }
    std::vector<FileRecord> expected = list.files;
    ReferenceSort(expected);
    SortFiles(list);
    for (std::size_t i = 0; i < n; ++i) {
      ASSERT_EQ(list.files[i].path, expected[i].path) << "round " << round << " position " << i;
    }
  }
}

TEST(LayoutTest, RefusesFoldersTheDirectoryCannotHoldAndArchivesPastTwoGigabytes) {
  struct Case {
    std::string folder;
    Code code;
    std::string words;
  } const cases[] = {
      {"\\data", Code::kBadFolder, "has an empty component"},
      {"data\\" + std::string(32, 'x'), Code::kNameTooLong, "is longer than 31 bytes"},
      {"data\\" + std::string(31, 'x') + "\\.x", Code::kOk, ""},
      {"data\\..hidden", Code::kBadFolder, "begins with \"..\""},  // it would read as an up entry
      {"data/maps", Code::kBadFolder, "the folder component \"data/maps\" holds a slash"},
  };
  for (const Case& c : cases) {
    BuildList list;
    list.files = {Record("data", "fine"), Record(c.folder, "x.pof")};
    const Status why = CheckLayout(list, LayoutTree(list));
    EXPECT_EQ(why.code, c.code) << c.folder;
    if (why.ok()) continue;
    EXPECT_EQ(why.Message().rfind(c.folder + "\\x.pof: ", 0), 0u) << why.Message();
    EXPECT_NE(why.Message().find(c.words), std::string::npos) << why.Message();
  }
  // Data ending exactly at 2^31-1 still fit; one byte more does not.
  BuildList list;
  list.files = {Record("data", "a", 0x40000000), Record("data", "b", 0x3fffffff - 16)};
  Layout layout = LayoutTree(list);
  EXPECT_TRUE(CheckLayout(list, layout).ok());
  EXPECT_EQ(layout.dirOffset, 0x7fffffff);
  list.files.push_back(Record("data", "c", 1));
  list.files.push_back(Record("data", "d", 5));
  layout = LayoutTree(list);
  const Status why = CheckLayout(list, layout);
  EXPECT_EQ(why.code, Code::kTooLarge);
  EXPECT_EQ(why.Message().rfind("data\\c: ", 0), 0u) << why.Message();
  EXPECT_EQ(layout.dataSize, 0x80000000LL - 16 + 5);
}

std::string I32(std::uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
  return s;
}

std::string FileEntry(std::uint32_t offset, std::uint32_t size, const std::string& name,
                      std::uint32_t time) {
  return I32(offset) + I32(size) + name + std::string(32 - name.size(), '\0') + I32(time);
}

// The directory of an archive: "data/@offset", "../@offset" or "name@offset+size".
std::vector<std::string> Directory(const std::string& archive) {
  std::vector<std::string> out;
  const char* entries = archive.data() + DecodeInt32(archive.data() + 8);
  for (std::int32_t i = 0; i < DecodeInt32(archive.data() + 12); ++i) {
    const VpDirEntry e = DecodeDirEntry(entries + i * static_cast<std::ptrdiff_t>(kDirEntrySize));
    const bool file = ClassifyEntry(e) == EntryKind::kFile;
    out.push_back(std::string(EntryName(e)) + (file ? "@" : "/@") + std::to_string(e.offset) +
                  (file ? "+" + std::to_string(e.size) : ""));
  }
  return out;
}

class WriterTest : public ::testing::Test {
 protected:
  // A file on disk with `size` bytes of `fill`, and its record.
  FileRecord Disk(const std::string& folder, const std::string& name, std::int32_t size, char fill,
                  std::int32_t time = 1000) {
    const std::string path = dir_.Join("src/" + folder + "/" + name);  // backslashes are separators
    testing::WriteFile(host::NativePath(path), std::string(static_cast<std::size_t>(size), fill));
    return Record(folder, name, size, path, time);
  }
  // Writes `files` to `target`; `console` gets the warnings and the folders, one a line.
  static Status Write(std::vector<FileRecord> files, const std::string& target,
                      std::string* console = nullptr, SourceArchives* archives = nullptr) {
    struct Folders : WriteObserver {
      std::ostream& shown;
      explicit Folders(std::ostream& s) : shown(s) {}
      void Folder(std::string_view folder) override { shown << folder << '\n'; }
      void DataDone() override { shown << '\n'; }
    };
    BuildList list;
    list.files = std::move(files);
    std::ostringstream shown;
    ConsoleWarnings warnings(shown, shown);
    Folders folders(shown);
    const Status why = WriteArchive(list, target, warnings, &folders, archives);
    if (console != nullptr) *console = shown.str();
    return why;
  }
  // Writes `files` to out.vp, which must succeed, and returns its bytes.
  std::string Written(std::vector<FileRecord> files, std::string* console = nullptr) {
    const Status why = Write(std::move(files), target_, console);
    EXPECT_TRUE(why.ok()) << why.Message();
    return testing::ReadFile(target_);
  }
  // Writes `files` over out.vp, which must fail and keep the old archive; returns why.
  Status Failed(std::vector<FileRecord> files) {
    testing::WriteFile(target_, "old archive");
    const Status why = Write(std::move(files), target_);
    EXPECT_FALSE(why.ok());
    EXPECT_EQ(testing::ReadFile(target_), "old archive");
    for (const std::string& entry : testing::ListTree(dir_.path())) {
      EXPECT_EQ(entry.find("out.vp."), std::string::npos) << "a temporary file is left: " << entry;
    }
    return why;
  }

  testing::TempDir dir_;
  const std::string target_ = dir_.Join("out.vp");
};

TEST_F(WriterTest, WritesTheExampleArchive) {
  std::string console;
  EXPECT_EQ(
      Written(
          {Disk("data\\tables", "a.tbl", 10, 'a', 101), Disk("data\\models", "x.pof", 20, 'x', 102),
           Disk("data\\models", "y.pof", 30, 'y', 103), Disk("data", "z.wav", 40, 'z', 104)},
          &console),
      "VPVP" + I32(2) + I32(116) + I32(8) + std::string(40, 'z') + std::string(20, 'x') +
          std::string(30, 'y') + std::string(10, 'a') + FileEntry(56, 0, "data", 0) +
          FileEntry(16, 40, "z.wav", 104) + FileEntry(76, 0, "models", 0) +
          FileEntry(56, 20, "x.pof", 102) + FileEntry(76, 30, "y.pof", 103) + I32(116) + I32(0) +
          std::string("..\0", 3) + std::string(29, '\xcc') + I32(0) +
          FileEntry(116, 0, "tables", 0) + FileEntry(106, 10, "a.tbl", 101));
  EXPECT_EQ(console, "data\ndata\\models\ndata\\tables\n\n");
}

// Paths equal but for letter case (readers ignore it), or equal, are warned of once (in the
// archive's order) and both written; a file at a folder's path (from the root too) is left out.
TEST_F(WriterTest, PathsThatDifferOnlyInLetterCaseAreWarnedOfAndBothWritten) {
  const FileRecord one = Disk("data", "one", 1, '1');
  auto same = [&one](const std::string& folder, const std::string& name) {
    return Record(folder, name, 1, one.path, 5);
  };
  std::string console;
  const std::string archive = Written(
      {same("data", "ship.pof"), same("data\\Maps", "a.pof"), same("data", "Ship.pof"),
       same("data\\maps", "A.POF"), same("data", "other"), same("", "Data"), same("data", "other")},
      &console);
  EXPECT_EQ(Directory(archive).size(), 10u);  // 3 folders, 1 up, 6 files
  EXPECT_EQ(console.substr(0, console.find("data\n")),
            "quarrion: warning: Data: a file and a folder of the same path (data), skipped\n"
            "quarrion: warning: data\\other is listed twice\n"
            "quarrion: warning: data\\Ship.pof and data\\ship.pof differ only in letter case\n"
            "quarrion: warning: data\\Maps\\a.pof and data\\maps\\A.POF differ only in letter "
            "case\n");
}

// Folder and up entries at every change of folder carry the end of the next file's data (maps
// opened twice, several up entries in a row); an empty file of time 0 stays a file.
TEST_F(WriterTest, FolderAndUpEntriesAtEveryChangeOfFolder) {
  std::string console;
  const std::string archive =
      Written({Disk("data\\tables", "t", 1, 't'), Disk("data\\maps\\x", "c", 5, 'c'),
               Disk("data\\maps x", "b", 4, 'b'), Disk("data\\maps", "m", 3, 'm'),
               Disk("data\\tables", "a.empty", 0, 'e', 0)},
              &console);
  const std::vector<std::string> directory = {"data/@19",   "maps/@19",     "m@16+3", "../@23",
                                              "maps x/@23", "b@19+4",       "../@28", "maps/@28",
                                              "x/@28",      "c@23+5",       "../@28", "../@28",
                                              "tables/@28", "a.empty@28+0", "t@28+1"};
  EXPECT_EQ(Directory(archive), directory);
  EXPECT_EQ(archive.size(), 16 + 13 + directory.size() * kDirEntrySize);
  EXPECT_EQ(archive.substr(16, 13), "mmmbbbbccccct");
  EXPECT_EQ(console, "data\\maps\ndata\\maps x\ndata\\maps\\x\ndata\\tables\n\n");
}

// Records copied from archives, even the one rebuilt; a source that cannot serve fails naming it.
TEST_F(WriterTest, CopiesFromSourceArchivesAndFailsOnSourcesThatCannotServe) {
  const std::string source = dir_.Join("source.vp");
  Written({Disk("data\\a", "ship.pof", 5, '1', 501), Disk("data\\b", "ship.pof", 7, '2', 502),
           Disk("data\\b", "other.tbl", 3, 'o', 503)});
  std::rename(target_.c_str(), source.c_str());
  // Its entries: data, a, ship.pof, .., b, other.tbl, ship.pof.
  const std::string copy =
      Written({Reference("data\\copied", "Ship.POF", 5, source, 2, 501),
               Reference("data", "other.tbl", 3, source, 5, 503), Disk("data", "zz", 2, 'z'),
               Reference("data\\copied", "second.pof", 7, source, 6, 502)});
  EXPECT_EQ(copy.substr(16, 17), "ooozz111112222222");
  EXPECT_EQ(Directory(copy),
            (std::vector<std::string>{"data/@19", "other.tbl@16+3", "zz@19+2", "copied/@26",
                                      "Ship.POF@21+5", "second.pof@26+7"}));
  SourceArchives archives;  // rebuilt over its own source, it still gets the old bytes
  Status why = Write({Reference("data", "other.tbl", 3, source, 5, 503),
                      Reference("data", "ship.pof", 5, source, 2, 501)},
                     source, nullptr, &archives);
  ASSERT_TRUE(why.ok()) << why.Message();
  EXPECT_EQ(testing::ReadFile(source).substr(16, 8), "ooo11111");

  testing::WriteFile(dir_.Join("cut.vp"),
                     "VPVP" + I32(2) + I32(16) + I32(1) + FileEntry(10, 100, "big.pof", 5));
  // Archive, entry, size, time, failure: the entry gone, no longer the file it was, or with data
  // running from byte 10 to 110 of a 60-byte file.
  const std::tuple<std::string, std::int64_t, std::int32_t, std::int32_t, Code> cases[] = {
      {dir_.Join("missing.vp"), 2, 5, 501, Code::kNotFound},
      {source, 99, 5, 501, Code::kNoSuchEntry},
      {source, 1, 0, 0, Code::kChanged},  // now the folder a
      {source, 2, 6, 501, Code::kChanged},
      {source, 2, 5, 502, Code::kChanged},
      {dir_.Join("cut.vp"), 0, 100, 5, Code::kBrokenEntry}};
  for (const auto& [archive, entry, size, time, code] : cases) {
    why = Failed(
        {Disk("data", "fine", 4, 'f'), Reference("data", "x.pof", size, archive, entry, time)});
    EXPECT_EQ(why.code, code) << archive << " " << entry;
    EXPECT_NE(why.Message().find(archive), std::string::npos) << why.Message();
  }
}

// Small files read in batches (cut by larger files and a reference), others opened ahead: on both
// I/O paths each file lands in place, and of the files that changed the first listed is named.
TEST_F(WriterTest, ManyFilesLandInOrderOnBothIoPathsAndTheFirstChangedFileIsNamed) {
  const std::string source = dir_.Join("source.vp");
  Written({Disk("data", "n1070z", 6, 'i')});
  std::rename(target_.c_str(), source.c_str());
  constexpr std::int32_t kLargestBatched = 64 * 1024;
  std::vector<FileRecord> files;
  std::vector<std::string> contents;
  std::string data;  // in list order, as the names sort as they were made
  for (int i = 0; i < 400; ++i) {
    const std::string folder = "data\\f" + std::to_string(i / 90);
    std::int32_t size = (i * 7919) % 3000;
    if (i % 97 == 0) size = kLargestBatched;
    if (i % 101 == 5) size = kLargestBatched + 1;
    const char fill = static_cast<char>('A' + i % 50);
    files.push_back(Disk(folder, "n" + std::to_string(1000 + i), size, fill));
    contents.push_back(std::string(static_cast<std::size_t>(size), fill));
    if (i == 70) {
      files.push_back(Reference(folder, "n1070z", 6, source, 1, 1000));
      contents.push_back("iiiiii");
    }
  }
  for (const std::string& bytes : contents) data += bytes;
  const std::string archive = Written(files);
  EXPECT_TRUE(archive.compare(16, data.size(), data) == 0) << "a file is out of place";
  auto put = [&](std::size_t i, const std::string& bytes) {
    testing::WriteFile(host::NativePath(files[i].path), bytes);
  };
  for (const bool portable : {false, true}) {
    testing::IoPath path(portable);
    EXPECT_TRUE(Written(files) == archive) << "portable " << portable << ": the archives differ";
    // "-": removed. 120 is batched, 107 (past the batch's size) opened ahead;
    // a later file grows too, batched (300) or opened ahead (309).
    const std::pair<std::size_t, std::string> changes[] = {
        {120, "-"}, {120, "short"}, {120, std::string(400, 'g')}, {107, "x"}};
    for (std::size_t first = 0; first < std::size(changes); ++first) {
      const auto& [victim, bytes] = changes[first];
      const std::size_t later = first % 2 == 0 ? 300 : 309;
      if (bytes == "-") {
        std::remove(host::NativePath(files[victim].path).c_str());
      } else {
        put(victim, bytes);
      }
      put(later, contents[later] + "+");
      const Status why = Failed(files);
      EXPECT_EQ(why.code, bytes == "-" ? Code::kNotFound : Code::kChanged) << bytes.size();
      EXPECT_EQ(why.Message().rfind(files[victim].path + ": ", 0), 0u) << why.Message();
      put(victim, contents[victim]);
      put(later, contents[later]);
    }
  }
}

#if !defined(_WIN32)
// A file size limit fails the write part-way, while copying a file or writing the directory.
TEST_F(WriterTest, FullDiskFailsAndKeepsTheOldArchive) {
  std::vector<FileRecord> many;
  for (int i = 0; i < 200; ++i) many.push_back(Disk("data\\many", "f" + std::to_string(i), 1, 'm'));
  for (auto [bigSize, limit] : {std::pair<std::int32_t, rlim_t>{300000, 64 * 1024}, {0, 4096}}) {
    std::vector<FileRecord> files = many;
    files.push_back(Disk("data", "big", bigSize, 'b'));
    std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const rlimit lower = {limit, old.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &lower);
    const Status why = Failed(files);
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(why.code, Code::kIoError) << why.Message();
    EXPECT_NE(why.Message().find(target_), std::string::npos) << why.Message();
  }
}

// A helper thread that throws fails the write (the old archive kept) or the listing it served.
TEST_F(WriterTest, AHelperThreadThatThrowsFailsTheWriteOrTheListing) {
  std::vector<FileRecord> files;
  for (int i = 0; i < 100; ++i) files.push_back(Disk("data", "f" + std::to_string(i), 10, 'f'));
  const std::string many = dir_.Join("src/data");
  // Small files read in batches (io_uring only), or one by one and opened ahead.
  const std::pair<std::string_view, bool> cases[] = {
      {"reading small files ahead", false},
      {"opening files ahead", true},
      {"reading the statuses of a folder's entries", true}};
  for (const auto& [work, portable] : cases) {
    SCOPED_TRACE(work);
    testing::IoPath path(portable);
    if (!portable && fastio::BatchIoName() != std::string("io_uring")) continue;
    static std::string_view throwIn;  // the helper thread doing it throws bad_alloc
    throwIn = work;
    fastio::gHelperThreadProbe = [](std::string_view doing) {
      if (doing == throwIn) throw std::bad_alloc();
    };
    Status why;
    const bool listing = work.rfind("reading the statuses", 0) == 0;
    if (listing) {
      // The lister does not wait for its helper: list until it joined.
      fastio::FolderLister lister;
      std::vector<host::FolderEntry> entries;
      for (int i = 0; i < 1000 && why.ok(); ++i) why = lister.List(many, &entries);
    } else {
      why = Failed(files);
    }
    fastio::gHelperThreadProbe = nullptr;
    EXPECT_EQ(why.Message(),
              (listing ? many + ": " : "") + std::string(work) + " failed: out of memory");
  }
}
#endif

}  // namespace
}  // namespace quarrion
