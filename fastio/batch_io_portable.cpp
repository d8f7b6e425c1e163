// Hosts without batched file I/O (or builds without liburing): every file
// takes the ordinary path.
#include "fastio/batch_io.h"

namespace quarrion::fastio {

const char* BatchIoName() { return "portable"; }

std::unique_ptr<BatchReader> BatchReader::Start(std::vector<BatchSource>) { return nullptr; }

}  // namespace quarrion::fastio
