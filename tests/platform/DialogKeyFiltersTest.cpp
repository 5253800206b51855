// The dialog key filters on a real dialog window, fed with synthesized key
// events: which keys become items, which are typed, and the password
// filter's memory and scrambling.
#include "platform/DialogKeyFilters.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <vector>

#include "MessageCapture.h"
#include "host/ui/QtTestApp.h"
#include "host/qd/GWorld.h"
#include "host/ui/Controls.h"
#include "host/ui/View.h"

namespace {

struct FilterFixture : testing::Test {
  TWindow* dialog = nullptr;
  TEditText* field = nullptr;
  std::vector<DialogItemIndex> items;

  void SetUp() override {
    kivotest::EnsureQtApp("test_platform");
    auto owned = std::make_unique<TWindow>();
    owned->MakeWidget(nullptr);
    dialog = TWindow::Adopt(std::move(owned));
    dialog->Resize(300, 100);
    auto text = std::make_unique<TEditText>();
    text->SetIdentifier(FourCC("pass"));
    field = static_cast<TEditText*>(dialog->AddSubView(std::move(text)));
    field->GetWidget()->setGeometry(10, 10, 200, 24);
    dialog->Open();
    QApplication::processEvents();
    gEnablePassword = 1;
    gScrambleText = 0;
    gStruckAKey = 0;
    gRealKeyChar = 0;
  }
  void TearDown() override {
    dialog->Close();
    QApplication::processEvents();
    gEnablePassword = 1;
    gScrambleText = 0;
  }
  void Install(ModalFilterProcPtr filter) {
    host::InstallModalFilter(*dialog, filter, [this](DialogItemIndex item) { items.push_back(item); });
  }
  QWidget* Field() const { return field->GetWidget(); }
  std::string Typed() const { return field->GetText().ToUTF8(); }
};

TEST_F(FilterFixture, GenericKeysBecomeItemsByModifierAndOthersAreTyped) {
  Install(filterGenericDialogKeys);
  QTest::keyClick(Field(), Qt::Key_Return);
  QTest::keyClick(Field(), Qt::Key_Enter);
  QTest::keyClick(Field(), Qt::Key_Tab);
  QTest::keyClick(Field(), Qt::Key_Escape);
  QTest::keyClick(Field(), Qt::Key_A);
  QTest::keyClick(Field(), Qt::Key_7, Qt::ControlModifier);
  QTest::keyClick(Field(), Qt::Key_B, Qt::AltModifier);
  QTest::keyClick(Field(), Qt::Key_C, Qt::MetaModifier);
  QTest::keyClick(Field(), Qt::Key_D, Qt::ControlModifier | Qt::AltModifier);
  QTest::keyClicks(Field(), "-.,");
  EXPECT_EQ(items, (std::vector<DialogItemIndex>{0x770D, 0x7703, 0x7709, 0x771B, 0x7700 + 'a', 0x7900 + '7',
                                                 0x7B00 + 'b', 0x7A00 + 'c', 0x7900 + 'd'}));
  EXPECT_EQ(Typed(), "-.,");
}

TEST_F(FilterFixture, PasswordKeysAreRememberedScrambledAndLimitedToLettersAndDigits) {
  Install(myBasicEventProc);
  QTest::keyClicks(Field(), "a1-B");
  EXPECT_EQ(Typed(), "a1B");
  EXPECT_EQ(gStruckAKey, 1);
  EXPECT_EQ(gRealKeyChar, 'B');
  EXPECT_TRUE(items.empty());

  gScrambleText = 1;
  QTest::keyClicks(Field(), "z9");
  EXPECT_EQ(Typed(), "a1B\xE2\x88\x86\xE2\x88\x86");  // two "∆"
  EXPECT_EQ(gRealKeyChar, '9');
  QTest::keyClick(Field(), Qt::Key_Backspace);  // editing keys still work
  EXPECT_EQ(Typed(), "a1B\xE2\x88\x86");
  QTest::keyClick(Field(), Qt::Key_Return);
  QTest::keyClick(Field(), Qt::Key_Escape);
  EXPECT_EQ(items, (std::vector<DialogItemIndex>{0x770D, 0x771B}));

  // With the password switch off the same procedure filters generically.
  gEnablePassword = 0;
  QTest::keyClick(Field(), Qt::Key_X);
  EXPECT_EQ(items.back(), 0x7700 + 'x');
  EXPECT_EQ(gRealKeyChar, '9');
  EXPECT_EQ(Typed(), "a1B\xE2\x88\x86");
}

TEST_F(FilterFixture, GenericEventFilterAnswersKeysNullUpdateAndDiskEvents) {
  Install(myGenericEventFilter);
  QTest::keyClick(Field(), Qt::Key_Return);
  QTest::keyClick(Field(), Qt::Key_Enter);
  QTest::keyClick(Field(), Qt::Key_Escape);
  QTest::keyClicks(Field(), "ok");
  EXPECT_EQ(items, (std::vector<DialogItemIndex>{1, 1, 2}));
  EXPECT_EQ(Typed(), "ok");

  // The dialog's port is current only during the call.
  auto offscreen = host::GWorld::Create(CLongRect_AC(0, 0, 10, 10));
  SetGWorld(offscreen.get());
  EventRecord idle;
  DialogItemIndex item = 0;
  EXPECT_TRUE(myGenericEventFilter(dialog, &idle, &item));
  EXPECT_EQ(item, 100);
  EXPECT_EQ(host::CurrentPort(), offscreen.get());
  EXPECT_EQ(host::CurrentWindowPort(), nullptr);
  SetGWorld(nullptr);

  EventRecord update;
  update.what = updateEvt;
  EXPECT_FALSE(myGenericEventFilter(dialog, &update, &item));

  MessageCapture messages;
  EventRecord disk;
  disk.what = diskEvt;
  disk.message = 0x00000001;
  item = 0;
  EXPECT_TRUE(myGenericEventFilter(dialog, &disk, &item));
  EXPECT_EQ(item, 101);
  EXPECT_TRUE(messages.texts.empty());
  disk.message = 0xFFC40001;  // an error in the high word
  EXPECT_TRUE(myGenericEventFilter(dialog, &disk, &item));
  ASSERT_EQ(messages.texts.size(), 2u);
  EXPECT_EQ(messages.texts[0], "Removed DIBadMount");
  EXPECT_EQ(messages.texts[1], "A disk could not be mounted.");
}

TEST(Ports, PortRectIsTheOffscreensBounds) {
  auto offscreen = host::GWorld::Create(CLongRect_AC(-5, 10, 95, 210));
  const CRect_AC r = myGetPortRect(offscreen.get());
  EXPECT_EQ(r, CRect_AC(-5, 10, 95, 210));
  EXPECT_EQ(myGetPortRect(nullptr), CRect_AC());
}

}  // namespace
