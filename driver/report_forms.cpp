#include "driver/report_forms.h"

#include "driver/locale.h"
#include "driver/texts.h"
#include "report/database.h"
#include "report/html.h"
#include "report/json.h"
#include "report/screen_report.h"
#include "tree/growth.h"

namespace {
void JsonDocument(const RunRecord& run) {
  WriteJsonReport(run, ProgramVersion);
}

PageGrowth PageGrowthOfNode(const DirNode* node) {
  Growth g = NodeGrowth(node);
  return PageGrowth{g.bytes, g.change == Change::New     ? PageNew
                             : g.change == Change::Gone  ? PageGone
                             : g.change == Change::Moved ? PageMoved
                                                         : PageSame};
}

// With -since the page colours by growth.
void HtmlDocument(const RunRecord& run) {
  WriteHtmlReport(run, ProgramVersion, GrowthShown() ? PageGrowthOfNode : nullptr);
}

// The list separator is the user's at the time of the report, asked once a pass.
int32_t ExcelHeaderInLocale(const RunRecord& run) {
  BStr separator = LocaleListSeparator();
  SetListSeparator(separator.text, separator.length);
  return ExcelHeader(run);
}

int32_t TopExcelHeaderInLocale(const RunRecord& run) {
  BStr separator = LocaleListSeparator();
  SetListSeparator(separator.text, separator.length);
  return TopExcelHeader(run);
}

const ReportForm Forms[] = {
    {Screen, false, false, {ScreenHeader, WalkScreenTree, ScreenFooter}, nullptr},
    {Tab, false, true, {TabHeader, WalkTabTree, NoFooter}, nullptr},
    {Comma, false, true, {CommaHeader, WalkCommaTree, NoFooter}, nullptr},
    {Csv, true, true, {CsvHeader, WalkCsvTree, NoFooter}, nullptr},
    {Json, true, false, {nullptr, nullptr, nullptr}, JsonDocument},
    {Html, true, false, {nullptr, nullptr, nullptr}, HtmlDocument},
    {Excel, true, true, {ExcelHeaderInLocale, WalkExcelTree, NoFooter}, nullptr},
};
}  // namespace

const ReportSection TopCsvSection = {TopCsvHeader, WalkTopCsvRows, NoFooter};
const ReportSection TopExcelSection = {TopExcelHeaderInLocale, WalkTopExcelRows, NoFooter};

const ReportForm& FormOf(OutputMode mode) {
  for (const ReportForm& form : Forms)
    if (form.mode == mode) return form;
  return Forms[0];
}

const ReportSection& SectionOf(const ReportForm& form, bool largest) {
  if (largest && form.mode == Csv) return TopCsvSection;
  if (largest && form.mode == Excel) return TopExcelSection;
  return form.section;
}

bool IsExport(OutputMode mode) {
  return FormOf(mode).isExport;
}
