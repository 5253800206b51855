// Fading a window out: the opacity steps, the end of the fade closing the
// window, and a delegate stopping it.
#include "host/ui/ZorvelWindow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <algorithm>

#include "UiTestSupport.h"

using namespace uitest;

namespace {

class Stopper : public FadeAwayDelegate {
 public:
  bool stop = false;
  int asked = 0;
  bool windowShouldCancelFadeAway(TWindow&) override {
    ++asked;
    return stop;
  }
};

struct FadeFixture : testing::Test {
  TWindow* window = nullptr;
  QPointer<QWidget> widget;
  void SetUp() override {
    EnsureFramework();
    auto owned = std::make_unique<ZORVEL_Window>();
    owned->MakeWidget(nullptr);
    window = TWindow::Adopt(std::move(owned));
    window->Resize(200, 100);
    window->Open();
    widget = window->GetWidget();
  }
  void TearDown() override {
    if (IsListed()) window->Close();
    QApplication::processEvents();
  }
  bool IsListed() const {
    const auto all = TWindow::AllWindows();
    return std::find(all.begin(), all.end(), window) != all.end();
  }
};

TEST_F(FadeFixture, EachStepLowersTheOpacityUntilTheWindowCloses) {
  EXPECT_TRUE(static_cast<ZORVEL_Window*>(window)->canBecomeKeyWindow());
  EXPECT_EQ(fadeAway(*window, 0.0), nullptr);
  EXPECT_EQ(fadeAway(*window, -1.0), nullptr);

  FadeAwayTimer* fade = fadeAway(*window, 60.0);
  ASSERT_NE(fade, nullptr);
  fade->Invalidate();  // the steps are driven by hand here
  EXPECT_EQ(fade->IntervalMs(), 50);
  for (int i = 0; i < 3; ++i) fadeAwayCallback(*window, *fade);
  EXPECT_NEAR(widget->windowOpacity(), 0.7, 0.01);
  EXPECT_TRUE(IsListed());

  // Once the time is up the window closes whatever its opacity.
  fade->endTime = std::chrono::steady_clock::now() - std::chrono::seconds(1);
  fadeAwayCallback(*window, *fade);
  EXPECT_FALSE(IsListed());
  EXPECT_NEAR(widget->windowOpacity(), 0.7, 0.01);
}

TEST_F(FadeFixture, TheTimerRunsTheFadeToTheEnd) {
  FadeAwayTimer* fade = fadeAway(*window);
  ASSERT_NE(fade, nullptr);
  EXPECT_TRUE(fade->IsValid());
  // Ten steps of 0.1 reach 0 within the second (or the second runs out):
  // either way the window ends closed and freed.
  EXPECT_TRUE(QTest::qWaitFor([&] { return !IsListed(); }, 10000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return widget.isNull(); }, 5000));
}

TEST_F(FadeFixture, ADelegateStopsTheFadeAndTheWindowStays) {
  Stopper stopper;
  FadeAwayTimer* fade = fadeAway(*window, 60.0, &stopper);
  ASSERT_NE(fade, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return stopper.asked >= 2; }, 10000));
  stopper.stop = true;
  const double before = widget->windowOpacity();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !fade->IsValid(); }, 10000));
  EXPECT_LT(before, 1.0);
  EXPECT_NEAR(widget->windowOpacity(), before, 0.01);
  EXPECT_TRUE(IsListed());
  EXPECT_TRUE(widget->isVisible());
}

}  // namespace
