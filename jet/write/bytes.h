// The format's byte coding and constants under the writer's namespace. The writer defines no
// format number of its own: everything here comes from jet/format/coding.h and
// jet/format/constants.h.
#ifndef QUORVEL_JET_WRITE_BYTES_H_
#define QUORVEL_JET_WRITE_BYTES_H_

#include "jet/format/coding.h"
#include "jet/format/constants.h"

namespace jet::write {

using format::AppendU32Be;
using format::GetDouble;
using format::GetU16;
using format::GetU24Be;
using format::GetU32;
using format::GetU32Be;
using format::GetU64;
using format::kColumnAutoLong;
using format::kColumnCompressible;
using format::kColumnFixed;
using format::kColumnNullable;
using format::kColumnSid;
using format::kColumnSystem;
using format::kIndexIgnoreNulls;
using format::kIndexJet4;
using format::kIndexRequired;
using format::kIndexUnique;
using format::kPageSize;
using format::kSystemTable;
using format::kUserTable;
using format::PageType;
using format::PageTypeByte;
using format::PutDouble;
using format::PutU16;
using format::PutU32;
using format::PutU64;
using format::RowPointer;

}  // namespace jet::write

#endif  // QUORVEL_JET_WRITE_BYTES_H_
