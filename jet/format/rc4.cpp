#include "jet/format/rc4.h"

#include <array>
#include <utility>

namespace jet::format {

void Rc4Apply(std::span<const uint8_t> key, std::span<uint8_t> data) {
  if (key.empty()) return;
  std::array<uint8_t, 256> s;
  for (size_t i = 0; i < 256; ++i) s[i] = static_cast<uint8_t>(i);
  uint8_t j = 0;
  for (size_t i = 0; i < 256; ++i) {
    j = static_cast<uint8_t>(j + s[i] + key[i % key.size()]);
    std::swap(s[i], s[j]);
  }
  uint8_t x = 0;
  uint8_t y = 0;
  for (uint8_t& byte : data) {
    x = static_cast<uint8_t>(x + 1);
    y = static_cast<uint8_t>(y + s[x]);
    std::swap(s[x], s[y]);
    byte ^= s[static_cast<uint8_t>(s[x] + s[y])];
  }
}

}  // namespace jet::format
