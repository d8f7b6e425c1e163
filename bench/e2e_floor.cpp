// The floor for packing a folder tree into one file on this host: every
// regular file of the tree, appended to one output file, and nothing else
// (no header, no directory).
//
//   e2e_floor DIR OUT
//
// The walk is depth-first, a folder's files before its subfolders, each in
// listing order, with the entry type from the listing and one open and one
// fstat per file. The bytes go with copy_file_range, so no byte passes
// through user space; where the kernel refuses, read and write through one
// 128 KiB buffer take over. Symbolic links and special files are skipped.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int gOut = -1;
char gBuffer[128 * 1024];

bool Fail(const std::string& what) {
  std::fprintf(stderr, "e2e_floor: %s: %s\n", what.c_str(), std::strerror(errno));
  return false;
}

bool CopyFile(int in, off_t size, const std::string& path) {
  off_t left = size;
#if defined(__linux__)
  while (left > 0) {
    const ssize_t n = ::copy_file_range(in, nullptr, gOut, nullptr, static_cast<size_t>(left), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    left -= n;
  }
#endif
  while (left > 0) {
    const ssize_t r = ::read(in, gBuffer, sizeof gBuffer);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return r == 0 || Fail(path);
    for (ssize_t done = 0; done < r;) {
      const ssize_t w = ::write(gOut, gBuffer + done, static_cast<size_t>(r - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) return Fail("output");
      done += w;
    }
    left -= r;
  }
  return true;
}

bool Walk(int dirFd, const std::string& path) {
  DIR* dir = ::fdopendir(dirFd);
  if (dir == nullptr) {
    ::close(dirFd);
    return Fail(path);
  }
  std::vector<std::string> subfolders;
  bool ok = true;
  while (struct dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    unsigned char type = e->d_type;
    if (type == DT_UNKNOWN) {
      struct stat st;
      if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
    }
    if (type == DT_DIR) {
      subfolders.emplace_back(e->d_name);
    } else if (type == DT_REG) {
      const int in = ::openat(::dirfd(dir), e->d_name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
      struct stat st;
      if (in < 0 || ::fstat(in, &st) != 0) {
        ok = Fail(path + "/" + e->d_name);
      } else {
        ok = CopyFile(in, st.st_size, path + "/" + e->d_name);
      }
      if (in >= 0) ::close(in);
      if (!ok) break;
    }
  }
  for (const std::string& sub : subfolders) {
    if (!ok) break;
    const int fd =
        ::openat(::dirfd(dir), sub.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ok = fd >= 0 ? Walk(fd, path + "/" + sub) : Fail(path + "/" + sub);
  }
  ::closedir(dir);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: e2e_floor DIR OUT\n");
    return 2;
  }
  const char* in = argv[1];
  const char* out = argv[2];
  const int top = ::open(in, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  gOut = ::open(out, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (top < 0 || gOut < 0) {
    Fail(top < 0 ? in : out);
    return 1;
  }
  bool ok = Walk(top, in);
  if (::close(gOut) != 0) ok = Fail(out);
  return ok ? 0 : 1;
}
