#include "base/hash_table_size.h"

namespace {

bool IsPrime(std::size_t n) {
  if (n < 2) return false;
  for (std::size_t d = 2; d * d <= n; ++d) {
    if (n % d == 0) return false;
  }
  return true;
}

}  // namespace

std::size_t HashTableSize(std::size_t entries) {
  std::size_t candidate = entries + entries / 5;  // the integer part of 1.2 x entries
  while (!IsPrime(candidate)) ++candidate;
  return candidate + 1;
}
