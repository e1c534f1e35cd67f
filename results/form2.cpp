#include "results/form2.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QSlider>
#include <QToolTip>
#include <QTreeWidget>
#include <QWheelEvent>

#include "encode/saveasjpg.h"
#include "platform/mainmodule.h"
#include "platform/runtimeerror.h"
#include "platform/services.h"
#include "platform/twips.h"
#include "platform/windowframe.h"
#include "results/picturebox.h"
#include "results/scrollbar.h"

namespace results {

using platform::twipsRect;
using platform::twipsToPixels;

namespace {

// Element 0 was there from the start and cannot be destroyed.
constexpr int kCannotUnloadDesignTimeElement = 362;
// A bound on how far past the last holder a new one may be made, so a wild index cannot make
// the array grow without limit.
constexpr int kMaxImageHolders = 1'000'000;

QString qualityText(int value) {
    return QStringLiteral("Quality: %1").arg(value);
}

platform::RuntimeError missingElement(int index) {
    return platform::RuntimeError(
        platform::err::kControlArrayElementMissing,
        QStringLiteral("Control array element '%1' doesn't exist").arg(index));
}

QFont arialBold(double points) {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

}  // namespace

Form2::Form2(platform::Services& services, QWidget* mainWindow_)
    : QWidget(nullptr), mainWindow(mainWindow_), m_services(services), m_pointer(this) {
    saveJpg = [](const platform::Picture& picture, const QString& fileName, std::uint8_t quality) {
        encode::SaveJPG(picture, fileName, quality);
    };
    m_holders.emplace_back(platform::Picture());
    buildControls();
    creationSequence();
}

Form2::~Form2() = default;

void Form2::buildControls() {
    setObjectName(QStringLiteral("Form2"));
    // Client area 8040 x 9435 twips, no resize handling.
    setFixedSize(twipsToPixels(8040), twipsToPixels(9435));
    setWindowFlags(platform::kFixedWindowFlags);
    setMouseTracking(true);
    const QFont formFont = arialBold(9);
    setFont(formFont);

    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setGeometry(twipsRect(120, 120, 7800, 1815));
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setColumnCount(0);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);

    Label3 = new QLabel(QStringLiteral("Results:"), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setGeometry(twipsRect(120, 2070, 2295, 255));

    // The white view. Its sunken border lies outside the inner area that the arithmetic uses,
    // and the vertical bar overlaps only that border.
    Picture2 = new QFrame(this);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    Picture2->setGeometry(twipsRect(120, 2400, 7560, 4470));
    Picture2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Picture2->setLineWidth(2);
    m_viewClient = new QWidget(Picture2);
    m_viewClient->setObjectName(QStringLiteral("Picture2Client"));
    m_viewClient->setGeometry(Picture2->contentsRect());
    Picture1 = new PictureBox(m_viewClient);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setGeometry(0, 0, 0, 0);
    PreviewMessage = new QLabel(m_viewClient);
    PreviewMessage->setObjectName(QStringLiteral("PreviewMessage"));
    PreviewMessage->setGeometry(m_viewClient->rect().adjusted(24, 24, -24, -24));
    PreviewMessage->setAlignment(Qt::AlignCenter);
    PreviewMessage->setWordWrap(true);
    PreviewMessage->setTextFormat(Qt::PlainText);
    PreviewMessage->hide();

    VScroll1 = new ScrollBar(Qt::Vertical, this);
    VScroll1->setObjectName(QStringLiteral("VScroll1"));
    VScroll1->setGeometry(twipsRect(7665, 2400, 255, 4470));
    HScroll1 = new ScrollBar(Qt::Horizontal, this);
    HScroll1->setObjectName(QStringLiteral("HScroll1"));
    HScroll1->setGeometry(twipsRect(120, 6870, 7560, 255));
    for (QScrollBar* bar : {VScroll1, HScroll1}) {
        bar->setRange(0, 32767);
        bar->setSingleStep(1);
        bar->setPageStep(1);
        // A dragged scroll box reports its position only when it is let go.
        bar->setTracking(false);
        bar->setEnabled(false);
    }

    Frame2 = new QGroupBox(QStringLiteral("Save Output Files As"), this);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    Frame2->setGeometry(twipsRect(120, 7200, 2400, 735));
    Option1 = new QRadioButton(QStringLiteral("BMP"), Frame2);
    Option1->setObjectName(QStringLiteral("Option1"));
    Option1->setGeometry(twipsRect(240, 270, 795, 330));
    Option1->setChecked(true);
    Option2 = new QRadioButton(QStringLiteral("JPG"), Frame2);
    Option2->setObjectName(QStringLiteral("Option2"));
    Option2->setGeometry(twipsRect(1440, 270, 675, 330));

    Label5 = new QLabel(QStringLiteral("JPG Image Quality"), this);
    Label5->setObjectName(QStringLiteral("Label5"));
    Label5->setGeometry(twipsRect(2640, 7200, 2535, 255));
    Slider1 = new QSlider(Qt::Horizontal, this);
    Slider1->setObjectName(QStringLiteral("Slider1"));
    Slider1->setGeometry(twipsRect(2640, 7440, 5280, 480));
    Slider1->setRange(0, 100);
    Slider1->setValue(85);
    Slider1->setTickPosition(QSlider::TicksBelow);
    Slider1->setTickInterval(10);
    // BMP is chosen at first, and the quality only matters for JPG.
    Slider1->setEnabled(false);
    Slider1->setToolTip(qualityText(Slider1->value()));

    Frame1 = new QGroupBox(QStringLiteral("Save Image(s) To This Folder"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(twipsRect(120, 8010, 7800, 810));
    Text1 = new QLineEdit(Frame1);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(twipsRect(240, 300, 6540, 345));

    const QFont buttonFont = arialBold(11.25);
    auto makeButton = [&](QWidget* parent, const char* name, const char* text, QRect geometry) {
        auto* button = new QPushButton(QString::fromLatin1(text), parent);
        button->setObjectName(QString::fromLatin1(name));
        button->setGeometry(geometry);
        button->setFont(buttonFont);
        return button;
    };
    PushButton7 = makeButton(Frame1, "PushButton7", "...", twipsRect(6960, 300, 600, 345));
    PushButton8 = makeButton(this, "PushButton8", "< Back", twipsRect(120, 8940, 3720, 405));
    PushButton6 =
        makeButton(this, "PushButton6", "Save Results To Images", twipsRect(3960, 8940, 3960, 405));

    // Storage only: it lies below the client area and is never shown.
    Creator = new QLabel(this);
    Creator->setObjectName(QStringLiteral("Creator"));
    Creator->setGeometry(twipsRect(720, 9585, 495, 525));
    Creator->hide();

    // Focus order is the order of the layout table.
    setTabOrder(ListView1, HScroll1);
    setTabOrder(HScroll1, VScroll1);
    setTabOrder(VScroll1, Option1);
    setTabOrder(Option1, Option2);
    setTabOrder(Option2, Slider1);
    setTabOrder(Slider1, Text1);
    setTabOrder(Text1, PushButton7);
    setTabOrder(PushButton7, PushButton8);
    setTabOrder(PushButton8, PushButton6);

    // The hover rules watch these; the rest leave the pointer alone.
    for (QWidget* w : std::initializer_list<QWidget*>{ListView1, ListView1->viewport(),
                                                      ListView1->header(), Text1, Frame1, Frame2,
                                                      PushButton6, PushButton7, PushButton8}) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }
    Picture1->installEventFilter(this);
    // The wheel scrolls the preview wherever it turns over the view.
    m_viewClient->installEventFilter(this);
    Picture2->installEventFilter(this);

    connect(HScroll1, &QScrollBar::valueChanged, this, [this] { HScroll1_Change(); });
    connect(VScroll1, &QScrollBar::valueChanged, this, [this] { VScroll1_Change(); });
    connect(Text1, &QLineEdit::textChanged, this, [this] { Text1_Change(); });
    connect(Option1, &QRadioButton::clicked, this, [this] { Option1_Click(); });
    connect(Option2, &QRadioButton::clicked, this, [this] { Option2_Click(); });
    for (QRadioButton* option : {Option1, Option2}) {
        connect(option, &QRadioButton::toggled, this, [this] { keepTabStopOnChosenOption(); });
    }
    keepTabStopOnChosenOption();
    // The quality as a number: in the slider's tooltip, and beside the pointer while the handle
    // is dragged. Nothing else on the window changes with it.
    connect(Slider1, &QSlider::valueChanged, this,
            [this](int value) { Slider1->setToolTip(qualityText(value)); });
    connect(Slider1, &QSlider::sliderPressed, this, [this] { showQualityWhileDragged(); });
    connect(Slider1, &QSlider::sliderMoved, this, [this] { showQualityWhileDragged(); });
    connect(PushButton7, &QPushButton::clicked, this, [this] { PushButton7_Click(); });
    connect(PushButton6, &QPushButton::clicked, this, [this] { PushButton6_Click(); });
    connect(PushButton8, &QPushButton::clicked, this, [this] { PushButton8_Click(); });
}

void Form2::keepTabStopOnChosenOption() {
    // Tab enters "Save Output Files As" at the chosen option, so Space there cannot switch
    // the format by surprise; the arrows still move between the options and a click still
    // focuses the one clicked. With neither chosen, the first one is the stop.
    QRadioButton* stop = Option2->isChecked() ? Option2 : Option1;
    for (QRadioButton* option : {Option1, Option2}) {
        option->setFocusPolicy(option == stop ? Qt::StrongFocus : Qt::ClickFocus);
    }
}

void Form2::showQualityWhileDragged() {
    if (Slider1->isSliderDown()) {
        QToolTip::showText(QCursor::pos(), qualityText(Slider1->sliderPosition()), Slider1);
    }
}

void Form2::creationSequence() {
    // The creation sequence has no error report of its own: a step that cannot be done is
    // left undone and the window is still made.
    platform::ApplyFormColors(*this);
    for (QWidget* white : {static_cast<QWidget*>(Picture2), m_viewClient}) {
        QPalette palette = white->palette();
        palette.setColor(QPalette::Window, Qt::white);
        white->setPalette(palette);
        white->setAutoFillBackground(true);
    }
    // The message lies on the white view, not on a patch of the window's colour.
    PreviewMessage->setAutoFillBackground(false);
    platform::CenterForm(*this);
    setWindowTitle(QStringLiteral("Quillfen"));
    setWindowIcon(QApplication::windowIcon());
    const QString cursorFile =
        platform::besideProgram(m_services.programFolder, QStringLiteral("HAND-M.CUR"));
    if (platform::PathExists(cursorFile)) {
        try {
            m_pointer.loadMouseIcon(cursorFile);
        } catch (const platform::RuntimeError&) {
            // An unreadable cursor file leaves the plain arrow for the hand.
        }
    }
    restoreOutputFolder();
    ListView1->setHeaderLabels({QStringLiteral("Preview"), QStringLiteral("Image No.")});
    ListView1->setColumnWidth(0, twipsToPixels(6000));
    ListView1->setColumnWidth(1, twipsToPixels(1500));
    restoreOutputFormat();
}

void Form2::appendResultRow(const QString& text, const QString& imageNo) {
    auto* item = new QTreeWidgetItem(ListView1);
    item->setText(0, text);
    item->setText(1, imageNo);
    // A list with rows always has a selected row: the first one, until the user picks another.
    if (ListView1->topLevelItemCount() == 1) {
        ListView1->setCurrentItem(item);
    }
}

void Form2::clearResults() {
    ListView1->clear();
    // Holder 0 lets the last run's first picture go with its spill: a new run whose first
    // picture cannot be put there must never show or save the old one in its place.
    m_holders[0] = platform::Picture();
}

std::optional<platform::Picture>* Form2::holderSlot(int index) {
    if (index < 0 || std::size_t(index) >= m_holders.size() || !m_holders[index]) {
        return nullptr;
    }
    return &m_holders[std::size_t(index)];
}

bool Form2::hasImageHolder(int index) const {
    return index >= 0 && std::size_t(index) < m_holders.size() && m_holders[index].has_value();
}

const platform::Picture& Form2::imageHolderPicture(int index) const {
    if (!hasImageHolder(index)) {
        throw missingElement(index);
    }
    return *m_holders[std::size_t(index)];
}

int Form2::imageHolderCount() const {
    int count = 0;
    for (const auto& holder : m_holders) {
        count += holder.has_value() ? 1 : 0;
    }
    return count;
}

void Form2::createImageHolder(int index) {
    if (hasImageHolder(index)) {
        throw platform::RuntimeError(platform::err::kObjectAlreadyLoaded,
                                     QStringLiteral("Object already loaded"));
    }
    if (index < 1 || index > kMaxImageHolders) {
        throw missingElement(index);
    }
    if (std::size_t(index) >= m_holders.size()) {
        m_holders.resize(std::size_t(index) + 1);
    }
    m_holders[std::size_t(index)].emplace();
}

void Form2::setImageHolderPicture(int index, const platform::Picture& picture) {
    std::optional<platform::Picture>* slot = holderSlot(index);
    if (slot == nullptr) {
        throw missingElement(index);
    }
    **slot = picture;
}

void Form2::destroyImageHolder(int index) {
    if (index == 0) {
        throw platform::RuntimeError(
            kCannotUnloadDesignTimeElement,
            QStringLiteral("Can't unload control array element created at design time"));
    }
    std::optional<platform::Picture>* slot = holderSlot(index);
    if (slot == nullptr) {
        throw missingElement(index);
    }
    slot->reset();
    // Give the slots at the end back, so a new run starts from element 0 alone.
    while (m_holders.size() > 1 && !m_holders.back()) {
        m_holders.pop_back();
    }
}

void Form2::showEvent(QShowEvent* event) {
    // The window becomes the program's active window when the program shows it. Coming back
    // from another application, a message box or a minimised state is no such activation, and
    // a window manager may not report activation at all (a bare X server), so the show counts.
    if (!event->spontaneous()) {
        Form_Activate();
    }
    QWidget::showEvent(event);
}

bool Form2::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == Picture1 || watched == m_viewClient || watched == Picture2) &&
        event->type() == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        Preview_Wheel(wheel->angleDelta(), wheel->modifiers());
        return true;
    }
    if (watched == Picture1) {
        switch (event->type()) {
            case QEvent::MouseButtonPress: {
                auto* mouse = static_cast<QMouseEvent*>(event);
                Picture1_MouseDown(mouse->button(), float(mouse->position().x()),
                                   float(mouse->position().y()));
                return true;
            }
            case QEvent::MouseMove: {
                auto* mouse = static_cast<QMouseEvent*>(event);
                Picture1_MouseMove(mouse->buttons(), float(mouse->position().x()),
                                   float(mouse->position().y()));
                return true;
            }
            case QEvent::MouseButtonRelease: {
                auto* mouse = static_cast<QMouseEvent*>(event);
                Picture1_MouseUp(mouse->button(), float(mouse->position().x()),
                                 float(mouse->position().y()));
                return true;
            }
            default:
                return QWidget::eventFilter(watched, event);
        }
    }
    switch (event->type()) {
        case QEvent::MouseMove: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (watched == PushButton6 || watched == PushButton7 || watched == PushButton8) {
                m_pointer.hover(platform::MousePointer::kCustom);
            } else if (watched == Frame1 || watched == Frame2) {
                // A move the frame's option buttons pass up is not over the frame itself.
                auto* frame = static_cast<QWidget*>(watched);
                if (frame->childAt(mouse->position().toPoint()) == nullptr) {
                    m_pointer.hover(platform::MousePointer::kDefault);
                }
            } else {
                m_pointer.hover(platform::MousePointer::kDefault);
            }
            break;
        }
        case QEvent::MouseButtonRelease:
            if (watched == ListView1->viewport() &&
                static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
                ListView1_Click();
            }
            break;
        case QEvent::KeyRelease:
            if (watched == ListView1 && !static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
                ListView1_KeyUp();
            }
            break;
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

void Form2::mouseMoveEvent(QMouseEvent* event) {
    m_pointer.hoverBareArea(event->position().toPoint());
    QWidget::mouseMoveEvent(event);
}

void Form2::closeEvent(QCloseEvent* event) {
    event->accept();
    platform::endProgram(m_services);
}

}  // namespace results
