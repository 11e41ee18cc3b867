// The writer's entry points: jet::CreateDatabase and Writer::OpenIfOwned. Every database
// this process creates stays registered (by device and inode) with its in-memory pages, so
// that later connections to the same file write through the same state.
#include "jet/write/writer.h"

#include <sys/stat.h>

#include <ctime>
#include <map>
#include <mutex>

#include "base/calendar.h"
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

std::map<std::pair<dev_t, ino_t>, std::shared_ptr<Registered>>& Registry() {
  static std::map<std::pair<dev_t, ino_t>, std::shared_ptr<Registered>> r;
  return r;
}

// The current local time as an OLE automation date.
double NowOleDate() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  time_t secs = ts.tv_sec;
  tm local;
  localtime_r(&secs, &local);
  double local_secs = static_cast<double>(secs) + static_cast<double>(local.tm_gmtoff);
  double days = local_secs / 86400.0 + static_cast<double>(base::kUnixEpochOleDay);
  // Whole milliseconds, as Jet keeps them.
  double ms = static_cast<double>(ts.tv_nsec / 1000000) / 86400000.0;
  return days + ms;
}

class FileWriter : public Writer {
 public:
  explicit FileWriter(std::shared_ptr<Registered> entry) : entry_(std::move(entry)) {
    ++entry_->handles;
  }

  // Changes that were never flushed when the last writer of a file goes away (a rolled-back
  // transaction, a connection closed in the middle of one) must not reach the file later.
  // The in-memory state then no longer matches the file, so the file stops being writable
  // rather than risk writing a mixture.
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
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  std::lock_guard lock(RegistryMutex());
  auto it = Registry().find({st.st_dev, st.st_ino});
  if (it == Registry().end()) return nullptr;
  {
    std::lock_guard file_lock(it->second->mutex);
    // A file of another size is no longer the one we wrote (replaced or changed by others).
    if (st.st_size != it->second->file->flushed_size()) return nullptr;
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
  write::Registry()[{entry->file->device(), entry->file->inode()}] = entry;
}

}  // namespace jet
