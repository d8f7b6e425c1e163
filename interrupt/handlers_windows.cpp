// Interruptions on Windows: Ctrl-C, Ctrl-Break and the console closing remove
// the registered temporary files and end the program with 128 + the number
// of the matching signal (SIGINT 2, SIGBREAK 21, and 1 for the close, as a
// hangup). Windows runs the handler on a thread of its own while the others
// go on; TerminateProcess ends them all at once, without running anything
// that could wait for a lock one of them holds.
//
// The temporary files are open with FILE_SHARE_DELETE, so the removal
// succeeds while they are still open: the name is marked for deletion and
// the file goes when the process ends and its handles close. The removal
// itself is the output file's (host/output_file_windows.cpp), which turns
// names into UTF-16.
#include <windows.h>

#include "interrupt/interrupt.h"

namespace quarrion::host {
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

InterruptsHeld::InterruptsHeld() = default;
InterruptsHeld::~InterruptsHeld() = default;

void InstallInterruptHandlers() { ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

}  // namespace quarrion::host
