// Which names may be used where: in an archive, on this host, in an
// installer delete line.
#pragma once

#include <string>
#include <string_view>

#include "base/status.h"
#include "base/text.h"

namespace quarrion {

// What a name is used for. Every use asks for a plain name: not empty, "."
// or "..", and without slash, backslash, colon or control character, since
// only such a name stands for one file or folder on every host (a line end
// in it would also break the lines of list files and installer scripts).
enum class NameUse {
  kFile,        // a file entry's name in an archive: at most 31 bytes
  kFolder,      // a folder component in an archive: at most 31 bytes, and
                // not beginning with "..", which reads back as an up entry
  kExtraction,  // a file or folder that -extract makes: one this host can hold
  kInstaller,   // a file name or folder component in an installer delete
                // line: at most 31 bytes, no "*" or "?" (installer wildcards)
};

// Whether `name` may be used so. Fails with kNameTooLong for more than 31
// bytes, with kBadFolder for any other fault of a folder component and with
// kNotPlainName for the rest; the reason reads after the quoted name ("holds
// a colon"). The length is checked last, so a name that is too long and
// faulty otherwise gets the other reason.
[[nodiscard]] Status CheckName(std::string_view name, NameUse use);

}  // namespace quarrion
