#include "vp/reference.h"

#include "host/host.h"
#include "vp/names.h"

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

std::string_view VpArchivePath(std::string_view reference) {
  std::size_t colon = reference.rfind(':');
  return colon == std::string_view::npos ? reference : reference.substr(0, colon);
}

std::string MoveVpReference(const std::string& reference, std::string folder) {
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  std::size_t start = reference.size();
  while (start > 0 && !host::IsPathSeparator(reference[start - 1])) --start;
  return folder + reference.substr(start);
}

}  // namespace quarrion
