// What the fuzz targets share: a property check that stops the run the way a crash does, so a broken
// promise is reported, minimised and kept as an artifact like any other finding.
#pragma once

#include <cstdio>
#include <cstdlib>

#define QV_FUZZ_CHECK(condition)                                                          \
  do {                                                                                    \
    if (!(condition)) {                                                                   \
      std::fprintf(stderr, "fuzz: %s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                       \
    }                                                                                     \
  } while (0)
