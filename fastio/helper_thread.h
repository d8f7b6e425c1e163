// What the threads of the fast paths share: a thread that reads small files
// ahead, opens files ahead or reads statuses beside the folder lister keeps
// the exception that ends its work, and the thread it serves turns it into
// a failure.
#pragma once

#include <atomic>
#include <exception>
#include <string_view>

#include "base/status.h"

namespace quarrion::fastio {

// The failure of a helper thread whose work the exception `e` ended, out of
// memory say, with what the thread was doing. The thread only keeps `e`
// (which needs no memory) and stops; the thread it served makes this
// failure, and the operation fails with it, instead of the exception ending
// the program with its output left behind.
Status HelperThreadFailed(std::string_view work, const std::exception_ptr& e);

// For tests: when set, every helper thread calls it with what it does before
// each piece of its work, so that a test can make that work throw.
extern std::atomic<void (*)(std::string_view work)> gHelperThreadProbe;

inline void ProbeHelperThread(std::string_view work) {
  if (auto probe = gHelperThreadProbe.load(std::memory_order_relaxed)) probe(work);
}

}  // namespace quarrion::fastio
