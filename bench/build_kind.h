// Which build a benchmark's figures are of: the 32-bit program, or its
// 64-bit test twin on hosts that cannot run 32-bit code.
#pragma once

#include <cstdio>

inline void PrintBuildKind() {
  std::printf("build: %s\n",
              sizeof(void*) == 8 ? "x64, the 64-bit test twin" : "x86, the 32-bit program");
}
