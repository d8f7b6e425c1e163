#include "vp/reader.h"

namespace quarrion {

// Placeholder bodies: the reader is built in its own change.

bool IsVpSourceReference(std::string_view path) {
  return path.find(".vp:") != std::string_view::npos;
}

std::string_view VpArchivePath(std::string_view reference) {
  std::size_t colon = reference.rfind(':');
  return colon == std::string_view::npos ? reference : reference.substr(0, colon);
}

bool VpReader::Open(std::string path, Status* why) {
  if (why != nullptr) *why = Status::Error(Code::kIoError, path + ": reading archives is not available in this build");
  return false;
}

std::int32_t VpReader::Load() { return 0; }

std::int32_t VpReader::Find(std::string_view) const { return -1; }

std::int32_t VpReader::ReadEntry(std::int32_t, std::vector<char>* out, Status*) {
  out->clear();
  return -1;
}

void VpReader::BuildIndex() {}

VpReader* SourceArchives::Get(const std::string& archivePath, Status* why) {
  if (why != nullptr) *why = Status::Error(Code::kIoError, archivePath + ": reading archives is not available in this build");
  return nullptr;
}

}  // namespace quarrion
