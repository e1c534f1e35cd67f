#include "automation/nativeexcel.h"

#include <QByteArray>
#include <QStringList>

#include "metafile/metafile.h"
#include "platform/filepath.h"
#include "platform/picture.h"
#include "platform/runtimeerror.h"
#include "workbook/bitmapinfo.h"

namespace automation {
namespace {

using platform::RuntimeError;
namespace err = platform::err;

// Lets the engine read a picture straight into the buffer the Picture keeps; an image the
// engine holds whole for several pictures becomes one buffer that every copy of it shares.
template <typename SharedImage>
class ByteArraySink : public workbook::ByteSink {
public:
    explicit ByteArraySink(SharedImage& shared) : m_shared(shared) {}

    std::uint8_t* allocate(std::size_t size) override {
        bytes = QByteArray(qsizetype(size), Qt::Uninitialized);
        return reinterpret_cast<std::uint8_t*>(bytes.data());
    }
    bool adopt(const std::shared_ptr<const std::vector<std::uint8_t>>& source) override {
        if (m_shared.source.lock() != source) {
            m_shared.bytes = QByteArray(reinterpret_cast<const char*>(source->data()),
                                        qsizetype(source->size()));
            m_shared.source = source;
        }
        bytes = m_shared.bytes;
        return true;
    }
    QByteArray bytes;

private:
    SharedImage& m_shared;
};

QString text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

}  // namespace

void NativeExcel::requireRunning() const {
    if (m_quit) {
        throw RuntimeError(err::kAutomationError,
                           QStringLiteral("Automation error: the application has quit"));
    }
}

workbook::Workbook& NativeExcel::activeWorkbook() const {
    requireRunning();
    if (!m_workbook) {
        throw RuntimeError(err::kObjectRequired,
                           QStringLiteral("Object required: no workbook is open"));
    }
    return *m_workbook;
}

const workbook::Worksheet& NativeExcel::worksheetAt(int sheet) const {
    const auto& sheets = activeWorkbook().worksheets();
    if (sheet < 1 || std::size_t(sheet) > sheets.size()) {
        throw RuntimeError(err::kSubscriptOutOfRange,
                           QStringLiteral("Subscript out of range: '%1' has no worksheet %2 "
                                          "(it has %3)")
                               .arg(m_path)
                               .arg(sheet)
                               .arg(sheets.size()));
    }
    return sheets[std::size_t(sheet) - 1];
}

const workbook::PictureInfo& NativeExcel::pictureAt(int sheet, int picture) const {
    const workbook::Worksheet& worksheet = worksheetAt(sheet);
    if (picture < 1 || std::size_t(picture) > worksheet.pictures.size()) {
        throw RuntimeError(err::kSubscriptOutOfRange,
                           QStringLiteral("Subscript out of range: worksheet '%1' of '%2' has "
                                          "no picture %3 (it has %4)")
                               .arg(text(worksheet.name), m_path)
                               .arg(picture)
                               .arg(worksheet.pictures.size()));
    }
    return worksheet.pictures[std::size_t(picture) - 1];
}

void NativeExcel::openWorkbook(const QString& path) {
    requireRunning();
    auto opened = workbook::openWorkbook(platform::pathToBytes(path).toStdString(),
                                         {.sniff = metafile::sniffDrawnImage});
    if (!opened) {
        // A workbook that fails to open leaves the active one as it was.
        throw RuntimeError(err::kAutomationError,
                           QStringLiteral("Cannot open '%1': %2")
                               .arg(platform::shownPath(path), text(opened.problem().describe())));
    }
    m_workbook = std::move(opened.value());
    m_sharedImage = {};
    m_path = platform::shownPath(path);
    // A workbook with missing parts still opens and stays active, so its intact worksheets
    // give their pictures; the damage is told once, here, as the spreadsheet application tells
    // what it repaired on opening.
    const std::vector<workbook::Problem>& problems = m_workbook->problems();
    if (!problems.empty()) {
        QStringList described;
        for (const workbook::Problem& problem : problems) {
            described << text(problem.describe());
        }
        throw RuntimeError(err::kAutomationError,
                           QStringLiteral("'%1' is damaged; the pictures of its damaged parts "
                                          "are lost: %2")
                               .arg(m_path, described.join(QStringLiteral("; "))));
    }
}

int NativeExcel::worksheetCount() {
    return int(activeWorkbook().worksheets().size());
}

int NativeExcel::pictureCount(int sheet) {
    return int(worksheetAt(sheet).pictures.size());
}

void NativeExcel::selectPicture(int sheet, int picture) {
    pictureAt(sheet, picture);
}

void NativeExcel::copyPicture(int sheet, int picture) {
    // A copy that fails must not leave the previous picture behind to be saved in its place.
    m_clipboard.clear();
    const workbook::PictureInfo& info = pictureAt(sheet, picture);
    ByteArraySink sink(m_sharedImage);
    auto problem =
        m_workbook->readPictureBytes(std::size_t(sheet) - 1, std::size_t(picture) - 1, sink);
    if (!problem && sink.bytes.isEmpty()) {
        problem = workbook::damaged(info.name, "the image is empty");
    }
    if (problem) {
        // The picture's own name, where the workbook gives one, is what the user finds it by.
        const QString named = info.name.empty()
                                  ? QString::number(picture)
                                  : QStringLiteral("%1 ('%2')").arg(picture).arg(text(info.name));
        throw RuntimeError(
            err::kAutomationError,
            QStringLiteral("Cannot copy picture %1 of worksheet '%2' in '%3': %4")
                .arg(named, text(worksheetAt(sheet).name), m_path, text(problem->describe())));
    }
    if (info.format == workbook::ImageFormat::Dib) {
        // The clipboard carries a bitmap as a file any reader takes: the DIB behind a file
        // header. One whose header is unusable is handed on as it is.
        std::vector<std::uint8_t> bmp =
            workbook::bmpFileFromDib(reinterpret_cast<const std::uint8_t*>(sink.bytes.constData()),
                                     std::size_t(sink.bytes.size()));
        if (!bmp.empty()) {
            sink.bytes =
                QByteArray(reinterpret_cast<const char*>(bmp.data()), qsizetype(bmp.size()));
        }
    }
    // A metafile is drawn at the size the workbook lists for it.
    m_clipboard.setPicture(
        platform::Picture::fromBytes(std::move(sink.bytes), QSize(info.width, info.height)));
}

void NativeExcel::setDisplayAlerts(bool value) {
    requireRunning();
    m_displayAlerts = value;
}

void NativeExcel::quit() {
    requireRunning();
    m_workbook.reset();
    m_sharedImage = {};
    m_path.clear();
    m_quit = true;
}

QString NativeExcel::defaultProperty() {
    requireRunning();
    return QStringLiteral("Microsoft Excel");
}

void registerNativeExcel(Registry& registry, PictureClipboard& clipboard) {
    registry.registerClass(kExcelProgId,
                           [&clipboard] { return std::make_unique<NativeExcel>(clipboard); });
    registry.registerRunning(kExcelProgId, {});
}

}  // namespace automation
