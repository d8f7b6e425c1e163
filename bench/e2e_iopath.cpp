// Prints the I/O path quarrion takes for small files on this host, as the
// environment stands ("io_uring" or "portable"), for the benchmark's report.
//
//   e2e_iopath
#include <cstdio>

#include "host/batch_io.h"

int main() {
  std::printf("%s\n", quarrion::host::BatchIoName());
  return 0;
}
