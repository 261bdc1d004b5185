#pragma once

// A property every input must keep: a violation aborts, naming it, so the fuzzer keeps the input.
#include <cstdio>
#include <cstdlib>

inline void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "violated: %s\n", what);
        std::abort();
    }
}
