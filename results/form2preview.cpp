// The preview of Form2: row selection, the scroll bars and drag panning.
#include <QLabel>
#include <QScrollBar>
#include <QTreeWidget>
#include <algorithm>
#include <cmath>
#include <memory>

#include "encode/outputpixels.h"
#include "platform/runtimeerror.h"
#include "render/renderer.h"
#include "results/form2.h"
#include "results/picturebox.h"
#include "results/rounding.h"

namespace results {

namespace {

// Enables a bar for a picture that exceeds the view by excess pixels and returns its step: one
// position a pixel up to 100 pixels, ten pixels beyond. The maximum is set before the step
// and the position, so a position cut down by the new maximum moves the picture by the old
// step first; the return to 0 that follows always ends at the origin.
void setUpBar(QScrollBar* bar, int& step, int excess) {
    if (excess <= 0) {
        bar->setEnabled(false);
        step = 0;
        return;
    }
    bar->setEnabled(true);
    if (excess <= 100) {
        bar->setMaximum(excess);
        step = 1;
    } else {
        bar->setMaximum(roundHalfEven(excess / 10.0));
        step = 10;
    }
    bar->setValue(0);
}

void setScrollbarByPercent(QScrollBar* bar, int percent) {
    if (percent < 0) {
        return;
    }
    // A maximum that was rounded up lets the far end compute a percentage above 100; the
    // position still stays within the bar.
    const int position = roundHalfEven(percent / 100.0 * bar->maximum());
    bar->setValue(std::min(position, bar->maximum()));
}

// One step of a mouse wheel in Qt's eighths of a degree.
constexpr int kWheelStep = 120;

// Moves a bar by whole positions the way its arrows do, so its own position change moves the
// picture; a disabled bar has no arrows to click.
void stepBar(QScrollBar* bar, int steps) {
    if (!bar->isEnabled()) {
        return;
    }
    const auto action =
        steps < 0 ? QAbstractSlider::SliderSingleStepSub : QAbstractSlider::SliderSingleStepAdd;
    for (int i = 0; i < std::abs(steps); ++i) {
        bar->triggerAction(action);
    }
}

// JPEG and PNG are read by the save's own decoder: Qt's readers show a JPEG cut short with grey
// rows as if it were whole, where the save refuses it, and print libpng's own "libpng error"
// line on standard error. The decoder's rows, bottom-up, are turned over in place and kept by
// the image, so a large picture is not copied.
render::Rendered decodeAsTheSaveDoes(const platform::Picture& picture) {
    render::Rendered r;
    try {
        auto pixels = std::make_unique<encode::PixelBuffer>(
            encode::decodeOntoWhite(picture, encode::ChannelOrder::Rgb));
        for (int top = 0, bottom = pixels->height() - 1; top < bottom; ++top, --bottom) {
            std::swap_ranges(pixels->row(top), pixels->row(top) + pixels->stride(),
                             pixels->row(bottom));
        }
        r.image = QImage(
            pixels->data(), pixels->width(), pixels->height(), qsizetype(pixels->stride()),
            QImage::Format_RGB888,
            [](void* kept) { delete static_cast<encode::PixelBuffer*>(kept); }, pixels.get());
        if (!r.image.isNull()) {
            pixels.release();  // the image's now
        }
    } catch (const platform::RuntimeError& e) {
        r.errorNumber = e.number();
        r.error = e.description();
    }
    return r;
}

// How far the picture lies from the origin, as a percentage of its excess.
int percentOfExcess(int offset, int excess) {
    return roundHalfEven(std::abs(offset) / double(excess) * 100.0);
}

}  // namespace

QSize Form2::viewInnerSize() const {
    return m_viewClient->size();
}

void Form2::setPreviewPicture(const platform::Picture& picture) {
    // The same pixels the save writes. A picture that cannot be made into pixels says why in
    // the view, in the save's words: an empty white field would pass for a picture.
    const bool savesDecoder = picture.format() == workbook::ImageFormat::Jpeg ||
                              picture.format() == workbook::ImageFormat::Png;
    render::Rendered rendered =
        savesDecoder ? decodeAsTheSaveDoes(picture) : render::renderPicture(picture);
    const bool unshown = !picture.isNull() && !rendered.ok();
    PreviewMessage->setText(
        unshown ? QStringLiteral("This picture cannot be shown.\n\n") + rendered.error : QString());
    PreviewMessage->setVisible(unshown);
    Picture1->setImage(std::move(rendered.image));
}

void Form2::ListView1_Click() {
    previewSelectedRow();
}

void Form2::ListView1_KeyUp() {
    previewSelectedRow();
}

void Form2::previewSelectedRow() {
    // A click on the blank part of the list clears the highlight but not the row the list is
    // on; that row is still the selected one, as long as the list has rows.
    QTreeWidgetItem* selected = ListView1->selectedItems().value(0);
    if (selected == nullptr) {
        selected = ListView1->currentItem();
    }
    if (selected == nullptr) {
        return;
    }
    const int k = ListView1->indexOfTopLevelItem(selected) + 1;
    // A row whose holder could not be made leaves the preview as it was.
    if (!hasImageHolder(k - 1)) {
        return;
    }
    m_pointer.set(platform::MousePointer::kWait);
    setPreviewPicture(imageHolderPicture(k - 1));
    SetupScrollbars();
    m_pointer.set(platform::MousePointer::kDefault);
}

void Form2::Form_Activate() {
    SetupScrollbars();
}

void Form2::SetupScrollbars() {
    m_wheelTurned = QPoint();
    Picture1->move(0, 0);
    const QSize inner = viewInnerSize();
    setUpBar(HScroll1, mHStep, Picture1->width() - inner.width());
    setUpBar(VScroll1, mVStep, Picture1->height() - inner.height());
}

void Form2::HScroll1_Change() {
    Picture1->move(-(mHStep * HScroll1->value()), Picture1->y());
}

void Form2::VScroll1_Change() {
    Picture1->move(Picture1->x(), -(mVStep * VScroll1->value()));
}

void Form2::Preview_Wheel(QPoint angleDelta, Qt::KeyboardModifiers modifiers) {
    if (modifiers.testFlag(Qt::ShiftModifier) && angleDelta.x() == 0) {
        angleDelta = QPoint(angleDelta.y(), 0);
    }
    // A fine wheel (a touchpad) sends parts of a step; they add up to whole ones.
    m_wheelTurned += angleDelta;
    const QPoint steps(m_wheelTurned.x() / kWheelStep, m_wheelTurned.y() / kWheelStep);
    m_wheelTurned -= steps * kWheelStep;
    // Turning the wheel away from the user shows what lies above (or to the left).
    stepBar(HScroll1, -steps.x());
    stepBar(VScroll1, -steps.y());
}

void Form2::SetHScrollbarByPercent(QScrollBar* bar, int percent) {
    setScrollbarByPercent(bar, percent);
}

void Form2::SetVScrollbarByPercent(QScrollBar* bar, int percent) {
    setScrollbarByPercent(bar, percent);
}

void Form2::Picture1_MouseDown(Qt::MouseButton, float x, float y) {
    mDownX = x;
    mDownY = y;
}

void Form2::Picture1_MouseMove(Qt::MouseButtons buttons, float x, float y) {
    if (buttons == Qt::NoButton) {
        return;
    }
    const QSize inner = viewInnerSize();
    // The test against 0 comes first: for a picture smaller than the view the allowed range
    // is empty, and this order puts it flush right on a drag to the left, back left on a drag
    // to the right.
    auto clampToView = [](double offset, int room) {
        if (offset > 0) {
            return 0.0;
        }
        if (offset < room) {
            return double(room);
        }
        return offset;
    };
    const double left = clampToView(Picture1->x() - mDownX + x, inner.width() - Picture1->width());
    const double top = clampToView(Picture1->y() - mDownY + y, inner.height() - Picture1->height());
    Picture1->move(roundHalfEven(left), roundHalfEven(top));
}

void Form2::Picture1_MouseUp(Qt::MouseButton, float, float) {
    const QSize inner = viewInnerSize();
    const int excessH = Picture1->width() - inner.width();
    const int excessV = Picture1->height() - inner.height();
    // Both percentages are taken before either bar moves the picture.
    const int percentH = excessH > 0 ? percentOfExcess(Picture1->x(), excessH) : 0;
    const int percentV = excessV > 0 ? percentOfExcess(Picture1->y(), excessV) : 0;
    if (excessH > 0) {
        SetHScrollbarByPercent(HScroll1, percentH);
    }
    if (excessV > 0) {
        SetVScrollbarByPercent(VScroll1, percentV);
    }
}

}  // namespace results
