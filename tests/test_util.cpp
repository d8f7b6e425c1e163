#include "test_util.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "shell/console.h"
#include "shell/options.h"
#include "shell/run.h"
#include "vp/format.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace quarrion::testing {

namespace {

// A path of the tests, in UTF-8 as in the program, as the library takes it
// (on Windows a long one in the \\?\ form, not held to MAX_PATH).
fs::path Path(const std::string& utf8) {
  fs::path path(std::u8string(utf8.begin(), utf8.end()));
#if defined(_WIN32)
  if (path.native().size() >= MAX_PATH - 12 && path.is_absolute()) {
    path = L"\\\\?\\" + path.lexically_normal().make_preferred().native();
  }
#endif
  return path;
}

std::string Utf8(const std::u8string& text) { return std::string(text.begin(), text.end()); }

void SetIoVariable(const char* value) {
#if defined(_WIN32)
  _putenv_s("QUARRION_IO", value == nullptr ? "" : value);  // "" removes it
#else
  value == nullptr ? ::unsetenv("QUARRION_IO") : ::setenv("QUARRION_IO", value, 1);
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
  // The clock too: random_device is not random on every MinGW runtime.
  static std::uint64_t next =
      std::random_device{}() ^
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  for (std::error_code ec;;) {
    const fs::path p = fs::temp_directory_path() / ("quarrion-test-" + std::to_string(next++));
    if (fs::create_directory(p, ec)) {
      path_ = Utf8(p.generic_u8string());
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(Path(path_), ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(Path(path_), ec);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  if (Path(path).has_parent_path()) fs::create_directories(Path(path).parent_path());
  std::ofstream(Path(path), std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(Path(path), std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(Path(path), ec));
}

void SetMTime(const std::string& path, std::int64_t seconds) {
#if defined(_WIN32)
  // In 100-nanosecond steps since 1601 (the library is a second late
  // before 1970 here).
  const auto ticks = static_cast<std::uint64_t>(seconds * 10000000 + 116444736000000000LL);
  FILETIME when{static_cast<DWORD>(ticks & 0xffffffffu), static_cast<DWORD>(ticks >> 32)};
  HANDLE h =
      ::CreateFileW(Path(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    ::SetFileTime(h, nullptr, nullptr, &when);
    ::CloseHandle(h);
  }
#else
  const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), 0}};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
#endif
}

std::vector<std::string> ListTree(const std::string& dir) {
  std::vector<std::string> out;
  for (auto& e : fs::recursive_directory_iterator(Path(dir))) {
    // Lexically: a symbolic link is listed as itself, not as what it leads to.
    out.push_back(Utf8(e.path().lexically_relative(Path(dir)).generic_u8string()));
  }
  std::sort(out.begin(), out.end());
  return out;
}

#if defined(_WIN32)

namespace {

// One argument quoted as the C runtime splits it again: backslashes
// doubled only before a quote.
std::string QuoteArgument(const std::string& arg) {
  std::string q = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    q.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    q += c;
  }
  return q.append(backslashes * 2, '\\') + "\"";
}

// The exit status of the program run with its standard streams on the files
// of `io`; the command line goes over in UTF-16, as a console passes it.
int Run(const std::vector<std::string>& args, const TempDir& io, const std::string& cwd) {
  std::string cmd = QuoteArgument(QUARRION_BINARY);
  for (const std::string& a : args) cmd += ' ' + QuoteArgument(a);
  std::wstring wideCmd = Path(cmd).wstring();
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  auto open = [&](const char* name, DWORD access, DWORD disposition) {
    return ::CreateFileW(Path(io.Join(name)).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         &inherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  HANDLE streams[] = {open("in", GENERIC_READ, OPEN_EXISTING),
                      open("out", GENERIC_WRITE, CREATE_ALWAYS),
                      open("err", GENERIC_WRITE, CREATE_ALWAYS)};
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = streams[0];
  si.hStdOutput = streams[1];
  si.hStdError = streams[2];
  PROCESS_INFORMATION pi{};
  DWORD code = static_cast<DWORD>(-1);
  if (::CreateProcessW(Path(QUARRION_BINARY).c_str(), wideCmd.data(), nullptr, nullptr, TRUE, 0,
                       nullptr, cwd.empty() ? nullptr : Path(cwd).c_str(), &si, &pi)) {
    ::WaitForSingleObject(pi.hProcess, INFINITE);
    ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
  }
  for (HANDLE h : streams) ::CloseHandle(h);
  return static_cast<int>(code);
}

}  // namespace

#else

namespace {

struct Setup {
  int openFiles = 0;
  std::int64_t fileBytes = 0;
  bool pipeIgnored = false;
  std::string program = QUARRION_BINARY;
  bool asNobody = false;  // under root: run as the user "nobody"
};

// Forks and runs the built quarrion on the standard streams given, in `cwd`.
int Spawn(const std::vector<std::string>& args, const std::string& in, const std::string& out,
          const std::string& err, const Setup& setup, const std::string& cwd) {
  // Everything is made before the fork: after it, only calls that are safe
  // in a copy of a threaded process.
  std::vector<std::string> words{setup.program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  int pipeEnds[2] = {-1, -1};
  if (out.empty() && ::pipe(pipeEnds) == 0) ::close(pipeEnds[0]);
  const pid_t pid = ::fork();
  if (pid != 0) {
    if (pipeEnds[1] >= 0) ::close(pipeEnds[1]);
    return static_cast<int>(pid);
  }
  const int i = ::open(in.c_str(), O_RDONLY);
  const int o = out.empty() ? pipeEnds[1] : ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (i < 0 || o < 0 || e < 0 || ::dup2(i, 0) < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0 ||
      (!cwd.empty() && ::chdir(cwd.c_str()) != 0)) {
    ::_exit(127);
  }
  for (int fd = 3; fd < 1024; ++fd) ::close(fd);  // nothing else of this process
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) ::signal(sig, SIG_DFL);
  if (setup.pipeIgnored) ::signal(SIGPIPE, SIG_IGN);
  struct rlimit limit;
  limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(setup.openFiles);
  if (setup.openFiles > 0 && ::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(127);
  limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(setup.fileBytes);
  if (setup.fileBytes > 0 && ::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(127);
  const uid_t nobody = 65534;
  if (setup.asNobody && ::geteuid() == 0 &&
      (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)) {
    ::_exit(126);
  }
  ::execv(argv[0], argv.data());
  ::_exit(127);
}

int Run(const std::vector<std::string>& args, const TempDir& io, const std::string& cwd) {
  return WaitQuarrionBinary(
      Spawn(args, io.Join("in"), io.Join("out"), io.Join("err"), Setup{}, cwd));
}

}  // namespace

int StartQuarrionBinary(const std::vector<std::string>& args, const std::string& out,
                        const std::string& err, int openFiles, std::int64_t fileBytes,
                        bool pipeIgnored) {
  return Spawn(args, "/dev/null", out, err, Setup{openFiles, fileBytes, pipeIgnored}, "");
}

int WaitQuarrionBinary(int pid) {
  int status = 0;
  while (::waitpid(static_cast<pid_t>(pid), &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

RunResult RunQuarrionUnprivileged(const std::vector<std::string>& args, const std::string& dir) {
  for (fs::path up = fs::path(dir).parent_path(); up != up.root_path(); up = up.parent_path()) {
    if ((fs::status(up).permissions() & fs::perms::others_exec) == fs::perms::none) {
      return {-1, "", up.string() + " is closed to other users: TMPDIR must be searchable"};
    }
  }
  // A copy that nobody can run wherever the build lives.
  const std::string program = dir + "/quarrion";
  fs::copy_file(QUARRION_BINARY, program, fs::copy_options::overwrite_existing);
  ::chmod(program.c_str(), 0755);
  ::chmod(dir.c_str(), 0777);
  const std::string out = dir + "/stdout", err = dir + "/stderr";
  const int pid = Spawn(args, "/dev/null", out, err, Setup{0, 0, false, program, true}, "");
  RunResult r{WaitQuarrionBinary(pid), ReadFile(out), ReadFile(err)};
  for (const std::string& path : {program, out, err}) fs::remove(path);
  return r;
}

#endif

RunResult RunQuarrionBinary(const std::vector<std::string>& args, const std::string& input,
                            const std::string& cwd) {
  TempDir io;
  WriteFile(io.Join("in"), input);
  RunResult r{Run(args, io, cwd), ReadFile(io.Join("out")), ReadFile(io.Join("err"))};
#if defined(_WIN32)
  // The console streams are in text mode on Windows: line feeds arrive as
  // CR LF. Read back as LF, transcripts compare equal to the POSIX ones.
  for (std::string* s : {&r.out, &r.err}) {
    for (std::size_t p = 0; (p = s->find("\r\n", p)) != std::string::npos;) s->erase(p, 1);
  }
#endif
  return r;
}

RunResult RunQuarrionInProcess(const std::vector<std::string>& args, const std::string& input,
                               const std::optional<std::string>& epoch) {
  std::istringstream in(input);
  std::ostringstream out, err;
  const int status = RunQuarrion(args, in, out, err, epoch);
  return {status, out.str(), err.str()};
}

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

FileRecord Reference(const std::string& folder, const std::string& name, std::int32_t size,
                     const std::string& archive, std::int64_t entry, std::int32_t time) {
  FileRecord r = Record(folder, name, size, archive + ":" + name, time);
  r.source = FileRecord::Source::kArchive;
  r.sourceArchive = archive;
  r.sourceEntry = entry;
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
  const int status = body(console);
  in.clear();
  std::string unread(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>{});
  return Dialogue{{status, out.str(), err.str()}, unread};
}

Dialogue RunArchiveMode(int (*mode)(const StartupOptions&, Console&), const std::string& archive,
                        const std::string& target, const std::vector<std::string>& only) {
  StartupOptions options;
  options.archiveFile = archive;
  options.extractDir = target;
  options.onlyPatterns = only;
  return RunDialogue("", [&](Console& c) { return mode(options, c); });
}

}  // namespace quarrion::testing
