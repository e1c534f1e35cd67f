#include "encode/wholefile.h"

#include <QFileInfo>
#include <QSaveFile>

namespace encode {

QString writeWholeFile(const QString& path, std::initializer_list<QByteArrayView> pieces) {
    QFileInfo folder(QFileInfo(path).absolutePath());
    if (!folder.isDir()) {
        return QStringLiteral("the folder does not exist");
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return file.errorString();
    }
    for (QByteArrayView piece : pieces) {
        if (file.write(piece.data(), piece.size()) != piece.size()) {
            QString reason = file.errorString();
            file.cancelWriting();
            return reason;
        }
    }
    if (!file.commit()) {
        return file.errorString();
    }
    return {};
}

}  // namespace encode
