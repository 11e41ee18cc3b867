// Windows of other programs, on a private X server (with openbox where a window manager
// is needed), and LaunchOrActivate with real stand-in programs.
// gtest comes before Xlib, whose macros (None, Bool...) would break it.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <thread>

#include "base/utf.h"
#include "lib/process.h"
#include "platform/window.h"
#include "tests/support/test_env.h"

namespace {

namespace fs = std::filesystem;
using gistest::Child;
using gistest::TempDir;

// A client connection of the test itself.
class TestDisplay {
 public:
  TestDisplay() : display_(XOpenDisplay(nullptr)) {
    // Requests about windows that went away must not end the test.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  }
  ~TestDisplay() {
    if (display_ != nullptr) XCloseDisplay(display_);
  }
  Display* get() const { return display_; }
  Atom atom(const char* name) const { return XInternAtom(display_, name, False); }

  Window Create(const std::string& utf8_title, bool net_wm_name, bool map = true) {
    const Window w =
        XCreateSimpleWindow(display_, DefaultRootWindow(display_), 10, 10, 200, 100, 0, 0, 0);
    if (net_wm_name) {
      XChangeProperty(display_, w, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(utf8_title.data()),
                      static_cast<int>(utf8_title.size()));
    } else {
      XStoreName(display_, w, utf8_title.c_str());
    }
    if (map) XMapWindow(display_, w);
    XSync(display_, False);
    return w;
  }

  long WmState(Window w) {
    const Atom state = atom("WM_STATE");
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    long value = -1;
    if (XGetWindowProperty(display_, w, state, 0, 2, False, state, &type, &format, &count,
                           &remaining, &data) == Success &&
        type == state && count >= 1) {
      value = reinterpret_cast<long*>(data)[0];
    }
    if (data != nullptr) XFree(data);
    return value;
  }

  Window ActiveWindow() {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    Window value = 0;
    if (XGetWindowProperty(display_, DefaultRootWindow(display_), atom("_NET_ACTIVE_WINDOW"), 0, 1,
                           False, XA_WINDOW, &type, &format, &count, &remaining,
                           &data) == Success &&
        type == XA_WINDOW && count == 1) {
      value = reinterpret_cast<Window*>(data)[0];
    }
    if (data != nullptr) XFree(data);
    return value;
  }

 private:
  Display* display_;
};

#define REQUIRE_DISPLAY(display) \
  if (!(display).ok()) GTEST_SKIP() << "no X server (Xvfb) available"

TEST(WindowTest, NoDisplayFindsNothing) {
  const char* old = std::getenv("DISPLAY");
  const std::string saved = old != nullptr ? old : "";
  unsetenv("DISPLAY");
  EXPECT_EQ(platform::FindTopLevelWindow(u"GIS Quorvel"), 0u);
  EXPECT_EQ(platform::GetOwnerWindow(1234), 0u);
  EXPECT_FALSE(platform::IsWindowMinimized(1234));
  platform::RestoreWindow(1234);
  platform::BringWindowToForeground(1234);
  if (old != nullptr) setenv("DISPLAY", saved.c_str(), 1);
}

TEST(WindowTest, FindsByExactTitleFromEitherProperty) {
  gistest::PrivateDisplay server(false);
  REQUIRE_DISPLAY(server);
  TestDisplay x;
  const Window japanese = x.Create("ツール自動バージョンアップ", true);
  const Window latin = x.Create("Plain Title", false);
  const Window hidden = x.Create("Hidden One", true, false);
  EXPECT_EQ(platform::FindTopLevelWindow(u"ツール自動バージョンアップ"), japanese);
  EXPECT_EQ(platform::FindTopLevelWindow(u"Plain Title"), latin);
  EXPECT_EQ(platform::FindTopLevelWindow(u"Hidden One"), hidden);
  EXPECT_EQ(platform::FindTopLevelWindow(u"ツール自動バージョン"), 0u);
  EXPECT_EQ(platform::FindTopLevelWindow(u"plain title"), 0u);
  EXPECT_EQ(platform::FindTopLevelWindow(u"Plain Title "), 0u);
  EXPECT_EQ(platform::FindTopLevelWindow(u""), 0u);
  // A window that is gone is simply not found, and acting on it does nothing.
  XDestroyWindow(x.get(), latin);
  XSync(x.get(), False);
  EXPECT_EQ(platform::FindTopLevelWindow(u"Plain Title"), 0u);
  EXPECT_EQ(platform::GetOwnerWindow(latin), 0u);
  EXPECT_FALSE(platform::IsWindowMinimized(latin));
  platform::RestoreWindow(latin);
  platform::BringWindowToForeground(latin);
}

TEST(WindowTest, OwnerIsTheTransientForWindow) {
  gistest::PrivateDisplay server(false);
  REQUIRE_DISPLAY(server);
  TestDisplay x;
  const Window owner = x.Create("owner", true);
  const Window owned = x.Create("owned", true);
  XSetTransientForHint(x.get(), owned, owner);
  XSync(x.get(), False);
  EXPECT_EQ(platform::GetOwnerWindow(owned), owner);
  EXPECT_EQ(platform::GetOwnerWindow(owner), 0u);
}

TEST(WindowTest, WithoutWindowManagerForegroundRaisesAndFocuses) {
  gistest::PrivateDisplay server(false);
  REQUIRE_DISPLAY(server);
  TestDisplay x;
  const Window a = x.Create("A", true);
  const Window b = x.Create("B", true);
  platform::BringWindowToForeground(a);
  XSync(x.get(), False);
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(x.get(), &focus, &revert);
  EXPECT_EQ(focus, a);
  Window root = 0, parent = 0, *children = nullptr;
  unsigned int count = 0;
  XQueryTree(x.get(), DefaultRootWindow(x.get()), &root, &parent, &children, &count);
  ASSERT_GE(count, 2u);
  EXPECT_EQ(children[count - 1], a);  // topmost
  XFree(children);
  (void)b;
}

class ActivateTest : public testing::Test {
 protected:
  void SetUp() override {
    display_ = std::make_unique<gistest::PrivateDisplay>(true);
    if (!display_->ok()) {
      if (std::filesystem::exists("/usr/bin/openbox") && std::filesystem::exists("/usr/bin/Xvfb")) {
        FAIL() << "Xvfb with openbox did not start";
      }
      GTEST_SKIP() << "no X server with openbox available";
    }
    runtime_ = std::make_unique<gistest::PrivateRuntimeDir>(dir_.path());
    x_ = std::make_unique<TestDisplay>();
  }

  void TearDown() override {
    child_.reset();
    x_.reset();
  }

  // Starts a copy of a stand-in and waits until its window with `title` is shown.
  Window StartStub(const fs::path& stub, const std::string& name, const std::u16string& title) {
    gistest::CopyExecutable(stub, dir_.path() / name);
    child_ = std::make_unique<Child>(dir_.path() / name, std::vector<std::string>{});
    platform::WindowHandle found = 0;
    EXPECT_TRUE(gistest::WaitFor([&] {
      found = platform::FindTopLevelWindow(title);
      return found != 0 && platform::GetOwnerWindow(found) != 0 &&
             x_->WmState(platform::GetOwnerWindow(found)) == NormalState;
    })) << "found "
        << found << " owner " << platform::GetOwnerWindow(found) << " state "
        << x_->WmState(platform::GetOwnerWindow(found)) << " display " << display_->name()
        << " log " << gistest::ReadLog(dir_.path() / "quorvel-stub.log").size()
        << gistest::ReadLog(dir_.path() / "_Updater.log").size();
    return static_cast<Window>(found);
  }

  // Minimises `window` the way a user does, through the window manager.
  void Minimize(Window window) {
    XIconifyWindow(x_->get(), window, DefaultScreen(x_->get()));
    XSync(x_->get(), False);
    ASSERT_TRUE(gistest::WaitFor([&] { return platform::IsWindowMinimized(window); }));
  }

  TempDir dir_;
  std::unique_ptr<gistest::PrivateDisplay> display_;
  std::unique_ptr<gistest::PrivateRuntimeDir> runtime_;
  std::unique_ptr<TestDisplay> x_;
  std::unique_ptr<Child> child_;
};

// The updater's window is found by its Japanese title; its minimised owner is restored and
// brought to the front, and the program given is not started.
TEST_F(ActivateTest, RestoresTheMinimisedOwnerOfAJapaneseTitledWindow) {
  const Window window =
      StartStub(gistest::UpdaterStubPath(), "_Updater.exe", u"ツール自動バージョンアップ");
  ASSERT_NE(window, 0u);
  const Window owner = static_cast<Window>(platform::GetOwnerWindow(window));
  Minimize(owner);
  const Window other = x_->Create("Someone else", true);
  EXPECT_TRUE(gistest::WaitFor([&] { return x_->ActiveWindow() != owner; }));

  // A program path that does not exist: starting it would raise an error.
  tclib::LaunchOrActivate(base::FromUtf8((dir_.path() / "missing.exe").string()), u"x y",
                          u"ツール自動バージョンアップ");
  EXPECT_TRUE(gistest::WaitFor([&] { return x_->WmState(owner) == NormalState; }));
  EXPECT_TRUE(gistest::WaitFor([&] { return x_->ActiveWindow() == owner; }));
  EXPECT_EQ(gistest::RecordsOf(gistest::ReadLog(dir_.path() / "_Updater.log"), "start").size(), 1u);
  (void)other;
}

TEST_F(ActivateTest, BringsTheOwnerOfTheGisWindowToTheFrontWithoutStarting) {
  const Window window = StartStub(gistest::QuorvelStubPath(), "quorvel.exe", u"GIS Quorvel");
  ASSERT_NE(window, 0u);
  const Window owner = static_cast<Window>(platform::GetOwnerWindow(window));
  const Window other = x_->Create("Someone else", true);
  platform::BringWindowToForeground(other);
  ASSERT_TRUE(gistest::WaitFor([&] { return x_->ActiveWindow() == other; }));

  const int32_t before = tclib::CountProcessesByName(u"quorvel.exe");
  tclib::LaunchOrActivate(base::FromUtf8((dir_.path() / "quorvel.exe").string()), u"/p/a.qvp",
                          u"GIS Quorvel");
  EXPECT_TRUE(gistest::WaitFor([&] { return x_->ActiveWindow() == owner; }));
  EXPECT_EQ(x_->WmState(owner), NormalState);
  EXPECT_EQ(tclib::CountProcessesByName(u"quorvel.exe"), before);
  EXPECT_EQ(gistest::RecordsOf(gistest::ReadLog(dir_.path() / "quorvel-stub.log"), "start").size(),
            1u);
}

// A window with the title but no owner: nothing is activated and nothing started.
TEST_F(ActivateTest, WindowWithoutOwnerActivatesNothingAndStartsNothing) {
  const Window lone = x_->Create("GIS Quorvel", true);
  const Window other = x_->Create("Someone else", true);
  ASSERT_TRUE(gistest::WaitFor([&] { return x_->WmState(lone) == NormalState; }));
  platform::BringWindowToForeground(other);
  ASSERT_TRUE(gistest::WaitFor([&] { return x_->ActiveWindow() == other; }));
  EXPECT_NO_THROW(tclib::LaunchOrActivate(base::FromUtf8((dir_.path() / "missing.exe").string()),
                                          u"", u"GIS Quorvel"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(x_->ActiveWindow(), other);
}

}  // namespace
