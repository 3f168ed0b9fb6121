// Long test inputs built from a short piece.
#pragma once

#include <string>

namespace wyke_test {

inline std::string repeat(const std::string& piece, int times) {
  std::string result;
  for (int i = 0; i < times; ++i) result += piece;
  return result;
}

}  // namespace wyke_test
