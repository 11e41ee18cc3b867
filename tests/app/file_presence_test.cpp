// The existence check behind the project list's missing-file mark: answers come from a
// worker thread, each path is asked of the disk once per list, and a changed list asks again.
#include "app/file_presence.h"

#include <gtest/gtest.h>

#include <QTest>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>

namespace {

class FilePresenceTest : public testing::Test {
 protected:
  app::FilePresence::Check Recording() {
    return [this](const std::u16string& path) {
      std::lock_guard lock(mutex_);
      ++checks_[path];
      if (std::this_thread::get_id() == ui_thread_) checked_on_ui_thread_ = true;
      return path.front() == u'y';
    };
  }
  int Checks(const std::u16string& path) {
    std::lock_guard lock(mutex_);
    return checks_[path];
  }

  const std::thread::id ui_thread_ = std::this_thread::get_id();
  std::mutex mutex_;
  std::map<std::u16string, int> checks_;
  std::atomic<bool> checked_on_ui_thread_ = false;
};

TEST_F(FilePresenceTest, AnswersArriveFromTheWorkerOncePerPathUntilTheListChanges) {
  app::FilePresence presence(Recording());
  int answered = 0;
  QObject::connect(&presence, &app::FilePresence::Answered, [&] { ++answered; });

  // Asked many times, as drawing does on every repaint: unknown until the answer arrives.
  for (int i = 0; i < 50; ++i) {
    EXPECT_FALSE(presence.Exists(u"yes").has_value());
    EXPECT_FALSE(presence.Exists(u"no").has_value());
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return answered == 2; }));
  EXPECT_EQ(presence.Exists(u"yes"), std::optional<bool>(true));
  EXPECT_EQ(presence.Exists(u"no"), std::optional<bool>(false));
  EXPECT_EQ(Checks(u"yes"), 1);
  EXPECT_EQ(Checks(u"no"), 1);
  EXPECT_FALSE(checked_on_ui_thread_);

  // A new list: the last answers are still given while each path is checked once more.
  presence.MarkStale();
  for (int i = 0; i < 50; ++i) EXPECT_EQ(presence.Exists(u"yes"), std::optional<bool>(true));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Checks(u"yes") == 2; }));
  QTest::qWait(50);
  EXPECT_EQ(Checks(u"yes"), 2);
  EXPECT_EQ(Checks(u"no"), 1);  // not asked for in the new list
}

TEST_F(FilePresenceTest, DestroyedWhileChecksAreQueued) {
  std::atomic<int> started = 0;
  {
    app::FilePresence presence([&](const std::u16string&) {
      ++started;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      return true;
    });
    for (int i = 0; i < 200; ++i)
      (void)presence.Exists(u"p" + std::u16string(1, static_cast<char16_t>(u'a' + i)));
  }
  // The worker stopped with the object: no answer is delivered to a destroyed object.
  QTest::qWait(20);
  EXPECT_LT(started.load(), 200);
}

}  // namespace
