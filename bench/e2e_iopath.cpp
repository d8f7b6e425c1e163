// Prints the I/O path quarrion takes for small files on this host, as the
// environment stands ("io_uring" or "portable"), for the benchmark's report.
//
//   e2e_iopath
#include <cstdio>

#include "fastio/batch_io.h"

int main() {
  std::printf("%s\n", quarrion::fastio::BatchIoName());
  return 0;
}
