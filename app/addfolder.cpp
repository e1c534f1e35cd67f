#include "app/addfolder.h"

#include <QCoreApplication>
#include <QLocale>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/directorylisting.h"
#include "platform/filepath.h"
#include "platform/folderwalk.h"
#include "platform/runtimeerror.h"

namespace app {
namespace {

void yieldToEvents() {
    QCoreApplication::processEvents();
}

bool isEnding(const bool* ending) {
    return ending != nullptr && *ending;
}

}  // namespace

const QString& FileNameArray::operator[](int index) const {
    static const QString kNothing;
    if (m_names.isEmpty() && index == 0) {
        return kNothing;
    }
    if (index < 1 || index > m_names.size()) {
        throw platform::RuntimeError(platform::err::kSubscriptOutOfRange,
                                     QStringLiteral("Subscript out of range"));
    }
    return m_names[index - 1];
}

QString ChooseFolder(QWidget* owner, const QString& prompt, platform::Dialogs& dialogs) {
    QString folder = dialogs.browseForFolder(owner, prompt);
    // The shell fills a NUL-padded buffer; only the text before the first NUL is the path.
    const qsizetype nul = folder.indexOf(QChar(u'\0'));
    if (nul >= 0) {
        folder.truncate(nul);
    }
    return folder;
}

void AddSubfolders(QStringList& folders, bool recurse, const bool* ending) {
    std::vector<std::string> starts;
    for (const QString& folder : std::as_const(folders)) {
        starts.push_back(platform::pathToBytes(folder).toStdString());
    }
    // "?" stands for a name the listing could not spell, so no path built from it would lead
    // anywhere; every other name decodes back to the same bytes.
    const auto unspellable = [](std::string_view name) {
        return platform::entryNameFromBytes(std::string(name).c_str()).contains(QChar('?'));
    };
    const auto turn = [ending] {
        yieldToEvents();
        return isEnding(ending);
    };
    std::vector<std::string> found;
    platform::WalkBudget budget;
    if (!platform::walkSubfolders(starts, recurse, found, unspellable, turn, &budget) &&
        budget.stoppedAt.empty()) {
        return;
    }
    for (const std::string& folder : found) {
        yieldToEvents();
        if (isEnding(ending)) {
            return;
        }
        folders << platform::pathFromBytes(QByteArray::fromStdString(folder));
    }
    // A tree too large to walk keeps what was found, and the caller's trap tells where the
    // walk stopped.
    if (!budget.stoppedAt.empty()) {
        throw platform::RuntimeError(
            platform::err::kPathNotFound,
            QStringLiteral("The folder walk stopped at '%1': the folders hold more than %2 "
                           "entries")
                .arg(platform::shownPath(
                         platform::pathFromBytes(QByteArray::fromStdString(budget.stoppedAt))),
                     QLocale(QLocale::English).toString(qulonglong(platform::kMaxWalkEntries))));
    }
}

FileNameArray ListFiles(const QString& folder, const QString& pattern) {
    QStringList names;
    names.reserve(100);
    for (const std::string& name :
         platform::matchingFiles(platform::pathToBytes(folder).toStdString(), pattern)) {
        names << platform::pathFromBytes(QByteArray::fromStdString(name));
    }
    return FileNameArray(std::move(names));
}

QString RepairRootPath(const QString& path) {
    if (path.startsWith(QStringLiteral("//"))) {
        return path.mid(1);
    }
    return path;
}

QString JoinAndRepair(const QString& folder, const QString& name) {
    return RepairRootPath(folder + QChar('/') + name);
}

}  // namespace app
