// Interruptions on Windows: Ctrl-C, Ctrl-Break and the console closing remove
// the registered temporary files and end the program with 128 + the number
// of the matching signal (SIGINT 2, SIGBREAK 21, and 1 for the close, as a
// hangup). Windows runs the handler on a thread of its own while the others
// go on; TerminateProcess ends them all at once, without running anything
// that could wait for a lock one of them holds.
//
// The temporary files are open with FILE_SHARE_DELETE, so the removal
// succeeds while they are still open: the name is marked for deletion and
// the file goes when the process ends and its handles close. Names are
// registered in UTF-8 in the form the file was made with (see
// host/output_file_windows.cpp), so turning them into UTF-16 gives that form.
#include <windows.h>

#include <string>

#include "interrupt/interrupt.h"

namespace quarrion::interrupt {
namespace {

BOOL WINAPI OnConsoleEvent(DWORD event) {
  int sig = 0;
  switch (event) {
    case CTRL_C_EVENT:
      sig = 2;
      break;
    case CTRL_BREAK_EVENT:
      sig = 21;
      break;
    case CTRL_CLOSE_EVENT:
      sig = 1;
      break;
    default:
      return FALSE;
  }
  RemoveRegisteredFiles();
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(128 + sig));
  return TRUE;
}

}  // namespace

namespace detail {

// The handler runs on a thread of its own, not inside a signal: it may
// allocate.
void RemoveRegisteredFile(std::intptr_t, const char* name) {
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, name, -1, nullptr, 0);
  if (n <= 0) return;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  if (::MultiByteToWideChar(CP_UTF8, 0, name, -1, wide.data(), n) == n) ::DeleteFileW(wide.c_str());
}

}  // namespace detail

InterruptsHeld::InterruptsHeld() = default;
InterruptsHeld::~InterruptsHeld() = default;

void InstallInterruptHandlers() { ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

}  // namespace quarrion::interrupt
