#include "app/PrintCountWindow.h"

#include <cstdio>
#include <optional>
#include <system_error>

#include <unistd.h>

#include "host/files/FileOps.h"
#include "host/files/FinderInfo.h"
#include "host/ui/Alerts.h"
#include "host/ui/Controls.h"
#include "host/ui/SaveDialog.h"
#include "host/ui/ViewServer.h"
#include "platform/FileServices.h"
#include "platform/Log.h"
#include "platform/Messages.h"
#include "platform/PStrings.h"
#include "platform/StringLists.h"

namespace app {

namespace fs = std::filesystem;

namespace {

constexpr int64_t kDay = 86400;
constexpr int kCountFileColumns = 7;
constexpr int kDictionaryColumns = 8;
constexpr IDType kDate = FourCC("date"), kDatt = FourCC("datt"), kDat1 = FourCC("dat1"), kDat2 = FourCC("dat2"),
                 kRset = FourCC("rset"), kStri = FourCC("stri"), kOK = FourCC("ok  ");
constexpr int16_t kResetAlert = 1063;
constexpr int16_t kDateDialog = 2156;
constexpr int16_t kExportView = 1150;

IDType FieldID(int row, int column) {
  // "r11" names the view 'r11 ' (names are padded with spaces).
  return (IDType('r') << 24) | (IDType('0' + row) << 16) | (IDType('0' + column) << 8) | IDType(' ');
}

void RegisterResetAlert() {
  host::AlertDef alert;
  alert.id = kResetAlert;
  alert.text = "Reset the all-time print counts of both stations to zero?";
  alert.buttons = {{1, "Cancel"}, {3, "Reset"}};
  alert.defaultItem = 1;
  alert.caution = true;
  host::RegisterAlert(alert);
}

}  // namespace

std::array<int32_t, 7> CountColumns(const output::tPrintQuantityInfo& r) {
  return {r.regular, r.printToFile, r.kind5, r.kind2, r.kind7, r.chooser, r.kind6};
}

std::optional<output::LongDateTime> ParseDayText(const std::string& text) {
  int m = 0, d = 0, y = 0;
  char s1 = 0, s2 = 0;
  if (std::sscanf(text.c_str(), "%d%c%d%c%d", &m, &s1, &d, &s2, &y) != 5) return std::nullopt;
  if ((s1 != '-' && s1 != '/') || s1 != s2 || m < 1 || m > 12 || d < 1 || d > 31 || y < 1904 || y > 9999)
    return std::nullopt;
  return output::LongDateTimeOfDay(y, m, d);
}

TPrintCountWindow::~TPrintCountWindow() { SetIdleFreq(kMaxIdleTime); }

void TPrintCountWindow::DoPostCreate() {
  TWindow::DoPostCreate();
  resetShown_ = true;
  today_ = shownDay_ = output::LongDateTimeNow();
  ShowDay(shownDay_);
  Initialize();
  SetIdleFreq(15);
}

void TPrintCountWindow::SetField(int row, int column, int64_t value) {
  if (auto* field = FindSubView<TStaticText>(FieldID(row, column)))
    field->SetText(CStr255_AC(std::to_string(value)), true);
}

int64_t TPrintCountWindow::Field(int row, int column) const {
  const auto* field = FindSubView<TStaticText>(FieldID(row, column));
  return field ? std::strtoll(field->GetText().ToUTF8().c_str(), nullptr, 10) : 0;
}

void TPrintCountWindow::FillRow(int row, const output::tPrintQuantityInfo& record) {
  const auto columns = CountColumns(record);
  for (int c = 0; c < kCountFileColumns; ++c) SetField(row, c + 1, columns[size_t(c)]);
}

std::string TPrintCountWindow::DayText(IDType id) const {
  const auto* field = FindSubView<TStaticText>(id);
  return field ? field->GetText().ToUTF8() : std::string();
}

void TPrintCountWindow::Initialize() {
  if (auto* date = FindSubView<TStaticText>(kDate)) date->SetText(getCurrentDateString(1));
  for (int r = 1; r <= 6; ++r)
    for (int c = 1; c <= kDictionaryColumns; ++c) SetField(r, c, 0);
  std::array<output::tPrintQuantityInfo, 4> records;  // X today, Processor today, X all, Processor all
  output::getPrintCount(&records[0], false, true);
  output::getPrintCount(&records[1], true, true);
  output::getPrintCount(&records[2], false, false);
  output::getPrintCount(&records[3], true, false);
  for (int i = 0; i < 4; ++i) FillRow(i + 1, records[size_t(i)]);
  const auto t0 = CountColumns(records[0]), t1 = CountColumns(records[1]);
  const auto a0 = CountColumns(records[2]), a1 = CountColumns(records[3]);
  for (int c = 0; c < kCountFileColumns; ++c) {
    SetField(5, c + 1, int64_t(t0[size_t(c)]) + t1[size_t(c)]);
    SetField(6, c + 1, int64_t(a0[size_t(c)]) + a1[size_t(c)]);
  }
}

void TPrintCountWindow::ShowDay(output::LongDateTime day) {
  shownDay_ = day;
  if (auto* field = FindSubView<TStaticText>(kDatt)) field->SetText(CStr255_AC(output::CountFileDayString(day)));
  SetNewDate(day);
}

void TPrintCountWindow::SetNewDate(output::LongDateTime day) {
  const std::string date = output::CountFileDayString(day);
  output::tPrintQuantityInfo x, processor;
  output::getPrintCountForSpecificDay(&x, date, false);
  output::getPrintCountForSpecificDay(&processor, date, true);
  FillRow(7, x);
  FillRow(8, processor);
  const auto cx = CountColumns(x), cp = CountColumns(processor);
  for (int c = 0; c < kCountFileColumns; ++c) SetField(9, c + 1, int64_t(cx[size_t(c)]) + cp[size_t(c)]);
  Update();
}

void TPrintCountWindow::ShowDateTotals(output::LongDateTime start, output::LongDateTime end) {
  std::array<int64_t, 7> sumX{}, sumP{};
  for (output::LongDateTime day = start; day <= end; day += kDay) {
    const std::string date = output::CountFileDayString(day);
    output::tPrintQuantityInfo x, processor;
    output::getPrintCountForSpecificDay(&x, date, false);
    output::getPrintCountForSpecificDay(&processor, date, true);
    const auto cx = CountColumns(x), cp = CountColumns(processor);
    for (size_t c = 0; c < 7; ++c) {
      sumX[c] += cx[c];
      sumP[c] += cp[c];
    }
  }
  for (int c = 0; c < kCountFileColumns; ++c) {
    SetField(7, c + 1, sumX[size_t(c)]);
    SetField(8, c + 1, sumP[size_t(c)]);
    SetField(9, c + 1, sumX[size_t(c)] + sumP[size_t(c)]);
  }
}

void TPrintCountWindow::SetDateTotals(output::LongDateTime start, output::LongDateTime end) {
  auto ask = [](const char* prompt, output::LongDateTime day) -> std::optional<output::LongDateTime> {
    TWindow* dialog = NewTemplateWindow(kDateDialog);
    if (!dialog) return std::nullopt;
    if (prompt)
      if (auto* label = dialog->FindSubView<TStaticText>(kStri)) label->SetText(CStr255_AC(prompt));
    if (auto* field = dialog->FindSubView<TStaticText>(kDat1))
      field->SetText(CStr255_AC(output::CountFileDayString(day)));
    const IDType answer = dialog->PoseModally();
    std::optional<output::LongDateTime> chosen;
    if (answer == kOK)
      if (auto* field = dialog->FindSubView<TStaticText>(kDat1)) chosen = ParseDayText(field->GetText().ToUTF8());
    dialog->Close();
    return chosen;
  };
  const auto first = ask(nullptr, start);
  if (!first) return;
  const auto last = ask("Ending Date", end);
  if (!last) return;
  ShowDateTotals(*first, *last);
}

void TPrintCountWindow::SetDateTotals2() {
  const auto first = ParseDayText(DayText(kDat1));
  const auto last = ParseDayText(DayText(kDat2));
  std::array<std::array<int64_t, 8>, 2> sums{};
  const fs::path folder = output::PrintCountFolder();
  if (first && last && !folder.empty()) {
    for (output::LongDateTime day = *first; day <= *last; day += kDay) {
      for (int station = 0; station < 2; ++station) {
        const bool isX = station == 0;
        if (!output::doesFileExistsAtPath(folder, day, isX)) continue;
        auto o = output::printCountInfoObject::initWithLongDateTime(folder, day, isX);
        if (!o) continue;
        const int64_t values[8] = {o->getRegularPrintCount(), o->getPrintToFileCount(), o->getUSBFlashCount(),
                                   o->getCDCount(),          o->getCDWriteCount(),     o->getChooserCount(),
                                   o->getSaveAsCompCount(),  o->getUSBCount()};
        for (size_t c = 0; c < 8; ++c)
          sums[size_t(station)][c] = output::SaturatingAdd64(sums[size_t(station)][c], values[c]);
      }
    }
  }
  for (int c = 0; c < kDictionaryColumns; ++c) {
    SetField(3, c + 1, sums[0][size_t(c)]);
    SetField(4, c + 1, sums[1][size_t(c)]);
    SetField(6, c + 1, output::SaturatingAdd64(sums[0][size_t(c)], sums[1][size_t(c)]));
  }
}

void TPrintCountWindow::ResetAllTimeCounts() {
  const output::tPrintQuantityInfo zero;
  output::setPrintCount(&zero, false, false);
  output::setPrintCount(&zero, true, false);
  for (int r : {3, 4, 6})
    for (int c = 1; c <= kCountFileColumns; ++c) SetField(r, c, 0);
}

bool TPrintCountWindow::WriteReport(bool station, const fs::path& file) {
  output::tPrintQuantityInfo all, today;
  if (output::getPrintCount(&all, station, false) != 0 || output::getPrintCount(&today, station, true) != 0) {
    DisplayNormalMessage(kCountReadErrorMessage);
    return false;
  }
  const std::string date = getCurrentDateString(2).ToUTF8();
  std::string text;
  for (int printer = 1; printer <= 58; ++printer) {
    for (int canvas = 1; canvas <= 40; ++canvas) {
      const int32_t total = all.Cell(printer, canvas);
      if (total == 0) continue;
      text += date + "\t" + GetIndString(kPrinterNameStrings, int16_t(printer)).ToUTF8() + "\t\t" +
              std::to_string(today.Cell(printer, canvas)) + "\t" + std::to_string(total) + "\r";
    }
  }
  if (const OSErr err = host::WriteFileAtomically(file.string(), text.data(), text.size(), 0666, true); err != noErr) {
    // The operator asked for the report and is told that there is none.
    std::error_code ec;
    const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    const std::string why = !fs::is_directory(folder, ec)    ? "its folder does not exist"
                            : access(folder.c_str(), W_OK) != 0 ? "its folder cannot be written"
                                                                : "error " + std::to_string(err);
    const std::string message = "The statistics report could not be written to \"" + file.string() + "\": " + why + ".";
    platform::LogLine(message);
    DisplayNormalMessage(message);
    return false;
  }
  host::FinderInfo info;
  info.type = FourCC("TEXT");
  info.creator = FourCC("ZRVb");
  host::SetFinderInfo(file.string(), info);
  setPermission(file.c_str(), 0666);
  return true;
}

void TPrintCountWindow::createReport(bool station) {
  const std::string name = getCurrentDateString(2).ToUTF8() + (station ? " - Processor" : " - Kivo-X");
  output::tPrintQuantityInfo probe;
  if (output::getPrintCount(&probe, station, false) != 0 || output::getPrintCount(&probe, station, true) != 0) {
    DisplayNormalMessage(kCountReadErrorMessage);
    return;
  }
  const auto chosen = host::ChooseSaveFile("Save", output::PrintCountFolder().string(), name);
  if (!chosen) return;
  WriteReport(station, *chosen);
}

void TPrintCountWindow::DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) {
  auto* view = dynamic_cast<TView*>(source);
  const IDType id = view ? view->GetIdentifier() : kNoIdentifier;
  switch (id) {
    case FourCC("rset"):
      if (MacAppAlert(kResetAlert) == 3) ResetAllTimeCounts();
      return;
    case FourCC("rprt"): createReport(false); return;
    case FourCC("rpr2"): createReport(true); return;
    case FourCC("next"):
      if (today_ >= shownDay_ + kDay) ShowDay(shownDay_ + kDay);
      return;
    case FourCC("prev"): ShowDay(shownDay_ - kDay); return;
    case FourCC("show"):
      if (const auto day = ParseDayText(DayText(kDatt))) ShowDay(*day);
      return;
    case FourCC("rang"): SetDateTotals(today_, today_); return;
    case FourCC("doto"): SetDateTotals2(); return;
    case FourCC("expt"):
      if (TWindow* w = NewTemplateWindow(kExportView)) {
        w->PoseModally();
        w->Close();
      }
      return;
    default: TWindow::DoEvent(eventNumber, source, event); return;
  }
}

bool TPrintCountWindow::DoIdle(IdlePhase phase) {
  if (phase != idleContinue) return false;
  const bool show = !host::AnyModifierKeyDown();
  if (show != resetShown_) {
    if (auto* button = FindSubView(kRset)) button->Show(show, true);
    resetShown_ = show;
  }
  return false;
}

void RegisterPrintCountWindowClasses() {
  host::RegisterViewClass<TPrintCountWindow>("TPrintCountWindow");
  RegisterResetAlert();
}

}  // namespace app
