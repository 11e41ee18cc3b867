// The copy loop shared by the export to SQLite and the import into a new basic database.
#include "db/row_copy.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/error.h"

namespace db {
namespace {

constexpr int64_t kProgressStep = 4096;

// Rows per batch handed from the reading thread, and batches that may wait: enough to keep
// both sides busy, few enough that a table of any size costs the same memory.
constexpr size_t kBatchRows = 256;
constexpr size_t kWaitingBatches = 4;

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

struct ReadAheadRowSource::Shared {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::vector<std::vector<jet::Value>>> ready;
  std::vector<std::vector<std::vector<jet::Value>>> spare;  // handed back for their storage
  bool done = false;  // the reader has read its last row (or failed)
  bool stop = false;  // the reader is to end early
  std::exception_ptr error;
  std::thread reader;
};

ReadAheadRowSource::ReadAheadRowSource(RowSource& source)
    : source_(source),
      fields_(source.fields()),
      row_count_(source.row_count()),
      shared_(std::make_unique<Shared>()) {
  shared_->reader = std::thread([this] { Read(); });
}

ReadAheadRowSource::~ReadAheadRowSource() {
  {
    const std::lock_guard lock(shared_->mutex);
    shared_->stop = true;
  }
  shared_->changed.notify_all();
  shared_->reader.join();
}

void ReadAheadRowSource::Read() {
  Shared& s = *shared_;
  const size_t field_count = fields_.size();
  bool more = true;
  while (more) {
    std::vector<std::vector<jet::Value>> batch;
    {
      std::unique_lock lock(s.mutex);
      s.changed.wait(lock, [&s] { return s.stop || s.ready.size() < kWaitingBatches; });
      if (s.stop) return;
      if (!s.spare.empty()) {
        batch = std::move(s.spare.back());
        s.spare.pop_back();
      }
    }
    // Rows keep the storage of the batch they were in before: texts of a similar length then
    // need no new memory.
    size_t filled = 0;
    std::exception_ptr error;
    try {
      while (filled < kBatchRows && (more = source_.Next())) {
        if (filled == batch.size()) batch.emplace_back(field_count);
        std::vector<jet::Value>& row = batch[filled];
        for (size_t i = 0; i < field_count; ++i) row[i] = source_.value(static_cast<int>(i));
        ++filled;
      }
    } catch (...) {
      // The rows read before the failure are still handed out first, so the copy meets the
      // failure where it would have met it reading row by row.
      error = std::current_exception();
      more = false;
    }
    batch.resize(filled);
    {
      const std::lock_guard lock(s.mutex);
      if (filled > 0) s.ready.push_back(std::move(batch));
      s.error = error;
      s.done = !more;
    }
    s.changed.notify_all();
  }
}

bool ReadAheadRowSource::Next() {
  if (next_in_batch_ < batch_.size()) {
    row_ = &batch_[next_in_batch_++];
    return true;
  }
  Shared& s = *shared_;
  std::unique_lock lock(s.mutex);
  if (!batch_.empty()) s.spare.push_back(std::move(batch_));
  batch_.clear();
  next_in_batch_ = 0;
  row_ = nullptr;
  s.changed.notify_all();
  s.changed.wait(lock, [&s] { return !s.ready.empty() || s.done; });
  if (s.ready.empty()) {
    if (s.error) std::rethrow_exception(s.error);
    return false;
  }
  batch_ = std::move(s.ready.front());
  s.ready.pop_front();
  lock.unlock();
  s.changed.notify_all();
  row_ = &batch_[next_in_batch_++];
  return true;
}

const jet::Value& ReadAheadRowSource::value(int field_index) const {
  return (*row_)[static_cast<size_t>(field_index)];
}

}  // namespace db
