// The hit flags of one request: one per cache directory it named, in the
// request's order (true: answered without a refresh). A usual request names
// one directory, so a few flags are held in place rather than allocated.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

class CCacheHits {
 public:
  void Add(bool hit) {
    if (m_Count < kInline) {
      m_Inline[m_Count] = hit;
    } else {
      m_More.push_back(hit);
    }
    ++m_Count;
  }
  std::size_t Count() const { return m_Count; }
  bool operator[](std::size_t index) const { return index < kInline ? m_Inline[index] : m_More[index - kInline]; }

 private:
  static constexpr std::size_t kInline = 8;
  std::array<bool, kInline> m_Inline{};
  std::vector<bool> m_More;
  std::size_t m_Count = 0;
};
