#include "support/fakeexcel.h"

#include <QBuffer>
#include <QImage>

#include "platform/runtimeerror.h"

namespace testing_support {

using platform::RuntimeError;

FakeExcel::FakeExcel(std::shared_ptr<FakeExcelWorld> world) : m_world(std::move(world)) {
    ++m_world->created;
    ++m_world->alive;
}

FakeExcel::~FakeExcel() { --m_world->alive; }

void FakeExcel::enter(const QString& member, int sheet, int picture) {
    QString call = member;
    if (sheet > 0) {
        call += QStringLiteral("(%1").arg(sheet);
        call += picture > 0 ? QStringLiteral(",%1)").arg(picture) : QStringLiteral(")");
    }
    m_world->calls << call;
    if (m_world->failing.contains(member) ||
        (m_world->failWhen && m_world->failWhen(member, sheet, picture))) {
        throw RuntimeError(platform::err::kAutomationError,
                           QStringLiteral("%1 failed in the fake").arg(member));
    }
}

const platform::Picture& FakeExcel::at(int sheet, int picture) const {
    const auto& sheets = m_world->workbooks[m_active];
    if (!m_open || sheet < 1 || sheet > sheets.size() || picture < 1 ||
        picture > sheets[sheet - 1].size()) {
        throw RuntimeError(platform::err::kSubscriptOutOfRange,
                           QStringLiteral("Subscript out of range"));
    }
    return sheets[sheet - 1][picture - 1];
}

void FakeExcel::openWorkbook(const QString& path) {
    enter(QStringLiteral("openWorkbook"));
    if (!m_world->workbooks.contains(path)) {
        throw RuntimeError(platform::err::kAutomationError,
                           QStringLiteral("Cannot open '%1': no such workbook").arg(path));
    }
    m_active = path;
    m_open = true;
}

int FakeExcel::worksheetCount() {
    enter(QStringLiteral("worksheetCount"));
    if (!m_open) {
        throw RuntimeError(platform::err::kObjectRequired, QStringLiteral("Object required"));
    }
    return int(m_world->workbooks[m_active].size());
}

int FakeExcel::pictureCount(int sheet) {
    enter(QStringLiteral("pictureCount"), sheet);
    const auto& sheets = m_world->workbooks[m_active];
    if (!m_open || sheet < 1 || sheet > sheets.size()) {
        throw RuntimeError(platform::err::kSubscriptOutOfRange,
                           QStringLiteral("Subscript out of range"));
    }
    return int(sheets[sheet - 1].size());
}

void FakeExcel::selectPicture(int sheet, int picture) {
    enter(QStringLiteral("selectPicture"), sheet, picture);
    at(sheet, picture);
}

void FakeExcel::copyPicture(int sheet, int picture) {
    enter(QStringLiteral("copyPicture"), sheet, picture);
    const platform::Picture& p = at(sheet, picture);
    if (m_world->clipboard != nullptr) {
        m_world->clipboard->setPicture(p);
    }
}

void FakeExcel::setDisplayAlerts(bool) { enter(QStringLiteral("setDisplayAlerts")); }

void FakeExcel::quit() {
    enter(QStringLiteral("quit"));
    m_open = false;
}

QString FakeExcel::defaultProperty() {
    enter(QStringLiteral("defaultProperty"));
    return m_world->defaultProperty;
}

std::shared_ptr<FakeExcelWorld> installFakeExcel(automation::Registry& registry, bool running) {
    auto world = std::make_shared<FakeExcelWorld>();
    registry.registerClass(automation::kExcelProgId,
                           [world] { return std::make_unique<FakeExcel>(world); });
    if (running) {
        registry.registerRunning(automation::kExcelProgId,
                                 [world] { return std::make_unique<FakeExcel>(world); });
    }
    return world;
}

platform::Picture makePngPicture(int width, int height, unsigned rgb) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor::fromRgb(rgb));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return platform::Picture::fromBytes(bytes);
}

}  // namespace testing_support
