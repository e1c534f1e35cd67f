#include "batch/workbookreport.h"

#include "batch/manifest.h"
#include "batch/pathtext.h"

namespace batch {
namespace {

std::string skipReason(const PictureReport& picture, SkipKind skip) {
    if (skip == SkipKind::Interrupted) {
        return "interrupted";
    }
    if (skip == SkipKind::NotWritten) {
        return "cannot write '" + picture.outputPath + "': " + picture.reason;
    }
    return picture.reason;
}

}  // namespace

void Reporter::add(const WorkbookReport& workbook) {
    ++m_tally.workbooksDone;
    auto row = [&](const ManifestRow& r) {
        if (m_manifest) {
            m_manifest->add(r);
        }
    };
    auto workbookRow = [&](const std::string& reason) {
        ManifestRow r;
        r.workbook = workbook.path;
        r.skipped = reason;
        row(r);
    };
    const std::string shown = displayText(workbook.path);
    if (!workbook.error.empty()) {
        ++m_tally.workbooksFailed;
        m_line(shown + ": " + displayText(workbook.error));
        workbookRow(workbook.error);
        return;
    }
    if (!workbook.problems.empty()) {
        ++m_tally.workbooksDamaged;
    }
    for (const std::string& problem : workbook.problems) {
        m_line(shown + ": " + displayText(problem));
        workbookRow(problem);
    }
    bool pixelLimitTold = false;
    for (const PictureReport& picture : workbook.pictures) {
        ++m_tally.picturesFound;
        std::string skipped;
        if (!picture.written) {
            const SkipKind skip = picture.skip.value_or(SkipKind::Interrupted);
            ++m_tally.skipped[std::size_t(skip)];
            skipped = skipReason(picture, skip);
            // The pixel limit is told at the first picture past it, which says the later ones
            // share its fate; the manifest has a row for each.
            const bool repeated = skip == SkipKind::TooManyPixels && pixelLimitTold;
            pixelLimitTold = pixelLimitTold || skip == SkipKind::TooManyPixels;
            if (skip != SkipKind::Interrupted && !repeated) {
                m_line(shown + ": picture " + std::to_string(picture.number) + ": " +
                       displayText(skipped));
            }
        }
        row({.workbook = workbook.path,
             .worksheet = picture.worksheet,
             .number = picture.number,
             .cell = picture.cell,
             .format = picture.format,
             .width = picture.width,
             .height = picture.height,
             .bytes = picture.bytes,
             .sha256 = picture.sha256,
             .output = picture.written ? picture.outputPath : "",
             .skipped = skipped});
    }
}

}  // namespace batch
