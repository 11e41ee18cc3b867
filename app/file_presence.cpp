#include "app/file_presence.h"

#include <utility>

#include "gis/open_project.h"
#include "ui/qt_text.h"

namespace app {

FilePresence::FilePresence(Check check, QObject* parent)
    : QObject(parent), check_(std::move(check)) {
  if (!check_) check_ = [](const std::u16string& path) { return gis::FileExists(path); };
  worker_ = std::thread([this] { Run(); });
}

FilePresence::~FilePresence() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  wake_.notify_all();
  worker_.join();
}

std::optional<bool> FilePresence::Exists(const std::u16string& path) {
  Entry& entry = entries_[path];
  if (!entry.fresh) {
    entry.fresh = true;
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(path);
    }
    wake_.notify_one();
  }
  return entry.exists;
}

void FilePresence::MarkStale() {
  for (auto& [path, entry] : entries_) entry.fresh = false;
  // Answers still queued for the old list are of no use now.
  std::lock_guard lock(mutex_);
  queue_.clear();
}

void FilePresence::Run() {
  for (;;) {
    std::u16string path;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      path = std::move(queue_.front());
      queue_.pop_front();
    }
    const bool exists = check_(path);
    // Delivered on the owning thread; dropped by Qt when this object is gone by then.
    QMetaObject::invokeMethod(
        this, [this, path, exists] { Store(path, exists); }, Qt::QueuedConnection);
  }
}

void FilePresence::Store(const std::u16string& path, bool exists) {
  Entry& entry = entries_[path];
  const bool changed = entry.exists != exists;
  entry.exists = exists;
  if (changed) emit Answered(ui::ToQString(path));
}

}  // namespace app
