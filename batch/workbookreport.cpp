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
        m_line(shown + ": " + workbook.error);
        workbookRow(workbook.error);
        return;
    }
    if (!workbook.problems.empty()) {
        ++m_tally.workbooksDamaged;
    }
    for (const std::string& problem : workbook.problems) {
        m_line(shown + ": " + problem);
        workbookRow(problem);
    }
    for (const PictureReport& picture : workbook.pictures) {
        ++m_tally.picturesFound;
        std::string skipped;
        if (!picture.written) {
            const SkipKind skip = picture.skip.value_or(SkipKind::Interrupted);
            ++m_tally.skipped[std::size_t(skip)];
            skipped = skipReason(picture, skip);
            if (skip != SkipKind::Interrupted) {
                m_line(shown + ": picture " + std::to_string(picture.number) + ": " + skipped);
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
