#include "test_util.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "shell/console.h"
#include "shell/options.h"
#include "vp/format.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace quarrion::testing {

namespace {

void SetIoVariable(const char* value) {
#if defined(_WIN32)
  _putenv_s("QUARRION_IO", value == nullptr ? "" : value);  // "" removes it
#else
  if (value == nullptr) {
    ::unsetenv("QUARRION_IO");
  } else {
    ::setenv("QUARRION_IO", value, 1);
  }
#endif
}

}  // namespace

IoPath::IoPath(bool portable) {
  if (const char* v = std::getenv("QUARRION_IO")) {
    had_ = true;
    old_ = v;
  }
  SetIoVariable(portable ? "portable" : nullptr);
}

IoPath::~IoPath() { SetIoVariable(had_ ? old_.c_str() : nullptr); }

TempDir::TempDir() {
  static std::mt19937_64 rng(
      std::random_device{}() ^
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (;;) {
    fs::path p =
        fs::temp_directory_path() / ("quarrion-test-" + std::to_string(rng() % 1000000000));
    std::error_code ec;
    if (fs::create_directory(p, ec)) {
      path_ = p.generic_string();
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  // Restore permissions a test may have taken away, so everything goes.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

std::string TempDir::Join(const std::string& relative) const { return path_ + "/" + relative; }

void WriteFile(const std::string& path, const std::string& bytes) {
  fs::path p(path);
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

void SetMTime(const std::string& path, std::int64_t seconds) {
#if defined(_WIN32)
  // The exact second, in 100-nanosecond steps since 1601: the library's
  // route below lands a second late for times before 1970 here.
  const std::uint64_t ticks = static_cast<std::uint64_t>(seconds * 10000000 + 116444736000000000LL);
  FILETIME when;
  when.dwLowDateTime = static_cast<DWORD>(ticks & 0xffffffffu);
  when.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  HANDLE h = ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    ::SetFileTime(h, nullptr, nullptr, &when);
    ::CloseHandle(h);
  }
#else
  // file_time_type's epoch differs between libraries; go through "now".
  auto now_sys = std::chrono::system_clock::now();
  auto now_file = fs::file_time_type::clock::now();
  auto target = std::chrono::system_clock::time_point(std::chrono::seconds(seconds));
  fs::last_write_time(
      path, now_file + std::chrono::duration_cast<fs::file_time_type::duration>(target - now_sys));
#endif
}

std::vector<std::string> ListTree(const std::string& dir) {
  std::vector<std::string> out;
  for (auto& e : fs::recursive_directory_iterator(dir)) {
    out.push_back(fs::relative(e.path(), dir).generic_string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

#if defined(_WIN32)

namespace {

// One argument as the C runtime splits a command line again: quoted, with
// backslashes doubled only where they stand before a quote.
std::string QuoteArgument(const std::string& arg) {
  std::string q = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      q.append(backslashes * 2 + 1, '\\');
    } else {
      q.append(backslashes, '\\');
    }
    backslashes = 0;
    q += c;
  }
  q.append(backslashes * 2, '\\');
  return q + "\"";
}

HANDLE OpenInherited(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES sa{};
  sa.nLength = sizeof sa;
  sa.bInheritHandle = TRUE;
  return ::CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The console streams are in text mode on Windows: every line feed the
// program writes arrives as CR LF. Read them back the way the tool reads
// text, so transcripts compare equal to the POSIX ones.
std::string DropCarriageReturns(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

}  // namespace

RunResult RunQuarrionBinary(const std::vector<std::string>& args, const std::string& input,
                            const std::string& cwd) {
  TempDir io;
  WriteFile(io.Join("in"), input);
  std::string cmd = QuoteArgument(QUARRION_BINARY);
  for (const std::string& a : args) {
    cmd += ' ';
    cmd += QuoteArgument(a);
  }

  RunResult r;
  HANDLE in = OpenInherited(io.Join("in"), GENERIC_READ, OPEN_EXISTING);
  HANDLE out = OpenInherited(io.Join("out"), GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err = OpenInherited(io.Join("err"), GENERIC_WRITE, CREATE_ALWAYS);
  if (in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    if (::CreateProcessA(QUARRION_BINARY, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                         cwd.empty() ? nullptr : cwd.c_str(), &si, &pi)) {
      ::WaitForSingleObject(pi.hProcess, INFINITE);
      DWORD code = 0;
      if (::GetExitCodeProcess(pi.hProcess, &code)) r.status = static_cast<int>(code);
      ::CloseHandle(pi.hThread);
      ::CloseHandle(pi.hProcess);
    }
  }
  for (HANDLE h : {in, out, err}) {
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
  r.out = DropCarriageReturns(ReadFile(io.Join("out")));
  r.err = DropCarriageReturns(ReadFile(io.Join("err")));
  return r;
}

#else

namespace {

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  return q + "'";
}

}  // namespace

RunResult RunQuarrionBinary(const std::vector<std::string>& args, const std::string& input,
                            const std::string& cwd) {
  TempDir io;
  WriteFile(io.Join("in"), input);
  std::string cmd;
  if (!cwd.empty()) cmd += "cd " + Quote(cwd) + " && ";
  cmd += Quote(QUARRION_BINARY);
  for (const std::string& a : args) cmd += " " + Quote(a);
  cmd +=
      " < " + Quote(io.Join("in")) + " > " + Quote(io.Join("out")) + " 2> " + Quote(io.Join("err"));
  int rc = std::system(cmd.c_str());
  RunResult r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = ReadFile(io.Join("out"));
  r.err = ReadFile(io.Join("err"));
  return r;
}

int StartQuarrionBinary(const std::vector<std::string>& args, const std::string& out,
                        const std::string& err, int openFiles) {
  // Everything the child needs is made before the fork: after it, only
  // calls that are safe in a copy of a threaded process.
  std::vector<std::string> words{QUARRION_BINARY};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid != 0) return static_cast<int>(pid);
  const int in = ::open("/dev/null", O_RDONLY);
  const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || o < 0 || e < 0 || ::dup2(in, 0) < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0) {
    ::_exit(127);
  }
  // Nothing else of this process stays open in the child.
  for (int fd = 3; fd < 1024; ++fd) ::close(fd);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::signal(sig, SIG_DFL);
  if (openFiles > 0) {
    struct rlimit limit;
    limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(openFiles);
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(127);
  }
  ::execv(argv[0], argv.data());
  ::_exit(127);
}

int WaitQuarrionBinary(int pid) {
  int status = 0;
  while (::waitpid(static_cast<pid_t>(pid), &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#endif

VpDirEntry Entry(std::int32_t offset, std::int32_t size, const std::string& name,
                 std::int32_t time) {
  VpDirEntry e;
  e.offset = offset;
  e.size = size;
  std::copy_n(name.begin(), std::min(name.size(), kNameFieldSize), e.name.begin());
  e.timestamp = time;
  return e;
}

FileRecord Record(const std::string& folder, const std::string& name, std::int32_t size,
                  const std::string& path, std::int32_t time) {
  FileRecord r;
  r.folder = folder;
  r.entry = Entry(0, size, name, time);
  r.path = path;
  return r;
}

ArchiveBuilder& ArchiveBuilder::File(const std::string& name, const std::string& bytes,
                                     std::int32_t time) {
  Add(Entry(DirOffset(), static_cast<std::int32_t>(bytes.size()), name, time));
  data_ += bytes;
  return *this;
}

ArchiveBuilder& ArchiveBuilder::Folder(const std::string& name) {
  WriteFolderEntry(&dir_, name, DirOffset());
  ++count_;
  return *this;
}

ArchiveBuilder& ArchiveBuilder::Up() {
  WriteUpEntry(&dir_, DirOffset());
  ++count_;
  return *this;
}

ArchiveBuilder& ArchiveBuilder::Add(const VpDirEntry& entry) {
  WriteEntry(&dir_, entry);
  ++count_;
  return *this;
}

std::int32_t ArchiveBuilder::DirOffset() const {
  return static_cast<std::int32_t>(kHeaderSize + data_.size());
}

std::string ArchiveBuilder::Bytes(std::int32_t version) const {
  return Bytes(version, DirOffset(), count_);
}

std::string ArchiveBuilder::Bytes(std::int32_t version, std::int32_t dirOffset,
                                  std::int32_t count) const {
  std::string out;
  WriteHeader(&out, VpHeader{.version = version, .dirOffset = dirOffset, .dirEntries = count});
  return out + data_ + dir_;
}

Dialogue RunDialogue(const std::string& input, const std::function<int(Console&)>& body) {
  std::istringstream in(input);
  std::ostringstream out, err;
  Console console{in, out, err};
  Dialogue d;
  d.status = body(console);
  in.clear();
  d.unread.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  d.out = out.str();
  d.err = err.str();
  return d;
}

Dialogue RunArchiveMode(int (*mode)(const StartupOptions&, Console&), const std::string& archive,
                        const std::string& target) {
  StartupOptions options;
  options.archiveFile = archive;
  options.extractDir = target;
  return RunDialogue("", [&](Console& c) { return mode(options, c); });
}

}  // namespace quarrion::testing
