#include "driver/report_forms.h"

#include "driver/texts.h"
#include "report/database.h"
#include "report/html.h"
#include "report/json.h"
#include "report/screen_report.h"
#include "tree/growth.h"

namespace {
void JsonDocument() {
  WriteJsonReport(ProgramVersion);
}

PageGrowth PageGrowthOfNode(const DirNode* node) {
  Growth g = NodeGrowth(node);
  return PageGrowth{g.bytes, g.change == Change::New    ? PageNew
                             : g.change == Change::Gone ? PageGone
                                                        : PageSame};
}

// With -since the page colours by growth.
void HtmlDocument() {
  WriteHtmlReport(ProgramVersion, GrowthShown() ? PageGrowthOfNode : nullptr);
}

const ReportForm Forms[] = {
    {Screen, false, false, {ScreenHeader, WalkScreenTree, ScreenFooter}, nullptr},
    {Tab, false, true, {TabHeader, WalkTabTree, NoFooter}, nullptr},
    {Comma, false, true, {CommaHeader, WalkCommaTree, NoFooter}, nullptr},
    {Csv, true, true, {CsvHeader, WalkCsvTree, NoFooter}, nullptr},
    {Json, true, false, {nullptr, nullptr, nullptr}, JsonDocument},
    {Html, true, false, {nullptr, nullptr, nullptr}, HtmlDocument},
};
}  // namespace

const ReportSection TopCsvSection = {TopCsvHeader, WalkTopCsvRows, NoFooter};

const ReportForm& FormOf(OutputMode mode) {
  for (const ReportForm& form : Forms)
    if (form.mode == mode) return form;
  return Forms[0];
}

const ReportSection& SectionOf(const ReportForm& form, bool largest) {
  return largest && form.mode == Csv ? TopCsvSection : form.section;
}

bool IsExport(OutputMode mode) {
  return FormOf(mode).isExport;
}
