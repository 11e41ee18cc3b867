// The engine's values as JSON text, for tools and tests: null; true/false; integers;
// Single and Double as JavaScript prints a number (the shortest text that reads back as the
// same double); Currency and Decimal as exact decimal strings; Date/Time as
// "YYYY-MM-DDTHH:MM:SS" (".mmm" added when the milliseconds are not zero); texts as strings;
// binary as lower-case hex; Replication IDs as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#ifndef QUORVEL_JET_JSON_H_
#define QUORVEL_JET_JSON_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "jet/jet.h"

namespace jet::json {

// A JSON string literal (UTF-8). Unpaired surrogates are written as \u escapes.
std::string Quote(std::u16string_view text);
// The same appended to `out`, for callers that build one long text.
void AppendQuoted(std::u16string_view text, std::string& out);
// A double as JavaScript's Number.prototype.toString prints it; NaN and the infinities,
// which JSON has no number for, as the strings "NaN", "Infinity" and "-Infinity".
std::string Number(double value);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" from the stored bytes.
std::string GuidText(const Guid& guid);
std::string FromValue(const Value& value);
void AppendValue(const Value& value, std::string& out);
// [{"name":"ID","type":"ftAutoInc","jetType":"Long","size":4},…]
std::string Fields(const std::vector<Field>& fields);
// [v1,v2,…]
std::string Row(const std::vector<Value>& row);

// An open dataset as one line: {"fields":[...],"rows":[[...],...]}.
std::string Result(const Dataset& dataset);
// The same line handed to `write` piece by piece, as it is made.
void WriteResult(const Dataset& dataset, const std::function<void(std::string_view)>& write);

}  // namespace jet::json

#endif  // QUORVEL_JET_JSON_H_
