// The statistics window (view resource 1004, menu command 1351): the print
// counts of both stations in a grid of number fields 'rRC' — rows 1/2 today
// (sibling station, this program), 3/4 all time, 5 and 6 their sums, 7/8 a
// shown day or range and 9 its sum; columns the kinds 4, 3, 5, 2, 7, 1, 6 of
// the count files (and an eighth from the day dictionaries). It resets the
// all-time counts and writes a tab-separated report of one station.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

#include "host/ui/View.h"
#include "output/PrintCountInfo.h"
#include "output/PrintCounts.h"

namespace app {

inline constexpr int16_t kPrintCountWindowID = 1004;
inline constexpr char kCountReadErrorMessage[] = "An unexpected error occured in getPrintCount";

class TPrintCountWindow : public TWindow {
 public:
  ~TPrintCountWindow() override;
  void DoPostCreate() override;
  bool DoIdle(IdlePhase phase) override;
  void DoEvent(EventNumber eventNumber, TEventHandler* source, const TToolboxEvent* event) override;

  void Initialize();
  void SetNewDate(output::LongDateTime day);
  // Count-file totals of the days from start to end (asked for in dialog
  // 2156), into rows 7 to 9.
  void SetDateTotals(output::LongDateTime start, output::LongDateTime end);
  // The same without the dialogs.
  void ShowDateTotals(output::LongDateTime start, output::LongDateTime end);
  // Day-dictionary totals of the range 'dat1' to 'dat2', into rows 3, 4, 6.
  void SetDateTotals2();
  // Asks for the report file, then writes it.
  void createReport(bool station);
  // The report of station 1 (true) or 0 into `file`; false when the counts
  // could not be read or the file not written (the operator is told why).
  bool WriteReport(bool station, const std::filesystem::path& file);
  // Overwrites both stations' all-time files with zero records (alert 1063
  // answered with item 3).
  void ResetAllTimeCounts();

  int64_t Field(int row, int column) const;
  output::LongDateTime ShownDay() const { return shownDay_; }
  output::LongDateTime Today() const { return today_; }
  bool ResetButtonShown() const { return resetShown_; }

 private:
  void SetField(int row, int column, int64_t value);
  void FillRow(int row, const output::tPrintQuantityInfo& record);
  void ShowDay(output::LongDateTime day);
  std::string DayText(IDType field) const;

  bool resetShown_ = true;
  output::LongDateTime shownDay_ = 0;
  output::LongDateTime today_ = 0;
};

// The seven count-file columns: offsets 16, 4, 20, 8, 28, 12, 24.
std::array<int32_t, 7> CountColumns(const output::tPrintQuantityInfo& record);
// A day typed as MM-DD-YYYY (also with "/"); nothing when it is not a date.
std::optional<output::LongDateTime> ParseDayText(const std::string& text);

void RegisterPrintCountWindowClasses();

}  // namespace app
