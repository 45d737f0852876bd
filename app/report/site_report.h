// The site report: a PDF the technician leaves with the customer: unit type and device information, every
// object's settings with their captions, the timetable as a week grid with the holidays, the flow picture,
// the menus with their recordings and the check's findings. Drawn with Qt's PDF writer; needs a
// QGuiApplication.
#pragma once

#include "flow/call_flow.h"

#include <string>

class SettingsDatabase;

namespace zirezid {

// Writes the report crash-safely to `pdfPath` (the old file stays when anything fails). False with the reason
// in Russian in `error`.
bool writeSiteReport(SettingsDatabase& db, const flow::CallFlow& flow, const std::string& pdfPath, std::string& error);

// The report as HTML (the text of the PDF), with the flow picture as the image resource "flow.png".
std::string siteReportHtml(SettingsDatabase& db, const flow::CallFlow& flow);

} // namespace zirezid
