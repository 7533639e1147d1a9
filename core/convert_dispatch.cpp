// Run-time choice of the block converters: the widest vector variant the CPU
// supports, made once.  Every variant gives the bytes of the scalar reference.
#include <cstring>

#include "sample_convert.h"

namespace wfm {

namespace {

// Reference first, then in order of preference from the last.
const struct {
    const char *name;
    const ConvertBlockFn *table;
} VARIANTS[] = {
    {"scalar", CONVERT_BLOCK_SCALAR},
#if defined(__x86_64__)
    {"sse2", CONVERT_BLOCK_SSE2},
    {"avx2", CONVERT_BLOCK_AVX2},
    {"avx512", CONVERT_BLOCK_AVX512},
#endif
};
constexpr int kNumVariants = static_cast<int>(sizeof VARIANTS / sizeof VARIANTS[0]);

bool cpu_has(int variant) {
#if defined(__x86_64__)
    __builtin_cpu_init();
    switch (variant) {
        case 1:
            return true;  // part of every x86-64
        case 2:
            return __builtin_cpu_supports("avx2");
        case 3:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
        default:
            return variant == 0;
    }
#else
    return variant == 0;
#endif
}

const ConvertBlockFn *best_table() {
    for (int v = kNumVariants - 1; v > 0; v--)
        if (cpu_has(v)) return VARIANTS[v].table;
    return CONVERT_BLOCK_SCALAR;
}

const ConvertBlockFn *g_forced = nullptr;

}  // namespace

const ConvertBlockFn *convert_table() {
    static const ConvertBlockFn *const best = best_table();
    return g_forced ? g_forced : best;
}

int convert_variant_count() { return kNumVariants; }

ConvertVariant convert_variant(int index) {
    if (index < 0 || index >= kNumVariants) return {nullptr, nullptr, false};
    return {VARIANTS[index].name, VARIANTS[index].table, cpu_has(index)};
}

bool convert_force_variant(const char *name) {
    if (!name) {
        g_forced = nullptr;
        return true;
    }
    for (int v = 0; v < kNumVariants; v++) {
        if (std::strcmp(VARIANTS[v].name, name) == 0) {
            if (!cpu_has(v)) return false;
            g_forced = VARIANTS[v].table;
            return true;
        }
    }
    return false;
}

}  // namespace wfm
