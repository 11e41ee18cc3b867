// The writer's entry points: jet::CreateDatabase and Writer::OpenIfOwned. Every database
// this process creates stays registered (by its identity on the disk) with its in-memory pages, so
// that later connections to the same file write through the same state.
#include "jet/write/writer.h"

#include <chrono>
#include <map>
#include <mutex>

#include "base/calendar.h"
#include "jet/file/file.h"
#include "jet/write/database_file.h"

namespace jet::write {
namespace {

struct Registered {
  std::mutex mutex;
  std::unique_ptr<DatabaseFile> file;
  int handles = 0;
};

std::mutex& RegistryMutex() {
  static std::mutex m;
  return m;
}

std::map<file::FileId, std::shared_ptr<Registered>>& Registry() {
  static std::map<file::FileId, std::shared_ptr<Registered>> r;
  return r;
}

// The current local time as an OLE automation date.
double NowOleDate() {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  using std::chrono::seconds;
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const int64_t secs = std::chrono::floor<seconds>(since_epoch).count();
  const int64_t millis = duration_cast<milliseconds>(since_epoch).count() - secs * 1000;
  const double local_secs =
      static_cast<double>(secs) + static_cast<double>(file::LocalUtcOffsetSeconds(secs));
  const double days = local_secs / 86400.0 + static_cast<double>(base::kUnixEpochOleDay);
  // Whole milliseconds, as Jet keeps them.
  const double ms = static_cast<double>(millis) / 86400000.0;
  return days + ms;
}

class FileWriter : public Writer {
 public:
  explicit FileWriter(std::shared_ptr<Registered> entry) : entry_(std::move(entry)) {
    ++entry_->handles;
  }

  // Changes that were never flushed when the last writer of a file goes away (a rolled-back
  // transaction, a connection closed in the middle of one) must not reach the file later:
  // they are dropped. The pages are then let go until the next change reads them back.
  // If the file cannot be read back, it stops being writable rather than risk writing a
  // mixture.
  ~FileWriter() override {
    std::lock_guard registry_lock(RegistryMutex());
    std::lock_guard lock(entry_->mutex);
    if (--entry_->handles > 0) return;
    try {
      if (entry_->file->HasUnflushedChanges()) entry_->file->DiscardUnflushedChanges();
      entry_->file->ReleaseMemory();  // read back on the next change
      return;
    } catch (const std::exception&) {
    }
    for (auto it = Registry().begin(); it != Registry().end(); ++it) {
      if (it->second == entry_) {
        Registry().erase(it);
        break;
      }
    }
  }

  void CreateTable(const sql::CreateTableStatement& statement) override {
    std::lock_guard lock(entry_->mutex);
    entry_->file->CreateTable(TableSpecFromStatement(statement), NowOleDate());
  }

  std::vector<Value> InsertRow(std::u16string_view table,
                               const std::vector<std::optional<Value>>& values) override {
    std::lock_guard lock(entry_->mutex);
    return entry_->file->InsertRow(table, values);
  }

  void Flush() override {
    std::lock_guard lock(entry_->mutex);
    entry_->file->Flush();
  }

 private:
  std::shared_ptr<Registered> entry_;
};

}  // namespace

std::unique_ptr<Writer> Writer::OpenIfOwned(const std::filesystem::path& path) {
  const std::optional<file::RegularFileStatus> status = file::StatusOfRegularFile(path);
  if (!status) return nullptr;
  std::lock_guard lock(RegistryMutex());
  auto it = Registry().find(status->id);
  if (it == Registry().end()) return nullptr;
  {
    std::lock_guard file_lock(it->second->mutex);
    // A file of another size is no longer the one we wrote (replaced or changed by others).
    if (status->size != it->second->file->file_size()) return nullptr;
  }
  return std::make_unique<FileWriter>(it->second);
}

}  // namespace jet::write

namespace jet {

void CreateDatabase(const std::filesystem::path& path) {
  auto file = write::DatabaseFile::Create(path, write::NowOleDate());
  auto entry = std::make_shared<write::Registered>();
  entry->file = std::move(file);
  std::lock_guard lock(write::RegistryMutex());
  write::Registry()[entry->file->id()] = entry;
}

}  // namespace jet
