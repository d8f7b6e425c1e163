// The coverage build (QUARRION_COVERAGE, clang's -fprofile-instr-generate)
// writes each process's profile when the process exits normally. A process
// that ends through _exit or a signal would lose it, so those paths call
// WriteCoverageProfile() first; in every other build it is nothing.
#pragma once

#if defined(QUARRION_COVERAGE)
extern "C" int __llvm_profile_write_file(void);
#endif

namespace quarrion {

inline void WriteCoverageProfile() {
#if defined(QUARRION_COVERAGE)
  __llvm_profile_write_file();
#endif
}

}  // namespace quarrion
