// RC4, which Jet uses to mask part of the header page and, in files with a database key, to
// encode every other page.
#ifndef QUORVEL_JET_FORMAT_RC4_H_
#define QUORVEL_JET_FORMAT_RC4_H_

#include <cstdint>
#include <span>

namespace jet::format {

// XORs `data` with the RC4 keystream of `key` (in place; applying it twice restores data).
void Rc4Apply(std::span<const uint8_t> key, std::span<uint8_t> data);

}  // namespace jet::format

#endif  // QUORVEL_JET_FORMAT_RC4_H_
