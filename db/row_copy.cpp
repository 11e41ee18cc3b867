// The copy loop shared by the export to SQLite and the import into a new basic database.
#include "db/row_copy.h"

#include "platform/error.h"

namespace db {
namespace {

constexpr int64_t kProgressStep = 4096;

}  // namespace

void ThrowMissingField(std::u16string_view target, std::u16string_view name) {
  throw platform::Error(std::u16string(target) + u"にフィールド「" + std::u16string(name) +
                        u"」がありません");
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
  if (progress) progress(total, total);
  return counts;
}

}  // namespace db
