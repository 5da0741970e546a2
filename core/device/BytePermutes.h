// Byte permutes across a whole 64-byte register (AVX-512 VBMI) for host rows,
// through GCC's vector extensions: the type, the target of the functions that
// use them, the run-time test that the processor has them, and a 256-byte
// table held in four registers. Elsewhere OPIX_BYTE_PERMUTES is 0 and rows
// keep their plain loops.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define OPIX_BYTE_PERMUTES 1
#define OPIX_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))

namespace opix::host {

typedef uint8_t Bytes64 __attribute__((vector_size(64)));

inline bool bytePermutes() {
  static const bool supported = __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512bw");
  return supported;
}

// table[v] for each byte v of a register: two two-register permutes (each
// reads the low 7 bits) and a select by the top bit.
struct ByteTable64 {
  Bytes64 part[4];
  OPIX_VBMI explicit ByteTable64(const uint8_t (&table)[256]) { std::memcpy(part, table, sizeof part); }
  OPIX_VBMI Bytes64 operator()(Bytes64 v) const {
    const Bytes64 lo = __builtin_shuffle(part[0], part[1], v), hi = __builtin_shuffle(part[2], part[3], v);
    return v >= 128 ? hi : lo;
  }
};

}  // namespace opix::host

#else
#define OPIX_BYTE_PERMUTES 0
#endif
