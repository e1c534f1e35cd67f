#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "extract/resultstarget.h"
#include "platform/mousepointer.h"
#include "platform/picture.h"

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QSlider;
class QTreeWidget;

namespace platform {
class ErrorTrap;
struct Services;
}  // namespace platform

namespace results {

class PictureBox;

// The results window: the list of extracted images and their holders, the preview that pans by
// dragging or with scroll bars, and the controls that save every image.
class Form2 : public QWidget, public extract::ResultsTarget {
    Q_OBJECT

public:
    // Builds the window hidden and runs its creation sequence.
    Form2(platform::Services& services, QWidget* mainWindow);
    ~Form2() override;

    // ResultsTarget: what the extraction writes.
    void appendResultRow(const QString& text, const QString& imageNo) override;
    void createImageHolder(int index) override;
    void setImageHolderPicture(int index, const platform::Picture& picture) override;
    void destroyImageHolder(int index) override;

    // Image holders as the save and the tests read them.
    bool hasImageHolder(int index) const;
    // Throws RuntimeError 340 when element index does not exist.
    const platform::Picture& imageHolderPicture(int index) const;
    int imageHolderCount() const;  // existing elements, element 0 included

    // What the run uses: an empty list and an empty holder 0 for a new run, and the first image
    // in the preview.
    void clearResults();
    void setPreviewPicture(const platform::Picture& picture);

    // Preview and scrolling.
    void SetupScrollbars();
    void SetHScrollbarByPercent(QScrollBar* bar, int percent);
    void SetVScrollbarByPercent(QScrollBar* bar, int percent);
    void HScroll1_Change();
    void VScroll1_Change();
    void Picture1_MouseDown(Qt::MouseButton button, float x, float y);
    void Picture1_MouseMove(Qt::MouseButtons buttons, float x, float y);
    void Picture1_MouseUp(Qt::MouseButton button, float x, float y);
    // The mouse wheel over the preview: each step (120 of Qt's eighths of a degree) moves a bar
    // one position, as a click on its arrow does; the vertical wheel the vertical bar, Shift
    // with it or a horizontal wheel the horizontal bar.
    void Preview_Wheel(QPoint angleDelta, Qt::KeyboardModifiers modifiers);

    // Row selection: a click on the list, or the release of a key while it has the focus.
    void ListView1_Click();
    void ListView1_KeyUp();
    void Form_Activate();

    // The output settings and the save.
    void Text1_Change();       // any change of the folder text
    void Option1_Click();      // "BMP"
    void Option2_Click();      // "JPG"
    void PushButton7_Click();  // "..."
    void PushButton6_Click();  // "Save Results To Images"
    void PushButton8_Click();  // "< Back"

    // Writes one picture as a JPEG file; encode::SaveJPG unless a test puts its own here. The
    // save calls it on its worker threads, several at once.
    std::function<void(const platform::Picture&, const QString&, std::uint8_t)> saveJpg;
    // Threads the save encodes on; 0 is one per core.
    int saveWorkers = 0;

    // The client size of the white view, the room the preview picture has.
    QSize viewInnerSize() const;

    platform::MousePointer& pointer() { return m_pointer; }
    platform::Services& services() { return m_services; }

    // Controls, named as the behaviour names them.
    QTreeWidget* ListView1 = nullptr;
    QLabel* Label3 = nullptr;
    QFrame* Picture2 = nullptr;
    PictureBox* Picture1 = nullptr;
    // Shown in the view instead of a picture that cannot be made into pixels, with the reason.
    QLabel* PreviewMessage = nullptr;
    QScrollBar* VScroll1 = nullptr;
    QScrollBar* HScroll1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QLabel* Label5 = nullptr;
    QSlider* Slider1 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QLineEdit* Text1 = nullptr;
    QPushButton* PushButton7 = nullptr;
    QPushButton* PushButton8 = nullptr;
    QPushButton* PushButton6 = nullptr;
    QLabel* Creator = nullptr;

    // The number of images of the last run, set by the run. Held in int: a run may keep more
    // than 32767 pictures.
    int mTotalImages = 0;
    // Pixels per scroll position of each bar: 0 (bar not needed), 1 or 10.
    int mHStep = 0;
    int mVStep = 0;
    // Where, within the preview picture, the last button press over it happened.
    float mDownX = 0;
    float mDownY = 0;

    QWidget* mainWindow = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void creationSequence();
    void restoreOutputFolder();
    void restoreOutputFormat();
    void previewSelectedRow();
    void keepTabStopOnChosenOption();
    void showQualityWhileDragged();
    std::optional<platform::Picture>* holderSlot(int index);
    struct SaveOutcome {
        int saved = 0;           // files written
        bool cancelled = false;  // rows were left unsaved by a Cancel
    };
    SaveOutcome saveRows(platform::ErrorTrap& trap, int rows);

    platform::Services& m_services;
    platform::MousePointer m_pointer;
    // Element 0 always exists; an element is a picture, not a widget, so thousands of holders
    // cost little more than their encoded bytes.
    std::vector<std::optional<platform::Picture>> m_holders;
    QWidget* m_viewClient = nullptr;  // the inner area of Picture2 that Picture1 moves in
    QPoint m_wheelTurned;             // wheel turns short of a whole step, per direction
    bool m_saving = false;
};

// What a save's closing box says after a Cancel: "Saving cancelled: 2,431 of 4,017 pictures
// saved."
QString cancelledSaveText(int saved, int rows);

}  // namespace results
