// The fuzz targets' assertion: names the broken promise before aborting, so
// that a finding explains itself, whatever the build's NDEBUG.
#pragma once

#include <cstdio>
#include <cstdlib>

#define REQUIRE(condition)                                    \
  do {                                                        \
    if (!(condition)) {                                       \
      std::fprintf(stderr, "broken: %s\n", #condition);      \
      std::abort();                                           \
    }                                                         \
  } while (false)
