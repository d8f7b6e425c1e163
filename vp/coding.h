// Fixed-width little-endian integers, encoded and decoded byte by byte so the
// result is the same on every host and free of alignment or aliasing issues.
// Signed values cross as their two's-complement bit pattern.
#pragma once

#include <cstdint>

namespace quarrion {

inline void EncodeFixed32(char* dst, std::uint32_t value) {
  dst[0] = static_cast<char>(value & 0xff);
  dst[1] = static_cast<char>((value >> 8) & 0xff);
  dst[2] = static_cast<char>((value >> 16) & 0xff);
  dst[3] = static_cast<char>((value >> 24) & 0xff);
}

inline std::uint32_t DecodeFixed32(const char* src) {
  auto byte = [src](int i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(src[i]));
  };
  return byte(0) | (byte(1) << 8) | (byte(2) << 16) | (byte(3) << 24);
}

inline void EncodeInt32(char* dst, std::int32_t value) {
  EncodeFixed32(dst, static_cast<std::uint32_t>(value));
}

inline std::int32_t DecodeInt32(const char* src) {
  return static_cast<std::int32_t>(DecodeFixed32(src));
}

}  // namespace quarrion
