// The input list commands of Form1: add by dialog, by folder, by drop, the samples, remove, clear.
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPointer>
#include <QTreeWidget>
#include <QUrl>

#include "app/addfolder.h"
#include "app/form1.h"
#include "platform/dialogs.h"
#include "platform/errorreport.h"
#include "platform/fileattributes.h"
#include "platform/filepath.h"
#include "platform/folderwalk.h"
#include "platform/services.h"
#include "platform/settingsstore.h"
#include "platform/shell.h"

namespace app {
namespace {

constexpr int kOpenFlags = 2621953;  // read-only box, multiple selection, explorer, long names
constexpr int kDeleteKey = 46;

const QString kFolderPrompt = QStringLiteral("Please select folder:");

// The local paths a drag offers, in the order given; the list takes nothing else. A name that
// is not valid UTF-8 arrives percent-encoded byte by byte and keeps those bytes.
QStringList droppedPaths(const QMimeData* data) {
    QStringList paths;
    if (data == nullptr || !data->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) {
            continue;
        }
        if (url.host().isEmpty()) {
            paths << platform::pathFromBytes(
                QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
        } else {
            paths << url.toLocalFile();
        }
    }
    return paths;
}

// The list only reads the paths, so it takes a copy when one is offered: a source told that
// its files were moved might delete them.
void takeAsCopy(QDropEvent* event) {
    if (event->possibleActions().testFlag(Qt::CopyAction)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->acceptProposedAction();
    }
}

}  // namespace

void Form1::PushButton1_Click() {
    platform::ErrorTrap trap(*m_services.dialogs, this, QStringLiteral("Form1"),
                             QStringLiteral("PushButton1_Click"));
    platform::FileOpenRequest request;
    QString text;
    QStringList parts;
    trap.run(1, [&] { request = platform::FileOpenRequest(); });
    trap.run(2, [&] { request.flags = kOpenFlags; });
    trap.run(3, [&] {
        request.title = QStringLiteral("Add File(s) - Use Ctrl & Shift to select multiple files");
    });
    trap.run(4, [&] { request.filter = QStringLiteral("Excel Files (*.xl*)|*.xl*|"); });
    trap.run(5, [&] { text = m_services.dialogs->showOpen(this, request); });
    if (trap.test(6, [&] { return text.isEmpty(); })) {
        return;
    }
    trap.run(7, [&] { parts = text.split(QChar(u'\0')); });
    if (trap.test(8, [&] { return parts.size() == 1; })) {
        trap.run(9, [&] { addListRow(parts.value(0)); });
    } else {
        // Several files: the folder first, then the bare names.
        for (qsizetype i = 1; i < parts.size(); ++i) {
            trap.run(10, [&] { addListRow(JoinAndRepair(parts[0], parts[i])); });
        }
    }
}

void Form1::PushButton4_Click() {
    platform::ErrorTrap trap(*m_services.dialogs, this, QStringLiteral("Form1"),
                             QStringLiteral("PushButton4_Click"));
    QString extension;
    QString folder;
    QStringList folders;
    trap.run(1, [&] {
        extension = m_services.dialogs->inputBox(
            this,
            QStringLiteral("Enter file extension to load:") + QStringLiteral("\r\r") +
                QStringLiteral("(* for all files, txt for all txt files, doc for all doc files, "
                               "etc.)"),
            platform::kAppTitle, QStringLiteral("xl*"));
    });
    if (trap.test(2, [&] { return extension.isEmpty(); })) {
        return;
    }
    trap.run(3, [&] { m_services.settings->saveSetting(QStringLiteral("Extension"), extension); });
    trap.run(4, [&] { folder = ChooseFolder(this, kFolderPrompt, *m_services.dialogs); });
    if (trap.test(5, [&] { return folder.isEmpty(); })) {
        return;
    }
    trap.run(6, [&] { m_pointer.set(platform::MousePointer::kWait); });
    trap.run(7, [&] { folders = QStringList{folder + QChar('/')}; });
    trap.run(8, [&] { AddSubfolders(folders, true, &m_services.ending); });
    const QString pattern = QStringLiteral("*.") + extension;
    for (const QString& entry : std::as_const(folders)) {
        if (m_services.ending) {
            break;
        }
        FileNameArray names;
        trap.run(9, [&] { names = ListFiles(entry.chopped(1), pattern); });
        for (const QString& name : names) {
            addWalkedFile(trap, 10, entry.chopped(1), name);
        }
    }
    trap.run(13, [&] { m_pointer.set(platform::MousePointer::kDefault); });
}

// One file found by a folder walk: names beginning with "~" and files that are exactly hidden
// + archive stay out; the rest is joined, repaired and added. Uses the lines line..line+2.
void Form1::addWalkedFile(platform::ErrorTrap& trap, int line, const QString& folder,
                          const QString& name) {
    if (!trap.test(line, [&] { return !name.startsWith(QChar('~')); })) {
        return;
    }
    const QString path = JoinAndRepair(folder, name);
    // When the attributes cannot be read the report is shown and the file is still added.
    if (trap.test(line + 1,
                  [&] { return platform::GetAttr(path) != platform::kScanSkippedAttributes; })) {
        trap.run(line + 2, [&] { addListRow(path); });
    }
}

void Form1::ListView1_OLEDragOver(QDragMoveEvent* event) {
    if (droppedPaths(event->mimeData()).isEmpty()) {
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
        return;
    }
    takeAsCopy(event);
}

void Form1::ListView1_OLEDragDrop(QDropEvent* event) {
    const QStringList paths = droppedPaths(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    takeAsCopy(event);
    // The drop has no report of its own in the behaviour; it reports like the buttons do, so a
    // failing item is told and the next one still comes.
    platform::ErrorTrap trap(*m_services.dialogs, this, QStringLiteral("Form1"),
                             QStringLiteral("ListView1_OLEDragDrop"));
    for (const QString& dropped : paths) {
        if (m_services.ending) {
            return;
        }
        // A hidden folder is added as a plain row, as the command line takes it.
        bool isFolder = false;
        trap.run(
            1, [&] { isFolder = platform::walkedAsFolder(platform::GetFileAttributes(dropped)); });
        if (!isFolder) {
            trap.run(2, [&] { addListRow(dropped); });
            continue;
        }
        // A folder dropped with a trailing "/" is the same folder; the root keeps its own.
        QString folder = dropped;
        while (folder.size() > 1 && folder.endsWith(QChar('/'))) {
            folder.chop(1);
        }
        QStringList folders;
        trap.run(3, [&] {
            folders = QStringList{folder + QChar('/')};
            AddSubfolders(folders, true, &m_services.ending);
        });
        for (const QString& entry : std::as_const(folders)) {
            FileNameArray names;
            trap.run(4, [&] { names = ListFiles(entry.chopped(1), QStringLiteral("*.*")); });
            for (const QString& name : names) {
                addWalkedFile(trap, 5, entry.chopped(1), name);
            }
        }
    }
}

void Form1::PushButton7_Click() {
    platform::ErrorTrap trap(*m_services.dialogs, this, QStringLiteral("Form1"),
                             QStringLiteral("PushButton7_Click"));
    FileNameArray names;
    int answer = platform::vbNo;
    trap.run(1, [&] {
        names =
            ListFiles(platform::besideProgram(m_services.programFolder, QStringLiteral("Samples")),
                      QStringLiteral("*.*"));
    });
    for (const QString& name : names) {
        trap.run(2, [&] {
            addListRow(platform::besideProgram(m_services.programFolder,
                                               QStringLiteral("Samples/") + name));
        });
    }
    trap.run(3, [&] {
        answer = m_services.dialogs->msgBox(
            this,
            QStringLiteral("Would you like this software to open the folder where these sample "
                           "files are stored (so that you can view them before working with "
                           "them)?"),
            platform::vbYesNo, platform::kAppTitle);
    });
    if (trap.test(4, [&] { return answer == platform::vbYes; })) {
        // The shell's answer is not ignored: a desktop without a file manager is told, where
        // the folder would silently not open.
        trap.run(5, [&] {
            m_services.shell->openFolder(
                platform::besideProgram(m_services.programFolder, QStringLiteral("Samples/")),
                [this, window = QPointer<Form1>(this)](const QString& message) {
                    if (window) {
                        m_services.dialogs->msgBox(this, message, platform::vbExclamation);
                    }
                });
        });
    }
}

void Form1::PushButton6_Click() {
    platform::ErrorTrap trap(*m_services.dialogs, this, QStringLiteral("Form1"),
                             QStringLiteral("PushButton6_Click"));
    trap.run(1, [&] { ListView1->clear(); });
}

void Form1::ListView1_DblClick() {
    removeSelectedRow();
}

void Form1::ListView1_KeyDown(int keyCode) {
    if (keyCode == kDeleteKey) {
        removeSelectedRow();
    }
}

void Form1::removeSelectedRow() {
    // Every failure is ignored here, as a missing selection is.
    try {
        const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
        if (!selected.isEmpty()) {
            delete selected.front();
        }
    } catch (...) {
    }
}

}  // namespace app
