// Japanese wording of operating-system errors. Users read error messages in Japanese, so the
// English text the C++ library attaches to an error code never reaches them; the platform layer
// and the engine's file face both word their errors here.
#ifndef QUORVEL_BASE_SYSTEM_ERROR_TEXT_H_
#define QUORVEL_BASE_SYSTEM_ERROR_TEXT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <system_error>

namespace base {

// A short Japanese reason for an operating-system error, for example "アクセスが拒否されました".
// Works for codes of the generic category and for system codes that map to a generic
// condition; any other code gives a generic text that carries its number.
std::u16string SystemErrorReason(std::error_code code);

// The errno condition a Win32 error code (the number GetLastError returns) means, if any. The
// Win32 platform code builds its std::error_code values from it, so that both ways of wording a
// Win32 error agree. A plain number, so that this folder needs no operating-system header.
std::optional<std::errc> Win32ErrorCondition(uint32_t code);

// The same wording for a Win32 error code: the codes that mean the same as an errno value get
// that value's text; a lock violation and reading past the end have texts of their own; any
// other code gives the generic text with its number.
std::u16string Win32ErrorReason(uint32_t code);

// The common message form "<what>: <reason>".
std::u16string SystemErrorMessage(std::u16string_view what, std::error_code code);

}  // namespace base

#endif  // QUORVEL_BASE_SYSTEM_ERROR_TEXT_H_
