// The writer's names for the index key encoder, which lives with the format's other
// structures in jet/format/index_key.h.
#ifndef QUORVEL_JET_WRITE_INDEX_KEY_H_
#define QUORVEL_JET_WRITE_INDEX_KEY_H_

#include "jet/format/index_key.h"

namespace jet::write {

using format::AppendKeyPiece;
using format::IsIndexableType;
using format::UnsupportedKeyCharacter;

}  // namespace jet::write

#endif  // QUORVEL_JET_WRITE_INDEX_KEY_H_
