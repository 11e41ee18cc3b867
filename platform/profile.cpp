// Settings files in the INI form of the Windows profile-string functions.
//
// A file is a sequence of lines, each ended by CR LF, LF or a lone CR (the last one may have no
// end). After leading blanks (space or tab) a line is
//   - a section line: "[" name "]", the name running to the last "]" of the line;
//   - a key line: key "=" value, split at the first "=" (a comment with an "=" in it is a key
//     line whose key begins with ";", which no caller asks for);
//   - anything else (empty lines, comments, garbage), which is kept and never matches.
// Names are compared without letter case and without blanks around them. Keys before the first
// section line make up the section with the empty name. Where a section name occurs more than
// once, only the first of those sections is read and written, as Windows does.
//
// The file is kept in its own code units (bytes for code page 932, 16-bit units for UTF-16LE)
// and lines are decoded only to be looked at, so a write changes only the bytes of the one line
// it updates or the lines it adds; every other byte of the file stays as it was.
#include "platform/profile.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <system_error>
#include <variant>
#include <vector>

#include "base/fold.h"
#include "platform/atomic_file.h"
#include "platform/codepage.h"
#include "platform/profile_write.h"

namespace platform {
namespace {

constexpr char kBom0 = '\xFF';
constexpr char kBom1 = '\xFE';

// Names and values lose the spaces and tabs around them.
std::u16string_view Trim(std::u16string_view text) { return base::TrimSpacesAndTabs(text); }

std::u16string_view TrimTrailingBlanks(std::u16string_view text) {
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) text.remove_suffix(1);
  return text;
}

// Section and key names compare without case by the program's one rule for names.
bool NamesEqual(std::u16string_view a, std::u16string_view b) {
  return base::EqualIgnoringCase(a, b);
}

// --- Code units of the two encodings ---------------------------------------------------------

std::u16string Decode(std::string_view raw) {
  const bool ascii = std::all_of(raw.begin(), raw.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) return std::u16string(raw.begin(), raw.end());
  return FromCodePage932(raw);
}

std::u16string Decode(std::u16string_view raw) {
  std::u16string text(raw);
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      text[i] = 0xFFFD;  // a lone surrogate
    }
  }
  return text;
}

void Encode(std::u16string_view text, std::string& out) { out += ToCodePage932(text); }
void Encode(std::u16string_view text, std::u16string& out) { out += text; }

// The name a lookup compares with the decoded lines. A name is compared as it is given, as
// Windows compares it: one with characters the code page cannot hold (stored as "?") never
// finds the line it was written to in a code page 932 file, so each write of it adds another.
std::u16string StoredName(std::u16string_view name, char) { return std::u16string(name); }
// A lone surrogate in a UTF-16LE file reads as U+FFFD, and so does one in the name.
std::u16string StoredName(std::u16string_view name, char16_t) { return Decode(name); }

// --- Lines -------------------------------------------------------------------------------------

struct LineSpan {
  size_t begin = 0;  // first unit of the line
  size_t end = 0;    // one past its last unit, before the line end
  size_t next = 0;   // one past its line end
};

template <typename Unit>
bool NextLine(std::basic_string_view<Unit> units, size_t& position, LineSpan& line) {
  if (position >= units.size()) return false;
  size_t i = position;
  while (i < units.size() && units[i] != Unit('\n') && units[i] != Unit('\r')) ++i;
  line.begin = position;
  line.end = i;
  if (i < units.size()) {
    const bool crlf = units[i] == Unit('\r') && i + 1 < units.size() && units[i + 1] == Unit('\n');
    i += crlf ? 2 : 1;
  }
  line.next = i;
  position = i;
  return true;
}

template <typename Unit>
bool IsBlankUnit(Unit c) {
  return c == Unit(' ') || c == Unit('\t');
}

// What a read returns for the text after "=": blanks around it dropped, one pair of enclosing
// quotes removed, cut at a NUL (the end of a C string) and to 2047 code units, never leaving
// half of a surrogate pair at the end.
std::u16string ValueAsRead(std::u16string_view value) {
  value = Trim(value);
  if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  value = value.substr(0, value.find(u'\0'));
  if (value.size() > kMaxProfileValueLength) {
    value = value.substr(0, kMaxProfileValueLength);
    if (value.back() >= 0xD800 && value.back() <= 0xDBFF) value.remove_suffix(1);
  }
  return std::u16string(value);
}

std::u16string Limit(std::u16string_view text) {
  std::u16string_view cut = text.substr(0, kMaxProfileValueLength);
  if (cut.size() < text.size() && cut.back() >= 0xD800 && cut.back() <= 0xDBFF) {
    cut.remove_suffix(1);
  }
  return std::u16string(cut);
}

// The content of a settings file in its own code units: the file's bytes for code page 932,
// 16-bit units for UTF-16LE.
template <typename Unit>
struct Document {
  std::basic_string<Unit> units;
  // UTF-16LE only: a last byte that makes no whole code unit (the file is damaged). It reads
  // as U+FFFD at the end of the last line. A write that adds lines after it stores it as a
  // whole U+FFFD, so that the line reads as before; otherwise it is kept as it is.
  bool has_odd_byte = false;
  char odd_byte = 0;
};

Document<char> LoadCodePage932(std::string_view bytes) { return {std::string(bytes)}; }

Document<char16_t> LoadUtf16(std::string_view bytes) {
  bytes.remove_prefix(2);  // the byte-order mark
  Document<char16_t> document;
  document.units.resize(bytes.size() / 2);
  for (size_t i = 0; i < document.units.size(); ++i) {
    document.units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                              (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  if (bytes.size() % 2 != 0) {
    document.has_odd_byte = true;
    document.odd_byte = bytes.back();
  }
  return document;
}

bool IsUtf16(std::string_view bytes) {
  return bytes.size() >= 2 && bytes[0] == kBom0 && bytes[1] == kBom1;
}

enum class LineKind { kOther, kSection, kKey };

// One line, looked at. Lines are decoded only as far as needed: a key line's name, and its
// value only when asked for, so that a huge line costs one pass over its units.
template <typename Unit>
class Line {
 public:
  Line(const Document<Unit>& document, const LineSpan& span) : document_(document), span_(span) {
    const std::basic_string_view<Unit> units = document.units;
    // The damaged last byte of a UTF-16LE file belongs to the last line when it has no end.
    odd_tail_ = document.has_odd_byte && span.next == units.size() && span.end == span.next;
    size_t start = span.begin;
    while (start < span.end && IsBlankUnit(units[start])) ++start;
    blank_ = start == span.end && !odd_tail_;
    if (start == span.end) return;
    if (units[start] == Unit('[')) {
      // Possibly a section line; "[", "]" and "=" are single units in both encodings, but "]"
      // can be the trail byte of a code page 932 character, so look at the decoded text.
      text_ = DecodeRange(span.begin, span.end);
      const std::u16string_view text = text_;
      const size_t open = text.find(u'[');
      const size_t close = text.rfind(u']');
      if (close != std::u16string_view::npos && close > open) {
        kind_ = LineKind::kSection;
        name_ = Trim(text.substr(open + 1, close - open - 1));
        return;
      }
      const size_t equals = text.find(u'=');
      if (equals == std::u16string_view::npos) return;
      kind_ = LineKind::kKey;
      name_ = Trim(text.substr(open, equals - open));
      decoded_value_ = true;
      value_ = text.substr(equals + 1);
    } else {
      size_t equals = start;
      while (equals < span.end && units[equals] != Unit('=')) ++equals;
      if (equals == span.end) return;
      kind_ = LineKind::kKey;
      name_ = Trim(DecodeRange(start, equals));
    }
    // Where the value begins in the units: after the first "=" and the blanks behind it.
    value_begin_ = start;
    while (value_begin_ < span.end && units[value_begin_] != Unit('=')) ++value_begin_;
    if (value_begin_ < span.end) ++value_begin_;
    while (value_begin_ < span.end && IsBlankUnit(units[value_begin_])) ++value_begin_;
  }

  LineKind kind() const { return kind_; }
  const std::u16string& name() const { return name_; }
  bool blank() const { return blank_; }
  size_t value_begin() const { return value_begin_; }

  // The value as a read returns it (see ValueAsRead). Blanks, quotes, "=" and NUL are single
  // units in both encodings and never part of another character, so the value is trimmed in
  // the units and only its first part is decoded.
  std::u16string ValueAsRead() const {
    if (decoded_value_) return platform::ValueAsRead(value_);
    const std::basic_string_view<Unit> units = document_.units;
    size_t begin = span_.begin;
    while (begin < span_.end && units[begin] != Unit('=')) ++begin;
    begin = std::min(begin + 1, span_.end);
    if (odd_tail_) return platform::ValueAsRead(DecodeRange(begin, span_.end));
    size_t end = span_.end;
    while (begin < end && IsBlankUnit(units[begin])) ++begin;
    while (end > begin && IsBlankUnit(units[end - 1])) --end;
    if (end - begin >= 2 && (units[begin] == Unit('"') || units[begin] == Unit('\'')) &&
        units[end - 1] == units[begin]) {
      ++begin;
      --end;
    }
    for (size_t i = begin; i < end; ++i) {
      if (units[i] == Unit(0)) {
        end = i;
        break;
      }
    }
    // Every unit decodes to at most one UTF-16 unit and two units to at least one, so this
    // many units give more than the limit; a character cut in two at the end falls beyond it.
    end = std::min(end, begin + 2 * (kMaxProfileValueLength + 1));
    return Limit(Decode(units.substr(begin, end - begin)));
  }

 private:
  std::u16string DecodeRange(size_t begin, size_t end) const {
    const std::basic_string_view<Unit> units = document_.units;
    std::u16string text = Decode(units.substr(begin, end - begin));
    if (odd_tail_ && end == span_.end) text.push_back(0xFFFD);
    return text;
  }

  const Document<Unit>& document_;
  LineSpan span_;
  bool odd_tail_ = false;
  bool blank_ = true;
  LineKind kind_ = LineKind::kOther;
  std::u16string text_;
  std::u16string name_;
  bool decoded_value_ = false;
  std::u16string value_;
  size_t value_begin_ = 0;
};

// Makes the key line "key=value" in the document's encoding.
template <typename Unit>
std::basic_string<Unit> KeyLine(std::u16string_view key, std::u16string_view value) {
  std::basic_string<Unit> line;
  Encode(std::u16string(key) + u"=" + std::u16string(value), line);
  return line;
}

// --- The line index ----------------------------------------------------------------------------
//
// A document is looked at line by line once, when it is loaded; what a lookup needs of each
// line is kept in a LineInfo, and a write brings the index up to date by looking again only
// at the lines it changed. Names are kept as a hash of their folded form: a lookup compares
// hashes and decodes a line's name again only when its hash matches.

uint64_t NameHash(std::u16string_view name) {
  uint64_t hash = 14695981039346656037ull;
  for (const char16_t c : name) {
    hash ^= base::FoldCase(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

struct LineInfo {
  LineSpan span;
  size_t value_begin = 0;
  uint64_t name_hash = 0;
  LineKind kind = LineKind::kOther;
  bool blank = true;
};

// Where a section and key are in a document, and what a write needs to know about it.
template <typename Unit>
struct Location {
  bool key_found = false;
  LineSpan key_line;
  size_t value_begin = 0;  // in the key line: where its value begins
  std::u16string value;    // a read's result from the key line (only when stopped there)

  bool section_found = false;
  LineSpan insert_after;  // the first matching section's header or its last key line

  std::basic_string<Unit> line_end;  // the first line end of the file
  bool have_last_line = false;
  LineSpan last_line;
  bool last_line_blank = true;
};

// One change of a write: units [begin, end) of the document become `text`.
template <typename Unit>
struct Edit {
  size_t begin = 0;
  size_t end = 0;
  std::basic_string<Unit> text;
};

template <typename Unit>
class Editor {
 public:
  explicit Editor(Document<Unit> document) : document_(std::move(document)) {
    size_t position = 0;
    LineSpan span;
    while (NextLine(std::basic_string_view<Unit>(document_.units), position, span)) {
      lines_.push_back(Look(span));
    }
  }

  const Document<Unit>& document() const { return document_; }

  std::u16string Read(std::u16string_view section, std::u16string_view key,
                      std::u16string_view default_value) const {
    const Location<Unit> location =
        Find(StoredName(Trim(section), Unit()), StoredName(Trim(key), Unit()), true);
    // The default loses its trailing blanks, as Windows documents for the call.
    if (!location.key_found) return Limit(TrimTrailingBlanks(default_value));
    return location.value;
  }

  // section and key are trimmed and checked, value is as it is to be stored.
  void Write(std::u16string_view section, std::u16string_view key, std::u16string_view value) {
    const Location<Unit> location =
        Find(StoredName(section, Unit()), StoredName(key, Unit()), false);
    Apply(MakeEdit(location, section, key, value));
  }

 private:
  LineInfo Look(const LineSpan& span) const {
    const Line<Unit> line(document_, span);
    LineInfo info;
    info.span = span;
    info.kind = line.kind();
    info.blank = line.blank();
    info.value_begin = line.value_begin();
    if (line.kind() != LineKind::kOther) info.name_hash = NameHash(line.name());
    return info;
  }

  bool NameIs(const LineInfo& info, std::u16string_view name, uint64_t hash) const {
    return info.name_hash == hash && NamesEqual(Line<Unit>(document_, info.span).name(), name);
  }

  // Goes through the lines in file order. stop_at_key: a read needs nothing after the key.
  Location<Unit> Find(std::u16string_view section, std::u16string_view key,
                      bool stop_at_key) const {
    Location<Unit> location;
    const std::basic_string_view<Unit> units = document_.units;
    // Only the last line can lack a line end, so the first line end is the first line's.
    if (!lines_.empty() && lines_.front().span.next > lines_.front().span.end) {
      const LineSpan& first = lines_.front().span;
      location.line_end = units.substr(first.end, first.next - first.end);
    } else {
      location.line_end = {Unit('\r'), Unit('\n')};
    }
    if (!lines_.empty()) {
      location.have_last_line = true;
      location.last_line = lines_.back().span;
      location.last_line_blank = lines_.back().blank;
    }
    const uint64_t section_hash = NameHash(section);
    const uint64_t key_hash = NameHash(key);
    // The lines before the first section line are the section with the empty name; new keys
    // of it go to the top of the file, after the keys already there.
    bool in_section = section.empty();
    if (in_section) location.section_found = true;
    for (const LineInfo& info : lines_) {
      if (info.kind == LineKind::kSection) {
        // Only the first section of a name counts; a later one of the same name is never read
        // nor written.
        if (in_section) break;
        in_section = NameIs(info, section, section_hash);
        if (in_section) {
          location.section_found = true;
          location.insert_after = info.span;
        }
      } else if (info.kind == LineKind::kKey && in_section) {
        location.insert_after = info.span;
        if (!location.key_found && NameIs(info, key, key_hash)) {
          location.key_found = true;
          location.key_line = info.span;
          location.value_begin = info.value_begin;
          if (stop_at_key) {
            location.value = Line<Unit>(document_, info.span).ValueAsRead();
            break;
          }
        }
      }
    }
    return location;
  }

  // What a write changes; clears document_.has_odd_byte when that byte is gone.
  Edit<Unit> MakeEdit(const Location<Unit>& location, std::u16string_view section,
                      std::u16string_view key, std::u16string_view value) {
    const std::basic_string_view<Unit> units = document_.units;
    Edit<Unit> edit;

    if (location.key_found) {
      // In place: the line up to its first "=" and the blanks after it stays, the value after
      // it is replaced, the line end and everything after stay.
      edit.begin = location.value_begin;
      edit.end = location.key_line.end;
      Encode(value, edit.text);
      // A damaged last byte after the old value belonged to that value.
      if (location.key_line.end == units.size()) document_.has_odd_byte = false;
      return edit;
    }

    // Lines are added after the line ending at `after` (or at the end of the file). A last
    // line without a line end gets one first.
    auto begin_new_line_after = [&](size_t after) {
      edit.begin = edit.end = after;
      if (after != units.size()) return;
      if (document_.has_odd_byte) {
        edit.text.push_back(static_cast<Unit>(0xFFFD));  // only in UTF-16 documents
        document_.has_odd_byte = false;
        edit.text.append(location.line_end);
      } else if (location.have_last_line && location.last_line.next == location.last_line.end) {
        edit.text.append(location.line_end);
      }
    };

    if (location.section_found) {
      const size_t after = location.insert_after.next;
      begin_new_line_after(after);
      edit.text.append(KeyLine<Unit>(key, value));
      // A lone CR right before an LF would join it into one CR LF line end and swallow the
      // empty line that LF ends.
      const bool lone_cr = location.line_end.size() == 1 && location.line_end[0] == Unit('\r');
      if (lone_cr && after < units.size() && units[after] == Unit('\n')) {
        edit.text.append({Unit('\r'), Unit('\n')});
      } else {
        edit.text.append(location.line_end);
      }
    } else {
      const bool had_content = location.have_last_line || document_.has_odd_byte;
      const bool last_blank = location.last_line_blank && !document_.has_odd_byte;
      begin_new_line_after(units.size());
      if (had_content && !last_blank) edit.text.append(location.line_end);  // one blank line
      Encode(u"[" + std::u16string(section) + u"]", edit.text);
      edit.text.append(location.line_end);
      edit.text.append(KeyLine<Unit>(key, value));
      edit.text.append(location.line_end);
    }
    return edit;
  }

  // Changes the units and looks again at the lines from the one before the change up to the
  // first unchanged line after it; the lines after that only move.
  void Apply(const Edit<Unit>& edit) {
    document_.units.replace(edit.begin, edit.end - edit.begin, edit.text);
    const size_t new_end = edit.begin + edit.text.size();
    auto moved = [&](size_t old_position) {
      return old_position - edit.end + new_end;  // for positions at or after edit.end
    };

    // The first line to look at again: the one before the line holding the change, as a line
    // end added in front of an LF can join with it.
    size_t first = 0;
    {
      auto it = std::upper_bound(
          lines_.begin(), lines_.end(), edit.begin,
          [](size_t position, const LineInfo& info) { return position < info.span.begin; });
      first = static_cast<size_t>(it - lines_.begin());
      first = first >= 2 ? first - 2 : 0;
    }
    size_t position = first < lines_.size() ? lines_[first].span.begin : 0;
    std::vector<LineInfo> changed;
    size_t resume = lines_.size();  // the first old line that is only moved
    LineSpan span;
    const std::basic_string_view<Unit> units = document_.units;
    while (NextLine(units, position, span)) {
      if (span.begin >= new_end) {
        const size_t old_begin = span.begin - new_end + edit.end;
        auto it = std::lower_bound(
            lines_.begin() + static_cast<std::ptrdiff_t>(first), lines_.end(), old_begin,
            [](const LineInfo& info, size_t value) { return info.span.begin < value; });
        if (it != lines_.end() && it->span.begin == old_begin) {
          resume = static_cast<size_t>(it - lines_.begin());
          break;
        }
      }
      changed.push_back(Look(span));
    }
    for (size_t i = resume; i < lines_.size(); ++i) {
      LineSpan& moved_span = lines_[i].span;
      moved_span.begin = moved(moved_span.begin);
      moved_span.end = moved(moved_span.end);
      moved_span.next = moved(moved_span.next);
      lines_[i].value_begin = moved(lines_[i].value_begin);
    }
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(first),
                 lines_.begin() + static_cast<std::ptrdiff_t>(resume));
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(first), changed.begin(),
                  changed.end());
  }

  Document<Unit> document_;
  std::vector<LineInfo> lines_;
};

std::string Save(const Document<char>& document) { return document.units; }

std::string Save(const Document<char16_t>& document) {
  const std::u16string_view units = document.units;
  std::string bytes;
  bytes.reserve(2 + units.size() * 2 + 1);
  bytes.push_back(kBom0);
  bytes.push_back(kBom1);
  for (const char16_t c : units) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  if (document.has_odd_byte) bytes.push_back(document.odd_byte);
  return bytes;
}

bool HasLineBreak(std::u16string_view text) {
  return text.find_first_of(u"\r\n") != std::u16string_view::npos;
}

}  // namespace

std::u16string PrepareProfileWrite(std::u16string_view& section, std::u16string_view& key,
                                   std::u16string_view value) {
  section = Trim(section);
  key = Trim(key);
  if (HasLineBreak(section) || HasLineBreak(key) || key.find(u'=') != std::u16string_view::npos ||
      (!key.empty() && key.front() == u'[')) {
    throw std::invalid_argument("section or key cannot be stored in a settings file");
  }
  // The value ends at a NUL, as the C string of the Windows call does; a line break would split
  // the line and is written as a blank.
  std::u16string stored(value.substr(0, value.find(u'\0')));
  std::replace_if(
      stored.begin(), stored.end(), [](char16_t c) { return c == u'\r' || c == u'\n'; }, u' ');
  return stored;
}

struct Profile::Impl {
  std::variant<Editor<char>, Editor<char16_t>> editor;
};

Profile::Profile(std::string_view bytes)
    : impl_(IsUtf16(bytes) ? std::make_unique<Impl>(Impl{Editor<char16_t>(LoadUtf16(bytes))})
                           : std::make_unique<Impl>(Impl{Editor<char>(LoadCodePage932(bytes))})) {}

Profile::~Profile() = default;
Profile::Profile(Profile&&) noexcept = default;
Profile& Profile::operator=(Profile&&) noexcept = default;

std::u16string Profile::Read(std::u16string_view section, std::u16string_view key,
                             std::u16string_view default_value) const {
  return std::visit([&](const auto& editor) { return editor.Read(section, key, default_value); },
                    impl_->editor);
}

void Profile::Write(std::u16string_view section, std::u16string_view key,
                    std::u16string_view value) {
  const std::u16string stored = PrepareProfileWrite(section, key, value);
  std::visit([&](auto& editor) { editor.Write(section, key, stored); }, impl_->editor);
}

std::string Profile::Bytes() const {
  return std::visit([](const auto& editor) { return Save(editor.document()); }, impl_->editor);
}

std::u16string ReadProfileStringFromBytes(std::string_view bytes, std::u16string_view section,
                                          std::u16string_view key,
                                          std::u16string_view default_value) {
  return Profile(bytes).Read(section, key, default_value);
}

std::string WriteProfileStringToBytes(std::string_view bytes, std::u16string_view section,
                                      std::u16string_view key, std::u16string_view value) {
  Profile profile(bytes);
  profile.Write(section, key, value);
  return profile.Bytes();
}

// The same on every system: the file's bytes, read once.
Profile LoadProfile(const std::filesystem::path& file) {
  try {
    const std::optional<std::string> bytes = ReadFileBytes(file, kMaxProfileFileSize);
    return Profile(bytes.value_or(std::string()));
  } catch (const std::exception&) {
    // An unreadable file reads like a missing one.
    return Profile(std::string_view());
  }
}

// One key is a batch of one, written the way the system writes batches.
void WriteProfileString(const std::filesystem::path& file, std::u16string_view section,
                        std::u16string_view key, std::u16string_view value) {
  const ProfileEntry entry{section, key, value};
  WriteProfileStrings(file, std::span(&entry, 1));
}

}  // namespace platform
