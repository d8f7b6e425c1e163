#pragma once

#include <cstdint>

namespace quarrion {

// The times the file entries of an archive get: the files' own, one time for
// every file (-mtime), or the files' own lowered to a limit where they are
// later (SOURCE_DATE_EPOCH). The same files then give the same archive
// whatever their times on disk.
struct EntryTimes {
  enum class Rule { kOwn, kFixed, kNoLaterThan };
  Rule rule = Rule::kOwn;
  std::int32_t time = 0;  // the time of kFixed, the limit of kNoLaterThan

  std::int32_t For(std::int32_t own) const {
    switch (rule) {
      case Rule::kOwn:
        return own;
      case Rule::kFixed:
        return time;
      case Rule::kNoLaterThan:
        return own > time ? time : own;
    }
    return own;
  }
};

}  // namespace quarrion
