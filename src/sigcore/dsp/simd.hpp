// Wider vector units for the few loops that carry the detectors' arithmetic.
// The functions marked with SIGCORE_VECTOR_CLONES are compiled twice on
// x86-64, for the baseline instruction set, AVX2 and AVX-512, and the loader picks
// the one the processor runs. Both do the same IEEE operations in the same
// order on each value (no fused multiply-add: neither target enables it,
// and contraction is off), so results are identical; only the width differs.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define SIGCORE_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define SIGCORE_VECTOR_CLONES
#endif
