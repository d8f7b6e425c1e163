// Deterministic data directories for the end-to-end benchmark.
//
//   e2e_corpus tree PROFILE DIR          writes the tree of PROFILE into DIR
//   e2e_corpus config PROFILE VP OUT     writes a relational configuration
//                                        naming every file of PROFILE as a
//                                        reference into the archive VP
//
// Profiles:
//   small  20,000 files of 200 B .. 8 KiB in 200 folders up to 4 deep
//   mixed  3,000 files, most of them small, 20 of 4 .. 36 MiB
//   large  8 files of 128 MiB in 2 folders
//   many   100,000 files of 0 .. 2 KiB in 1,000 folders up to 3 deep
//
// The same profile gives the same names, sizes, bytes and times on every
// run and host: one SplitMix64 stream drives everything. File names are
// unique in the whole tree (ASCII case ignored), so a reference by name into
// an archive of the tree finds exactly its own file. Names are at most 31
// bytes; some hold blanks, some mix letter case. Prints one summary line.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

class Rng {
 public:
  explicit Rng(std::uint64_t seed) : s_(seed) {}
  std::uint64_t Next() {
    s_ += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = s_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::uint64_t Below(std::uint64_t n) { return Next() % n; }
  std::uint64_t Between(std::uint64_t lo, std::uint64_t hi) { return lo + Below(hi - lo + 1); }

 private:
  std::uint64_t s_;
};

constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::int64_t kBaseTime = 1614834367;  // 2021-03-04 05:06:07 UTC

const char* const kWords[] = {"alpha",  "beacon", "cargo",  "delta",  "ember",  "falcon", "granite",
                              "harbor", "ion",    "jade",   "kepler", "lumen",  "meteor", "nebula",
                              "orbit",  "pulsar", "quartz", "relay",  "sector", "tundra", "umbra"};
const char* const kFolderWords[] = {"maps",    "models", "sounds", "music",   "textures",
                                    "effects", "tables", "voice",  "scripts", "interface"};
const char* const kExtensions[] = {".tbl", ".pof", ".wav", ".ogg", ".dds", ".png", ".txt"};

template <typename T, std::size_t N>
const T& Pick(Rng& rng, const T (&items)[N]) {
  return items[rng.Below(N)];
}

struct Folder {
  std::string rel;    // path below the top, '/'-separated ("" for the top)
  std::string label;  // archive folder: data, data\maps, ...
  int depth = 0;
};

struct File {
  std::size_t folder;
  std::string name;
  std::uint64_t size;
};

struct Corpus {
  std::vector<Folder> folders;
  std::vector<File> files;
};

std::string Styled(Rng& rng, std::string word) {
  switch (rng.Below(5)) {
    case 0:
      word[0] = static_cast<char>(word[0] - 'a' + 'A');
      break;
    case 1:
      for (char& c : word) c = static_cast<char>(c - 'a' + 'A');
      break;
    default:
      break;
  }
  return word;
}

// `count` folders below the top, each under a random earlier folder less
// than `maxDepth` deep; the first `topLevel` sit directly under the top.
std::vector<Folder> MakeFolders(Rng& rng, int count, int maxDepth, int topLevel) {
  std::vector<Folder> folders = {Folder{"", "data", 0}};
  for (int i = 0; i < count; ++i) {
    std::size_t parent = 0;
    if (i >= topLevel) {
      do {
        parent = rng.Below(folders.size());
      } while (folders[parent].depth >= maxDepth);
    }
    std::string name = Styled(rng, Pick(rng, kFolderWords));
    name += rng.Below(4) == 0 ? " " : "_";
    name += std::to_string(i);
    const Folder& p = folders[parent];
    folders.push_back(
        Folder{p.rel.empty() ? name : p.rel + "/" + name, p.label + "\\" + name, p.depth + 1});
  }
  return folders;
}

// Names the files (unique through their number) and spreads them over the
// folders: every folder gets one, the rest go by skewed weights.
void SpreadFiles(Rng& rng, Corpus* c, const std::vector<std::uint64_t>& sizes) {
  const std::size_t nFolders = c->folders.size();
  std::vector<std::uint64_t> cumulative;
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < nFolders; ++i) {
    const std::uint64_t r = rng.Below(1000);
    total += 1 + r * r / 1000;
    cumulative.push_back(total);
  }
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    std::size_t folder = i;
    if (i >= nFolders) {
      folder = static_cast<std::size_t>(
          std::upper_bound(cumulative.begin(), cumulative.end(), rng.Below(total)) -
          cumulative.begin());
    }
    std::string name = Styled(rng, Pick(rng, kWords));
    if (rng.Below(5) == 0) {
      name += ' ';
      name += Pick(rng, kWords);
    }
    name += '_';
    name += std::to_string(i);
    name += Pick(rng, kExtensions);
    c->files.push_back(File{folder, name, sizes[i]});
  }
}

bool MakeCorpus(const std::string& profile, Corpus* c) {
  if (profile == "small") {
    Rng rng(0x5EED0022);
    c->folders = MakeFolders(rng, 200, 4, 12);
    std::vector<std::uint64_t> sizes;
    for (int i = 0; i < 20000; ++i) {
      std::uint64_t s = rng.Between(200, 8192);
      if (rng.Below(2) == 0) s = std::max(s, rng.Between(200, 8192));
      sizes.push_back(s);
    }
    SpreadFiles(rng, c, sizes);
  } else if (profile == "mixed") {
    Rng rng(0x5EED0044);
    c->folders = MakeFolders(rng, 100, 4, 8);
    std::vector<std::uint64_t> sizes;
    for (int i = 0; i < 3000; ++i) {
      // One in 150 is large (4 to 36 MiB, most of them below 15 MiB); the
      // rest lie between 64 B and 256 KiB, most of them around 4 to 16 KiB.
      if (i % 150 == 75) {
        sizes.push_back(4 * kMiB + std::min(rng.Below(32 * kMiB + 1), rng.Below(32 * kMiB + 1)));
      } else {
        const std::uint64_t e = 6 + std::min(rng.Below(7), rng.Below(13));
        sizes.push_back((std::uint64_t{1} << e) + rng.Below(std::uint64_t{1} << e));
      }
    }
    SpreadFiles(rng, c, sizes);
  } else if (profile == "large") {
    c->folders = {Folder{"", "data", 0}, Folder{"Big Assets", "data\\Big Assets", 1},
                  Folder{"streams", "data\\streams", 1}};
    const char* names[] = {"Texture Atlas 01.dds", "Texture Atlas 02.dds", "terrain_hi.dds",
                           "Intro Music.ogg",      "music_all.ogg",        "VOICE pack A.wav",
                           "voice_pack_b.wav",     "ambience (loop).wav"};
    for (std::size_t i = 0; i < 8; ++i) c->files.push_back(File{1 + i / 4, names[i], 128 * kMiB});
  } else if (profile == "many") {
    Rng rng(0x5EED0055);
    c->folders = MakeFolders(rng, 999, 3, 20);
    std::vector<std::uint64_t> sizes;
    for (int i = 0; i < 100000; ++i) sizes.push_back(rng.Below(2 * kKiB + 1));
    SpreadFiles(rng, c, sizes);
  } else {
    return false;
  }
  return true;
}

bool Fail(const std::string& what) {
  std::fprintf(stderr, "e2e_corpus: %s: %s\n", what.c_str(), std::strerror(errno));
  return false;
}

bool WriteAll(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

bool WriteTree(const Corpus& c, const std::string& dir) {
  for (const Folder& f : c.folders) {
    const std::string path = f.rel.empty() ? dir : dir + "/" + f.rel;
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return Fail(path);
  }
  // Contents: slices of a 4 MiB pool of pseudo-random bytes, each file
  // starting with its own path so that a dump of an archive shows it.
  constexpr std::size_t kPool = 4 * kMiB;
  constexpr std::size_t kChunk = 1 * kMiB;
  std::vector<char> pool(kPool + kChunk);
  Rng bytes(0xB17E5);
  for (std::size_t i = 0; i < pool.size(); i += 8) {
    const std::uint64_t v = bytes.Next();
    std::memcpy(pool.data() + i, &v, 8);
  }
  Rng rng(0xC0DE);
  for (std::size_t i = 0; i < c.files.size(); ++i) {
    const File& file = c.files[i];
    const Folder& f = c.folders[file.folder];
    const std::string rel = f.rel.empty() ? file.name : f.rel + "/" + file.name;
    const std::string path = dir + "/" + rel;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return Fail(path);
    const std::string head = (rel + "\n").substr(0, file.size);
    bool ok = WriteAll(fd, head.data(), head.size());
    for (std::uint64_t left = file.size - head.size(); ok && left > 0;) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunk));
      ok = WriteAll(fd, pool.data() + rng.Below(kPool), n);
      left -= n;
    }
    const std::int64_t t = kBaseTime + static_cast<std::int64_t>(i * 7919 % (86400 * 400));
    const struct timespec times[2] = {{t, 0}, {t, 0}};
    if (!ok || ::futimens(fd, times) != 0) {
      ::close(fd);
      return Fail(path);
    }
    if (::close(fd) != 0) return Fail(path);
  }
  return true;
}

// Three lines per file, CR LF ends: name, VP:name, folder.
bool WriteConfig(const Corpus& c, const std::string& archive, const std::string& out) {
  std::string text;
  for (const File& file : c.files) {
    text += file.name + "\r\n" + archive + ":" + file.name + "\r\n" + c.folders[file.folder].label +
            "\r\n";
  }
  const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Fail(out);
  const bool ok = WriteAll(fd, text.data(), text.size());
  if (::close(fd) != 0 || !ok) return Fail(out);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  Corpus corpus;
  const bool tree = args.size() == 3 && args[0] == "tree";
  const bool config = args.size() == 4 && args[0] == "config";
  if ((!tree && !config) || !MakeCorpus(args[1], &corpus)) {
    std::fprintf(stderr,
                 "usage: e2e_corpus tree {small|mixed|large|many} DIR\n"
                 "       e2e_corpus config {small|mixed|large|many} ARCHIVE.vp OUT.cfg\n");
    return 2;
  }
  if (tree ? !WriteTree(corpus, args[2]) : !WriteConfig(corpus, args[2], args[3])) return 1;
  std::uint64_t bytes = 0;
  for (const File& f : corpus.files) bytes += f.size;
  std::printf("%s: %zu files, %zu folders, %llu bytes (%.1f MiB)\n", args[1].c_str(),
              corpus.files.size(), corpus.folders.size(), static_cast<unsigned long long>(bytes),
              static_cast<double>(bytes) / kMiB);
  return 0;
}
