// The program's windows as a user sees them: every control inside its
// window and every text inside its control at the default font, the clear popup of the status window opened by
// press-and-hold, the job list's scroller dropping the selection, and the
// thumbnail of a job drawn from the job's own preview picture.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QTest>

#include <QListView>
#include <QMenu>
#include <QTimer>
#include <QScreen>
#include <signal.h>
#include <sys/wait.h>
#include <xcb/xcb.h>

#include "../AppTestSupport.h"
#include "common/MenuClicks.h"
#include "common/Spawn.h"
#include "app/AboutWindow.h"
#include "app/NewAboutBoxController.h"
#include "app/AppServices.h"
#include "app/PrintBGBehavior.h"
#include "app/StatusWindow.h"
#include "host/files/ResourceFork.h"
#include "host/qd/GWorld.h"
#include "host/ui/Controls.h"
#include "host/ui/ViewServer.h"
#include "host/ui/Widgets.h"
#include "host/ui/WindowActivation.h"
#include "imaging/ImageWriters.h"
#include "platform/ProgramVersion.h"
#include "prefs/PreferencesWindow.h"

using namespace app;
using namespace apptest;

namespace {

TBackgroundPrintApp* gApp = nullptr;
fs::path gBase;

// What the screen showed of the start-up splash while start-up ran: the
// largest share of non-black pixels of any grab, and the status line then.
struct SplashSeen {
  int grabs = 0;
  double bestLitShare = 0;
  std::string statusAtBest;
  bool closedAtEnd = false;
};
SplashSeen gSplash;

TWindow* SplashWindow() {
  for (TWindow* w : TWindow::AllWindows())
    if (dynamic_cast<TAboutWindow*>(w) && w->IsShown()) return w;
  return nullptr;
}

// Grabs the splash as the screen shows it (the window's backing store on the
// offscreen platform), each time start-up lets timers run.
void GrabSplash() {
  TWindow* splash = SplashWindow();
  if (!splash) return;
  QWidget* w = splash->GetWidget();
  const QImage shot = w->screen()->grabWindow(w->winId()).toImage();
  if (shot.isNull()) return;
  ++gSplash.grabs;
  int lit = 0;
  for (int y = 0; y < shot.height(); ++y)
    for (int x = 0; x < shot.width(); ++x) lit += qGray(shot.pixel(x, y)) > 16;
  const double share = double(lit) / std::max(1, shot.width() * shot.height());
  if (share > gSplash.bestLitShare) {
    gSplash.bestLitShare = share;
    if (auto* stat = splash->FindSubView<TStaticText>(FourCC("stat"))) gSplash.statusAtBest = stat->GetText().ToUTF8();
  }
}

class WindowsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gBase = MakeTempFolder("windows");
    UseFolders(gBase);
    static char name[] = "test_app_windows";
    static char* argv[] = {name, nullptr};
    host::InitFramework(1, argv);
    InstallAppResources();
    host::SetAlertHook([](int16_t id, const std::string&) { return int16_t(id == 1002 ? 2 : 1); });
    gApp = new TBackgroundPrintApp(StartupOptions{.setupLogs = false});
    QTimer grabber;
    grabber.setInterval(0);
    QObject::connect(&grabber, &QTimer::timeout, [] { GrabSplash(); });
    grabber.start();
    ASSERT_TRUE(gApp->IBackgroundPrintApp());
    grabber.stop();
    gSplash.closedAtEnd = SplashWindow() == nullptr;
    ASSERT_TRUE(gApp->DoMenuCommand(cStartUp));
  }
  static void TearDownTestSuite() {
    delete gApp;
    gApp = nullptr;
    std::error_code ec;
    fs::remove_all(gBase, ec);
  }
  void SetUp() override {
    GetPrintBGBehavior()->EnableBackgroundPrinting(false);
    alerts_.clear();
    host::SetAlertHook([this](int16_t id, const std::string& text) {
      alerts_.emplace_back(id, text);
      return int16_t(id == 1002 ? 2 : 1);  // clearing cancelled, messages acknowledged
    });
  }
  TWindow* Status() { return GetPrintBGBehavior()->GetStatusWindow(); }
  static fs::path Jobs() { return gSpoolFolders().jobs; }
  void Rescan() {
    pipeline::gJobFileList->ResetLastModDate();
    GetPrintBGBehavior()->Services().CheckForNewJobs();
  }
  std::vector<std::pair<int16_t, std::string>> alerts_;
};

// A job file whose resource fork holds a preview: 'pnot' 0 names 'PICT' 128,
// a picture of `w` x `h` in one colour.
void WriteJobWithPreview(const fs::path& file, std::array<uint8_t, 3> rgb, int w, int h) {
  TouchFile(file, 10, "job bytes");
  auto image = host::GWorld::Create(CLongRect_AC(0, 0, h, w));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = image->scanline(y) + 4 * x;
      p[1] = rgb[0];
      p[2] = rgb[1];
      p[3] = rgb[2];
    }
  std::vector<uint8_t> pict = imaging::BuildPict(*image, 72);
  pict.erase(pict.begin(), pict.begin() + 512);  // a resource has no file header
  std::vector<uint8_t> pnot(12, 0);
  pnot[10] = 0;
  pnot[11] = 128;
  host::ResourceMap map;
  map.Set(FourCC("pnot"), 0, "", pnot, false);
  map.Set(FourCC("PICT"), 128, "", pict, false);
  ASSERT_EQ(host::WriteResourceFork(file.string(), map), noErr);
  fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::seconds(10));
}

void ClickRow(TTextListView& list, int row) {
  auto* view = qobject_cast<QListView*>(list.GetWidget());
  const QRect r = view->visualRect(view->model()->index(row - 1, 0));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
  QApplication::processEvents();
}

// Every shown control lies inside its window, below the menu bar, and
// buttons are wide and tall enough for their titles.
void ExpectControlsInside(TWindow& window) {
  auto* main = qobject_cast<QMainWindow*>(window.GetWidget());
  ASSERT_NE(main, nullptr);
  main->show();
  QApplication::processEvents();
  const QRect inside = main->rect();
  const int top = main->menuWidget() && main->menuWidget()->isVisible() ? main->menuWidget()->geometry().bottom() : -1;
  for (QWidget* w : main->centralWidget()->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(main) || w->isWindow()) continue;
    const QRect r(w->mapTo(main, QPoint(0, 0)), w->size());
    EXPECT_TRUE(inside.contains(r)) << window.GetTitle().ToUTF8() << ": " << w->objectName().toStdString() << " at "
                                    << r.x() << "," << r.y() << " " << r.width() << "x" << r.height()
                                    << " outside " << inside.width() << "x" << inside.height();
    EXPECT_GT(r.top(), top) << w->objectName().toStdString() << " under the menu bar";
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      EXPECT_GE(b->width(), b->minimumSizeHint().width()) << b->text().toStdString();
      EXPECT_GE(b->height(), b->minimumSizeHint().height()) << b->text().toStdString();
    }
  }
}

// The texts of `window` that do not fit the view that shows them, one line
// each: labels (whole text, wrapped ones at their width), group titles,
// field contents and the chosen item of popups. The window is grabbed as
// drawn; with KIVO_WINDOW_GRABS set to a folder the grab is kept there as
// <name>.png for a look by eye.
std::vector<std::string> ClippedTexts(QWidget* window, const std::string& name) {
  window->show();
  QApplication::processEvents();
  const QImage grab = window->grab().toImage();
  if (const char* folder = getenv("KIVO_WINDOW_GRABS"); folder && *folder) {
    fs::create_directories(folder);
    grab.save(QString::fromStdString((fs::path(folder) / (name + ".png")).string()));
  }
  std::vector<std::string> clipped;
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(window) || w->isWindow()) continue;
    const QSize has = w->size();
    QSize needs;
    QString text;
    if (auto* label = qobject_cast<QLabel*>(w)) {
      text = label->text();
      if (text.isEmpty()) continue;
      needs = label->wordWrap() ? QSize(label->minimumSizeHint().width(), label->heightForWidth(has.width()))
                                : label->sizeHint();
    } else if (auto* box = qobject_cast<QGroupBox*>(w)) {
      text = box->title();
      if (text.isEmpty()) continue;
      needs = QSize(box->minimumSizeHint().width(), 0);
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      text = edit->text();
      if (text.isEmpty()) continue;
      // The text, its margins and the frame the style draws around it.
      const QMargins m = edit->textMargins();
      needs = QSize(edit->fontMetrics().horizontalAdvance(text) + m.left() + m.right() + 8, 0);
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
      text = combo->currentText();
      if (text.isEmpty()) continue;
      QStyleOptionComboBox option;
      option.initFrom(combo);
      needs = combo->style()->sizeFromContents(
          QStyle::CT_ComboBox, &option, QSize(combo->fontMetrics().horizontalAdvance(text), 0), combo);
      needs.setHeight(0);
    } else {
      continue;
    }
    if (needs.width() > has.width() || needs.height() > has.height())
      clipped.push_back(name + ": '" + w->objectName().toStdString() + "' (\"" + text.toStdString() + "\") needs " +
                        std::to_string(needs.width()) + "x" + std::to_string(needs.height()) + ", has " +
                        std::to_string(has.width()) + "x" + std::to_string(has.height()));
  }
  return clipped;
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

TEST_F(WindowsTest, EveryTextFitsItsViewInEveryWindowAndPanel) {
  // The status window with the texts a job puts there.
  TPrintBGBehavior* c = GetPrintBGBehavior();
  c->EnableBackgroundPrinting(false);
  c->SetPrinterAndTemplate(28, "Wedding Package Template", "Deluxe Package");
  c->SetJobFileName("Order 0001 Portrait.trpr");
  std::vector<std::string> clipped = ClippedTexts(Status()->GetWidget(), "1001 status");
  c->SetPrinterAndTemplate(0, "", "");
  c->SetJobFileName("");

  for (int16_t id : {int16_t(1004), int16_t(1005), int16_t(1007), int16_t(1023), int16_t(1150), int16_t(1701),
                     int16_t(2156), int16_t(9002), int16_t(9003)}) {
    TWindow* w = NewTemplateWindow(id);
    if (!w) {
      clipped.push_back(std::to_string(id) + ": the window could not be made");
      continue;
    }
    const std::vector<std::string> more = ClippedTexts(w->GetWidget(), std::to_string(id));
    clipped.insert(clipped.end(), more.begin(), more.end());
    w->Close();
  }

  if (TWindow* about = NewTemplateWindow(std::string(kNewAboutBoxNib))) {
    const std::vector<std::string> more = ClippedTexts(about->GetWidget(), "about-box controller");
    clipped.insert(clipped.end(), more.begin(), more.end());
    about->Close();
  } else {
    clipped.push_back("about-box controller: the window could not be made");
  }

  // The preferences window with each of its panels, then without a category.
  host::SetModalHook([&](TWindow& w) -> IDType {
    auto* prefs = dynamic_cast<TPreferencesWindow*>(&w);
    if (!prefs) return kNoIdentifier;
    TToolboxEvent click;
    for (int16_t row = 1; row <= 6; ++row) {
      prefs->CategoryList()->DoMouseCommand(row, click);
      const std::vector<std::string> more =
          ClippedTexts(w.GetWidget(), "1002 preferences, " + prefs->CategoryList()->GetItemText(row).ToUTF8());
      clipped.insert(clipped.end(), more.begin(), more.end());
    }
    prefs->CategoryList()->PrepareView(0);
    const std::vector<std::string> more = ClippedTexts(w.GetWidget(), "1002 preferences, no category");
    clipped.insert(clipped.end(), more.begin(), more.end());
    return FourCC("canc");
  });
  EXPECT_TRUE(gApp->DoMenuCommand(cPreferences));
  host::SetModalHook({});
  EXPECT_TRUE(clipped.empty()) << Lines(clipped);
}

TEST_F(WindowsTest, StatusWindowShowsEveryControl) {
  ASSERT_NE(Status(), nullptr);
  ExpectControlsInside(*Status());
  // The bottom row in particular.
  for (IDType id : {FourCC("kivo"), FourCC("exit")}) {
    TView* v = Status()->FindSubView(id);
    ASSERT_NE(v, nullptr) << id;
    EXPECT_TRUE(v->GetWidget()->isVisibleTo(Status()->GetWidget())) << id;
  }
}

TEST_F(WindowsTest, OtherWindowsShowEveryControl) {
  for (int16_t id : {int16_t(1004), int16_t(1701), int16_t(9002)}) {
    TWindow* w = NewTemplateWindow(id);
    ASSERT_NE(w, nullptr) << id;
    ExpectControlsInside(*w);
    w->Close();
  }
  TWindow* about = NewTemplateWindow(std::string(kNewAboutBoxNib));
  ASSERT_NE(about, nullptr);
  ExpectControlsInside(*about);
  about->Close();
}

TEST_F(WindowsTest, ClickedJobShowsItsOwnPreviewPicture) {
  WriteJobWithPreview(Jobs() / "preview.trpr", {20, 160, 40}, 60, 40);
  TouchFile(Jobs() / "plain.trpr", 5);
  Rescan();
  auto* list = Status()->FindSubView<TJobsListView>(FourCC("jobs"));
  auto* pict = Status()->FindSubView<TPrintPreview>(FourCC("pict"));
  ASSERT_TRUE(list && pict);
  ASSERT_EQ(list->GetNumRows(), 2);
  const int previewRow = list->GetItemText(1).ToUTF8() == "preview.trpr" ? 1 : 2;
  Status()->GetWidget()->show();
  QApplication::processEvents();

  ClickRow(*list, previewRow);
  ASSERT_TRUE(pict->HasPicture());
  const QImage shown = pict->GetWidget()->grab().toImage();
  const QRgb centre = shown.pixel(shown.width() / 2, shown.height() / 2);
  EXPECT_EQ(qRed(centre), 20);
  EXPECT_EQ(qGreen(centre), 160);
  EXPECT_EQ(qBlue(centre), 40);
  // The 3-D frame is drawn over the preview's edge.
  EXPECT_EQ(qGray(shown.pixel(0, shown.height() / 2)), 144);

  // A job without a preview clears it.
  ClickRow(*list, 3 - previewRow);
  EXPECT_FALSE(pict->HasPicture());
  for (const char* name : {"preview.trpr", "._preview.trpr", "plain.trpr"}) fs::remove(Jobs() / name);
  Rescan();
}

TEST_F(WindowsTest, HoldingClearAllOffersTheFolderPopup) {
  auto* button = Status()->FindSubView<TPopupButton>(FourCC("file"));
  auto* popup = Status()->FindSubView<TFloatingPopup>(FourCC("pop1"));
  ASSERT_TRUE(button && popup);
  EXPECT_FALSE(popup->IsShown());
  Status()->GetWidget()->show();
  QApplication::processEvents();
  // Choose "Unknown Jobs Folder" (item 5: clear that folder) once the menu opens.
  auto menu = ChooseInNextMenu("Unknown Jobs Folder");
  QTest::mousePress(button->GetWidget(), Qt::LeftButton, {}, QPoint(20, 10));
  ASSERT_TRUE(QTest::qWaitFor([&] { return menu->opened; }, 5000));
  QTest::mouseRelease(button->GetWidget(), Qt::LeftButton, {}, QPoint(20, 10));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !alerts_.empty(); }, 5000));
  // The confirmation of clearing the unknown-jobs folder, not of all folders.
  EXPECT_EQ(alerts_.front().first, 1002);
  EXPECT_NE(alerts_.front().second.find("UNKNOWN JOBS FOLDER"), std::string::npos) << alerts_.front().second;
  QTest::qWait(20);
  EXPECT_FALSE(popup->IsShown());
}

// A stand-in xdg-open first on PATH while it lives: each address it is asked
// to open is one line of its record.
class StandInOpener {
 public:
  StandInOpener() : dir_(MakeTempFolder("opener")) {
    record_ = dir_ / "opened";
    std::ofstream(dir_ / "xdg-open") << "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" << record_.string() << "'\n";
    fs::permissions(dir_ / "xdg-open", fs::perms::owner_all);
    const char* path = getenv("PATH");
    oldPath_ = path ? path : "";
    setenv("PATH", (dir_.string() + ":" + oldPath_).c_str(), 1);
  }
  ~StandInOpener() {
    setenv("PATH", oldPath_.c_str(), 1);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::vector<std::string> Opened() const {
    std::ifstream in(record_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  bool WaitFor(size_t count) {
    return QTest::qWaitFor([&] { return Opened().size() >= count; }, 5000);
  }

 private:
  fs::path dir_, record_;
  std::string oldPath_;
};

std::string PercentDecoded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += char(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The decoded parts of a mailto address: recipient, subject, body.
std::array<std::string, 3> MailParts(const std::string& url) {
  const size_t q = url.find("?subject="), b = url.find("&body=");
  if (url.rfind("mailto:", 0) != 0 || q == std::string::npos || b == std::string::npos) return {};
  return {PercentDecoded(url.substr(7, q - 7)), PercentDecoded(url.substr(q + 9, b - q - 9)),
          PercentDecoded(url.substr(b + 6))};
}

TEST_F(WindowsTest, AboutBoxControllerComposesTheSupportAndSalesMails) {
  StandInOpener opener;
  NewAboutBoxController* c = NewAboutBoxController::controller();
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(alerts_.empty()) << alerts_.front().second;
  auto* bar = c->FindSubView<TProgressBar>(FourCC("prog"));
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->GetMaximum(), 100) << "the factory default";
  EXPECT_TRUE(c->FindSubView<TPictureView>(FourCC("logo"))->HasPicture());
  c->startIndicatorWithMessage("Looking for updates");
  EXPECT_TRUE(bar->IsIndeterminate());
  EXPECT_EQ(c->FindSubView<TStaticText>(FourCC("stat"))->GetText().ToUTF8(), "Looking for updates");
  c->stopIndicatorWithMessage();
  EXPECT_FALSE(bar->IsIndeterminate());
  EXPECT_EQ(c->StatusMessage(), "");
  EXPECT_TRUE(c->DoKeyEvent(3)) << "Control-C is swallowed";
  EXPECT_FALSE(c->DoKeyEvent('c'));

  const std::string product = "\nProduct Name: Kivo-Processor\nVersion: " + GetSoftwareVersion().ToUTF8();
  c->FindSubView<TButton>(FourCC("supp"))->Press();
  ASSERT_TRUE(opener.WaitFor(1));
  const auto support = MailParts(opener.Opened()[0]);
  EXPECT_EQ(support[0], "support@kivo.example.org") << opener.Opened()[0];
  EXPECT_EQ(support[1], "Support request" + product);
  EXPECT_EQ(support[2].rfind("Support request" + product + "\n\nThe station's system is described below.", 0), 0u)
      << support[2];
  EXPECT_NE(support[2].find(" foundation ("), std::string::npos) << "the system's description" << support[2];

  c->FindSubView<TButton>(FourCC("sale"))->Press();
  ASSERT_TRUE(opener.WaitFor(2));
  const auto sales = MailParts(opener.Opened()[1]);
  EXPECT_EQ(sales[0], "sales@kivo.example.org");
  EXPECT_EQ(sales[1], "Sales enquiry" + product);
  EXPECT_EQ(sales[2].find(" foundation ("), std::string::npos) << "no system description for sales";

  c->FindSubView<TButton>(FourCC("updt"))->Press();
  ASSERT_TRUE(opener.WaitFor(3));
  EXPECT_EQ(opener.Opened()[2], kMakerWebSite);
  EXPECT_FALSE(c->sendEmailForm("ForNobody"));

  // As a sheet: it ends when a dismiss button closes it.
  bool ended = false;
  c->beginSheetModalForWindow(Status(), [&] { ended = true; });
  EXPECT_TRUE(c->IsShown());
  c->FindSubView<TButton>(FourCC("dis1"))->Press();
  EXPECT_TRUE(ended);
  QTest::qWait(50);
  EXPECT_EQ(opener.Opened().size(), 3u);
}

TEST_F(WindowsTest, ClickOnThePathOffersItsFoldersAndOpensTheChosenOne) {
  StandInOpener opener;
  auto* window = dynamic_cast<TBackgroundPrintWindow*>(Status());
  ASSERT_NE(window, nullptr);
  const std::vector<fs::path> folders = window->PathFolders();
  ASSERT_GE(folders.size(), 3u);
  EXPECT_EQ(folders[0], Jobs());
  EXPECT_EQ(folders[1], Jobs().parent_path());
  EXPECT_EQ(folders.back(), fs::path("/"));
  Status()->GetWidget()->show();
  QApplication::processEvents();
  auto* path = window->FindSubView<TButton>(FourCC("path"));
  ASSERT_NE(path, nullptr);

  // The spool root, the second item, opens in the file manager.
  auto menu = ChooseInNextMenu(QString::fromStdString(folders[1].filename().string()));
  path->Press();
  ASSERT_TRUE(QTest::qWaitFor([&] { return menu->opened; }, 5000));
  ASSERT_TRUE(opener.WaitFor(1));
  EXPECT_EQ(opener.Opened(), std::vector<std::string>{folders[1].string()});

  // The first item is the folder the window stands for: nothing more opens.
  auto first = ChooseInNextMenu(QString::fromStdString(folders[0].filename().string()));
  path->Press();
  ASSERT_TRUE(QTest::qWaitFor([&] { return first->opened; }, 5000));
  QTest::qWait(300);
  EXPECT_EQ(opener.Opened().size(), 1u);
}

TEST_F(WindowsTest, SplashIsDrawnDuringStartUpAndStaysLongEnoughToBeRead) {
  // Start-up drew the splash while it created the spool folder: the screen
  // showed it, not a black window.
  ASSERT_GT(gSplash.grabs, 0);
  EXPECT_GT(gSplash.bestLitShare, 0.5);
  EXPECT_NE(gSplash.statusAtBest, "");
  if (host::IsUnattended()) {
    EXPECT_TRUE(gSplash.closedAtEnd) << "nobody reads it: it goes with start-up";
  } else {
    // A quick start-up leaves it up a little longer, then it goes.
    EXPECT_TRUE(QTest::qWaitFor([] { return SplashWindow() == nullptr; }, 5000));
  }
}

TEST_F(WindowsTest, SplashStatusLine) {
  TWindow* shown = ShowStartUpSplash();
  ASSERT_NE(shown, nullptr);
  EXPECT_TRUE(shown->IsShown());
  CloseStartUpSplash(shown);
  TWindow* splash = NewTemplateWindow(1701);
  ASSERT_NE(splash, nullptr);
  auto* stat = splash->FindSubView<TStaticText>(FourCC("stat"));
  ASSERT_NE(stat, nullptr);
  MyStartUpSplashWindowUpdateStatus(splash, "Creating Folder - IMAGES FOLDER");
  EXPECT_EQ(stat->GetText().ToUTF8(), "Creating Folder - IMAGES FOLDER");
  MyStartUpSplashWindowUpdateStatus(splash, "");
  MyStartUpSplashWindowUpdateStatus(nullptr, "ignored");
  EXPECT_EQ(stat->GetText().ToUTF8(), "Creating Folder - IMAGES FOLDER");
  splash->Close();
}

TEST_F(WindowsTest, AboutAndStatusWindowsShowTheBuildsVersion) {
  const std::string version = platform::ProgramVersion();
  EXPECT_EQ(GetSoftwareVersion().ToUTF8(), version);
  TWindow* about = NewTemplateWindow(1701);
  ASSERT_NE(about, nullptr);
  auto* line = about->FindSubView<TStaticText>(FourCC("txt2"));
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->GetText().ToUTF8(), "Version " + version);
  about->Close();
  EXPECT_EQ(Status()->FindSubView<TStaticText>(FourCC("vers"))->GetText().ToUTF8(), "Ver: " + version);
}

TEST_F(WindowsTest, StationApplicationFoundByItsProgramName) {
  // A name of this run's own (at most 15 characters, as the kernel keeps
  // them), so that the station of a suite running beside this one is not seen.
  const std::string name = "kst-" + std::to_string(getpid());
  SetStationProgramNameForTesting(name);
  ProcessSerialNumber psn{1, 1};
  EXPECT_EQ(MyFindProcessNew(FourCC("ZRVz"), FourCC("APPL"), &psn), procNotFound);
  EXPECT_EQ(psn.lowLongOfPSN, 0u);
  EXPECT_EQ(MyBringApplicationToFront(FourCC("ZRVz"), FourCC("APPL")), procNotFound);
  EXPECT_EQ(MyFindProcessNew(FourCC("ZRVz"), FourCC("TEXT"), &psn), procNotFound);

  const fs::path station = gBase / name;
  fs::copy_file("/bin/sleep", station);
  testing_support::SpawnOptions spawn;
  spawn.words = {station.string(), "30"};
  const pid_t pid = testing_support::SpawnProgram(spawn);
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return MyFindProcessNew(FourCC("ZRVz"), FourCC("APPL"), &psn) == noErr; }, 5000));
  EXPECT_EQ(psn.lowLongOfPSN, uint32_t(pid));
  EXPECT_EQ(MyBringApplicationToFront(FourCC("ZRVz"), FourCC("APPL")), noErr);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  SetStationProgramNameForTesting("kivo-station");
}

// Under X11 (the suite's Xvfb run) the window manager is asked, with the
// EWMH client message on the root window, to activate the program's window,
// found by its process id or its WM_CLASS; the test listens on the root
// window as a window manager would. Without X11 nobody can be asked: the
// operator hears a beep.
TEST_F(WindowsTest, BringingAProgramToTheFrontAsksTheWindowManager) {
  if (!host::HasX11()) {
    EXPECT_EQ(host::ActivateProgramWindow(getpid(), {"kivo-station"}), host::ActivationResult::kNoWindowSystem);
    testing::internal::CaptureStderr();
    MyBringFinderToFront();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Beep"), std::string::npos) << err;
    return;
  }
  xcb_connection_t* wm = xcb_connect(nullptr, nullptr);
  ASSERT_EQ(xcb_connection_has_error(wm), 0);
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(wm)).data->root;
  const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(wm, root, XCB_CW_EVENT_MASK, &mask);
  xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(wm, xcb_intern_atom(wm, 0, 18, "_NET_ACTIVE_WINDOW"), nullptr);
  ASSERT_NE(atom, nullptr);
  const xcb_atom_t activeAtom = atom->atom;
  free(atom);
  xcb_flush(wm);

  QWidget window;
  window.setWindowTitle("activation target");
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  const xcb_window_t id = xcb_window_t(window.winId());
  // The request the window manager received, if any, within five seconds.
  auto received = [&]() -> xcb_window_t {
    xcb_window_t seen = XCB_WINDOW_NONE;
    const bool any = QTest::qWaitFor([&] {
      while (xcb_generic_event_t* e = xcb_poll_for_event(wm)) {
        if ((e->response_type & 0x7F) == XCB_CLIENT_MESSAGE) {
          auto* m = reinterpret_cast<xcb_client_message_event_t*>(e);
          if (m->type == activeAtom) seen = m->window;
        }
        free(e);
      }
      return seen != XCB_WINDOW_NONE;
    }, 5000);
    return any ? seen : xcb_window_t(XCB_WINDOW_NONE);
  };

  // The process id a window carries.
  auto pidOf = [&](xcb_window_t w) -> int64_t {
    xcb_intern_atom_reply_t* a = xcb_intern_atom_reply(wm, xcb_intern_atom(wm, 0, 11, "_NET_WM_PID"), nullptr);
    if (!a) return -1;
    xcb_get_property_reply_t* p =
        xcb_get_property_reply(wm, xcb_get_property(wm, 0, w, a->atom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
    free(a);
    int64_t pid = -1;
    if (p && xcb_get_property_value_length(p) == 4) pid = *static_cast<uint32_t*>(xcb_get_property_value(p));
    free(p);
    return pid;
  };
  // Only this window of the process is on screen.
  std::vector<TWindow*> shown;
  for (TWindow* w : TWindow::AllWindows())
    if (w->IsShown()) {
      shown.push_back(w);
      w->Show(false);
    }
  QTest::qWait(50);
  EXPECT_EQ(host::ActivateProgramWindow(getpid(), {}), host::ActivationResult::kAsked);
  const xcb_window_t byPid = received();
  EXPECT_EQ(byPid, id) << "found by its process id";
  EXPECT_EQ(pidOf(byPid), int64_t(getpid()));
  const std::string instance = QCoreApplication::applicationName().toStdString();
  EXPECT_EQ(host::ActivateProgramWindow(0, {"no-such-program", instance}), host::ActivationResult::kAsked);
  EXPECT_NE(received(), xcb_window_t(XCB_WINDOW_NONE)) << "found by its WM_CLASS";
  EXPECT_EQ(host::ActivateProgramWindow(999999999, {"no-such-program"}), host::ActivationResult::kNoWindow);
  testing::internal::CaptureStderr();
  MyBringFinderToFront();  // no file manager runs under the test's X server
  EXPECT_NE(testing::internal::GetCapturedStderr().find("the file manager has no window"), std::string::npos);
  xcb_disconnect(wm);
  for (TWindow* w : shown) w->Show(true);
}

TEST_F(WindowsTest, ActivatingTheWindowLooksForNewJobs) {
  // Printing on (the idle scan then rests) but its runner held, so the job waits.
  TPrintBGBehavior* c = GetPrintBGBehavior();
  c->EnableBackgroundPrinting(true);
  c->Runner()->SetActive(false);
  auto* list = Status()->FindSubView<TJobsListView>(FourCC("jobs"));
  const int before = list->GetNumRows();
  TouchFile(Jobs() / "arrived.trpr", 10);
  pipeline::gJobFileList->ResetLastModDate();
  // The status window is made inactive only after the job arrived: the X
  // server's focus events of earlier tests may still activate it at any
  // moment, and an activation before the job was there would find nothing.
  // Going inactive looks for nothing.
  QWidget* other = new QWidget;
  other->show();
  QApplication::setActiveWindow(other);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Status()->GetWidget()->isActiveWindow(); }, 3000));
  Status()->GetWidget()->show();
  QApplication::setActiveWindow(Status()->GetWidget());
  auto listed = [&] {
    for (int16_t row = 1; row <= list->GetNumRows(); ++row)
      if (list->GetItemText(row).ToUTF8() == "arrived.trpr") return true;
    return false;
  };
  ASSERT_TRUE(QTest::qWaitFor([&] { return list->GetNumRows() == before + 1; }, 3000));
  EXPECT_TRUE(listed());
  delete other;
  c->EnableBackgroundPrinting(false);
  fs::remove(Jobs() / "arrived.trpr");
  Rescan();
}

}  // namespace
