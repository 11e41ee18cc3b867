// The program's error, under the platform layer's name: see base/error.h.
#ifndef QUORVEL_PLATFORM_ERROR_H_
#define QUORVEL_PLATFORM_ERROR_H_

#include "base/error.h"

namespace platform {

using Error = base::Error;

}  // namespace platform

#endif  // QUORVEL_PLATFORM_ERROR_H_
