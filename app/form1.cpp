#include "app/form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeWidget>

#include "extract/isinstalled.h"
#include "platform/errorreport.h"
#include "platform/filepath.h"
#include "platform/mainmodule.h"
#include "platform/services.h"
#include "platform/twips.h"
#include "platform/windowframe.h"
#include "results/form2.h"

namespace app {
namespace {

constexpr int kExactPathRole = Qt::UserRole;

}  // namespace

using platform::twipsRect;
using platform::twipsToPixels;

Form1::Form1(platform::Services& services, QWidget* parent)
    : QWidget(parent), m_services(services), m_pointer(this) {
    buildControls();
}

Form1::~Form1() = default;

void Form1::buildControls() {
    setObjectName(QStringLiteral("Form1"));
    // Client area 8040 x 4080 twips, no resize handling.
    setFixedSize(twipsToPixels(8040), twipsToPixels(4080));
    setWindowFlags(platform::kFixedWindowFlags);
    setMouseTracking(true);

    QFont formFont(QStringLiteral("Arial"));
    formFont.setPointSizeF(9);
    formFont.setBold(true);
    setFont(formFont);
    QFont buttonFont(QStringLiteral("Arial"));
    buttonFont.setPointSizeF(11.25);
    buttonFont.setBold(true);

    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setGeometry(twipsRect(120, 120, 7800, 2295));
    ListView1->setFont(formFont);
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setColumnCount(0);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setToolTip(QStringLiteral(
        "Drag and drop files here. Double-click item to remove it. Move bar to right and out of "
        "window to reveal full names."));
    ListView1->setAcceptDrops(true);
    ListView1->viewport()->setAcceptDrops(true);
    ListView1->setDragDropMode(QAbstractItemView::DropOnly);
    ListView1->setMouseTracking(true);
    ListView1->viewport()->setMouseTracking(true);
    ListView1->installEventFilter(this);
    ListView1->viewport()->installEventFilter(this);
    ListView1->header()->installEventFilter(this);
    ListView1->header()->setMouseTracking(true);

    struct ButtonLayout {
        QPushButton** control;
        const char* name;
        const char* text;
        QRect geometry;
    };
    const ButtonLayout buttons[] = {
        {&PushButton1, "PushButton1", "Add Excel Files", twipsRect(120, 2520, 3840, 405)},
        {&PushButton4, "PushButton4", "Add All Excel Files In Folder",
         twipsRect(4080, 2520, 3840, 405)},
        {&PushButton6, "PushButton6", "Clear List", twipsRect(120, 3030, 3840, 405)},
        {&PushButton7, "PushButton7", "Load Sample/Example Files",
         twipsRect(4080, 3030, 3840, 405)},
        {&PushButton2, "PushButton2", "Start Extracting", twipsRect(120, 3540, 7800, 405)},
    };
    for (const ButtonLayout& layout : buttons) {
        auto* button = new QPushButton(QString::fromLatin1(layout.text), this);
        button->setObjectName(QString::fromLatin1(layout.name));
        button->setGeometry(layout.geometry);
        button->setFont(buttonFont);
        button->setMouseTracking(true);
        button->installEventFilter(this);
        *layout.control = button;
    }
    // Focus order is the order of the layout table.
    setTabOrder(ListView1, PushButton1);
    setTabOrder(PushButton1, PushButton4);
    setTabOrder(PushButton4, PushButton6);
    setTabOrder(PushButton6, PushButton7);
    setTabOrder(PushButton7, PushButton2);

    connect(PushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });
    connect(PushButton4, &QPushButton::clicked, this, [this] { PushButton4_Click(); });
    connect(PushButton6, &QPushButton::clicked, this, [this] { PushButton6_Click(); });
    connect(PushButton7, &QPushButton::clicked, this, [this] { PushButton7_Click(); });
    connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
}

void Form1::Form_Load() {
    platform::ErrorTrap trap(*m_services.dialogs, this, QStringLiteral("Form1"),
                             QStringLiteral("Form_Load"));
    trap.run(1, [&] { platform::ApplySkin(*this, m_services.programFolder); });
    trap.run(2, [&] { platform::CenterForm(*this); });
    const QString cursorFile =
        platform::besideProgram(m_services.programFolder, QStringLiteral("HAND-M.CUR"));
    if (trap.test(3, [&] { return platform::PathExists(cursorFile); })) {
        trap.run(4, [&] { m_pointer.loadMouseIcon(cursorFile); });
    }
    trap.run(5, [&] { setWindowTitle(QStringLiteral("Quillfen")); });
    trap.run(6, [&] { setWindowIcon(QApplication::windowIcon()); });
    trap.run(7, [&] { ListView1->setHeaderLabels({QStringLiteral("Excel File(s)")}); });
    trap.run(8, [&] { ListView1->setColumnWidth(0, twipsToPixels(7000)); });
    trap.run(9, [&] {
        extract::CheckExcelInstalled(*m_services.automation, *m_services.dialogs, this);
    });
}

void Form1::addListRow(const QString& path) {
    auto* item = new QTreeWidgetItem(ListView1);
    // A name that is not valid UTF-8 shows with "?" and keeps its bytes beside the text, for
    // the run to open.
    const QString shown = platform::shownPath(path);
    item->setText(0, shown);
    if (shown != path) {
        item->setData(0, kExactPathRole, path);
    }
}

QString Form1::listRowPath(int row) const {
    const QTreeWidgetItem* item = ListView1->topLevelItem(row);
    const QVariant exact = item->data(0, kExactPathRole);
    return exact.isValid() ? exact.toString() : item->text(0);
}

QStringList Form1::listRows() const {
    QStringList rows;
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        rows << ListView1->topLevelItem(i)->text(0);
    }
    return rows;
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    const bool overList =
        watched == ListView1 || watched == ListView1->viewport() || watched == ListView1->header();
    switch (event->type()) {
        case QEvent::MouseMove:
            if (qobject_cast<QPushButton*>(watched) != nullptr) {
                m_pointer.hover(platform::MousePointer::kCustom);
            } else if (overList) {
                m_pointer.hover(platform::MousePointer::kDefault);
            }
            break;
        case QEvent::KeyPress:
            if (watched == ListView1) {
                auto* key = static_cast<QKeyEvent*>(event);
                if (key->key() == Qt::Key_Delete) {
                    ListView1_KeyDown(46);
                }
            }
            break;
        case QEvent::MouseButtonDblClick:
            // A double-click anywhere on the rows' area removes the selected row, wherever it
            // lands; the list does nothing else with it.
            if (watched == ListView1->viewport()) {
                ListView1_DblClick();
                return true;
            }
            break;
        case QEvent::DragEnter:
        case QEvent::DragMove:
            if (watched == ListView1->viewport()) {
                auto* drag = static_cast<QDragMoveEvent*>(event);
                ListView1_OLEDragOver(drag);
                return true;
            }
            break;
        case QEvent::Drop:
            if (watched == ListView1->viewport()) {
                ListView1_OLEDragDrop(static_cast<QDropEvent*>(event));
                return true;
            }
            break;
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::mouseMoveEvent(QMouseEvent* event) {
    m_pointer.hoverBareArea(event->position().toPoint());
    QWidget::mouseMoveEvent(event);
}

void Form1::closeEvent(QCloseEvent* event) {
    event->accept();
    platform::endProgram(m_services);
}

}  // namespace app
