// Whether the project files of the grid exist, found out on a worker thread so that drawing
// the grid and typing in the keyword box never wait for the disk.
#ifndef QUORVEL_APP_FILE_PRESENCE_H_
#define QUORVEL_APP_FILE_PRESENCE_H_

#include <QObject>
#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>

namespace app {

class FilePresence : public QObject {
  Q_OBJECT

 public:
  // Answers whether a file (not a folder) is at a path; runs on the worker thread.
  using Check = std::function<bool(const std::u16string& path)>;

  // `check` empty means gis::FileExists.
  explicit FilePresence(Check check = {}, QObject* parent = nullptr);
  ~FilePresence() override;
  FilePresence(const FilePresence&) = delete;
  FilePresence& operator=(const FilePresence&) = delete;

  // What is known of `path`: the last answer, also while a newer one is awaited; nothing when
  // it was never checked. A path never checked, or checked before the last MarkStale, is
  // queued for the worker. Never touches the disk itself.
  std::optional<bool> Exists(const std::u16string& path);

  // The list changed: every known answer is checked again the next time it is asked for.
  void MarkStale();

 signals:
  // An answer for `path` arrived (on the thread that owns this object).
  void Answered(const QString& path);

 private:
  struct Entry {
    std::optional<bool> exists;
    bool fresh = false;  // checked (or queued) since the last MarkStale
  };

  void Run();
  void Store(const std::u16string& path, bool exists);

  Check check_;
  std::unordered_map<std::u16string, Entry> entries_;  // owning thread only

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::u16string> queue_;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace app

#endif  // QUORVEL_APP_FILE_PRESENCE_H_
