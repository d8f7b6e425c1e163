#include "vp/reference.h"

#include "base/text.h"
#include "host/host.h"

namespace quarrion {

bool IsVpSourceReference(std::string_view path) {
  // Each colon, looked at with the three bytes before it.
  for (std::size_t colon = path.find(':', 3); colon != std::string_view::npos;
       colon = path.find(':', colon + 1)) {
    if (path[colon - 3] == '.' && AsciiLower(path[colon - 2]) == 'v' &&
        AsciiLower(path[colon - 1]) == 'p') {
      return true;
    }
  }
  return false;
}

std::optional<VpReference> SplitVpReference(std::string_view text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const bool drive = colon == 1 && AsciiLower(text[0]) >= 'a' && AsciiLower(text[0]) <= 'z';
  if (drive) return std::nullopt;
  return VpReference{std::string(text.substr(0, colon)), std::string(text.substr(colon + 1))};
}

std::string MoveVpArchive(const std::string& archive, std::string folder) {
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  std::size_t start = archive.size();
  while (start > 0 && !host::IsPathSeparator(archive[start - 1])) --start;
  return folder + archive.substr(start);
}

}  // namespace quarrion
