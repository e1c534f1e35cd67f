// What holding a run's pictures costs: 2,000 pictures of about 500 KB each in the results
// window's holders, one of them previewed. Prints the peak memory of the process as a ratio to
// the pictures' encoded bytes plus 100 MiB for the program itself; the target is 1.15 or less.
#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdio>

#include "platform/picture.h"
#include "platform/scripteddialogs.h"
#include "platform/services.h"
#include "platform/settingsstore.h"
#include "results/form2.h"

namespace {

constexpr int kPictures = 2000;
constexpr qint64 kProgramAllowance = 100LL << 20;

// Peak resident memory of this process in bytes (VmHWM), 0 when it cannot be read.
qint64 peakResidentBytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
        }
    }
    return 0;
}

// A photo-like JPEG of about 500 KB: noise keeps the encoder from squeezing it.
QByteArray photoOfAboutHalfAMegabyte() {
    QImage image(1200, 760, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            line[x] = 0xff000000u | (random.generate() & 0x00ffffffu);
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 70);
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    platform::ScriptedDialogs dialogs;
    QTemporaryDir home;
    platform::SettingsStore settings(home.filePath(QStringLiteral("Velmora.conf")));
    platform::Services services;
    services.dialogs = &dialogs;
    services.settings = &settings;
    QWidget mainWindow;
    results::Form2 form(services, &mainWindow);

    const QByteArray photo = photoOfAboutHalfAMegabyte();
    qint64 encodedBytes = 0;
    for (int i = 0; i < kPictures; ++i) {
        // Every holder gets bytes of its own, as the extraction delivers them.
        QByteArray own(photo.constData(), photo.size());
        own[own.size() / 2] = char(i);
        encodedBytes += own.size();
        if (i > 0) {
            form.createImageHolder(i);
        }
        form.setImageHolderPicture(i, platform::Picture::fromBytes(own));
        form.appendResultRow(QStringLiteral("/data/book%1.xlsx").arg(i / 10),
                             QString::number(i % 10 + 1));
    }
    form.mTotalImages = kPictures;
    form.setPreviewPicture(form.imageHolderPicture(0));
    form.show();
    QApplication::processEvents();
    // Preview a few rows in turn; only the one shown keeps its pixels.
    for (int row : {1, kPictures / 2, kPictures - 1}) {
        form.ListView1->setCurrentItem(form.ListView1->topLevelItem(row));
        form.ListView1_Click();
        QApplication::processEvents();
    }

    const qint64 peak = peakResidentBytes();
    const qint64 reference = encodedBytes + kProgramAllowance;
    std::printf("pictures held:            %d of %.0f KB each\n", kPictures, photo.size() / 1024.0);
    std::printf("encoded bytes:            %.1f MiB\n", encodedBytes / 1048576.0);
    std::printf("peak resident (VmHWM):    %.1f MiB\n", peak / 1048576.0);
    std::printf("peak / (bytes + 100 MiB): %.3f  (target <= 1.15)\n",
                double(peak) / double(reference));
    return 0;
}
