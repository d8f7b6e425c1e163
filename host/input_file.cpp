// The parts of InputFile that are the same on every host: ownership of the
// handle moves with the object, and the destructor closes it.
#include <utility>

#include "host/host.h"

namespace quarrion::host {

InputFile::~InputFile() { Close(); }

InputFile::InputFile(InputFile&& other) noexcept
    : handle_(other.handle_), path_(std::move(other.path_)), info_(other.info_) {
  other.handle_ = kInvalid;
}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    path_ = std::move(other.path_);
    info_ = other.info_;
    other.handle_ = kInvalid;
  }
  return *this;
}

}  // namespace quarrion::host
