// The copy loop shared by the export to SQLite and the import into a new basic database.
#include "db/row_copy.h"

#include "platform/error.h"

namespace db {
namespace {

constexpr int64_t kProgressStep = 4096;

}  // namespace

std::vector<int> MatchFieldsByName(const std::vector<jet::Field>& source_fields,
                                   const std::function<int(std::u16string_view)>& find_field,
                                   std::u16string_view target) {
  std::vector<int> indexes(source_fields.size());
  for (size_t i = 0; i < source_fields.size(); ++i) {
    indexes[i] = find_field(source_fields[i].name);
    if (indexes[i] < 0) {
      throw platform::Error(std::u16string(target) + u"にフィールド「" + source_fields[i].name +
                            u"」がありません");
    }
  }
  return indexes;
}

CopyCounts CopyRows(RowSource& source, RowSink& sink, const ProgressFunction& progress) {
  sink.Prepare(source.fields());
  CopyCounts counts;
  const int64_t total = source.row_count();
  int64_t done = 0;
  while (source.Next()) {
    if (sink.Append(source)) {
      ++counts.copied;
    } else {
      ++counts.refused;
    }
    ++done;
    if (progress && done % kProgressStep == 0) progress(done, total);
  }
  sink.Finish();
  counts.truncated = sink.truncated_rows();
  if (progress) progress(total, total);
  return counts;
}

}  // namespace db
