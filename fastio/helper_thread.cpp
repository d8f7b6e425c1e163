#include "fastio/helper_thread.h"

#include <exception>
#include <new>

namespace quarrion::fastio {

std::atomic<void (*)(std::string_view)> gHelperThreadProbe{nullptr};

Status HelperThreadFailed(std::string_view work, const std::exception_ptr& e) {
  std::string why = std::string(work) + " failed: ";
  try {
    std::rethrow_exception(e);
  } catch (const std::bad_alloc&) {
    why += "out of memory";
  } catch (const std::exception& e) {
    why += e.what();
  } catch (...) {
    why += "an unknown exception";
  }
  return Status::Error(Code::kIoError, "", why);
}

}  // namespace quarrion::fastio
