// The 2 GiB limits of the format, kept without writing gigabytes: sparse
// files stand in for large ones, and every refusal comes before any data is
// copied.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "test_util.h"

namespace quarrion {
namespace {

using testing::RunQuarrionBinary;
using testing::RunResult;

void Sparse(const std::string& path, std::uintmax_t size) {
  testing::WriteFile(path, "");
  std::filesystem::resize_file(path, size);
}

TEST(LimitsTest, TooLargeFilesAndArchivesAreRefusedBeforeAnythingIsWritten) {
  testing::TempDir dir;
  const std::string data = dir.Join("data");
  const std::string target = dir.Join("out.vp");
  testing::WriteFile(target, "old archive");
  // A file of exactly 2^31 bytes is skipped by the walk, with a warning.
  Sparse(dir.Join("data/huge.bin"), std::uintmax_t{1} << 31);
  // Two that fit alone, but whose data would end past byte 2^31-1: with the
  // 16-byte header they end at 2^31 + 16 - 2, after a.bin at 2^30 + 16.
  Sparse(dir.Join("data/sub/a.bin"), std::uintmax_t{1} << 30);
  Sparse(dir.Join("data/sub/b.bin"), (std::uintmax_t{1} << 30) - 2);

  RunResult r = RunQuarrionBinary({"-dir", data, "-o", target});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("quarrion: warning: " + data + "\\huge.bin: 2147483648 bytes, too large"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("data\\sub\\b.bin: the archive would pass 2147483647 bytes"),
            std::string::npos)
      << r.err;
  // Refused before the header: no folder was announced as copied, the old
  // archive is untouched and no temporary file is left beside it.
  EXPECT_EQ(r.out.substr(r.out.size() - 14), "Writing VP ->\n");
  EXPECT_EQ(testing::ReadFile(target), "old archive");
  EXPECT_EQ(testing::ListTree(dir.path()),
            (std::vector<std::string>{"data", "data/huge.bin", "data/sub", "data/sub/a.bin",
                                      "data/sub/b.bin", "out.vp"}));
}

}  // namespace
}  // namespace quarrion
