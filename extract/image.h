#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace automation {
class Registry;
class PictureClipboard;
}  // namespace automation
namespace platform {
class Dialogs;
class PictureSpill;
}  // namespace platform

namespace extract {

class ResultsTarget;

// What one call of ExtractImagesByFile works with; the run builds it once.
struct ExtractionContext {
    automation::Registry* registry = nullptr;
    automation::PictureClipboard* clipboard = nullptr;
    platform::Dialogs* dialogs = nullptr;
    QWidget* owner = nullptr;  // parent of the error reports
    ResultsTarget* results = nullptr;
    // Where the run keeps its pictures' bytes; the holders refer to them there.
    platform::PictureSpill* spill = nullptr;
    // One turn of the message loop.
    std::function<void()> yield;
    // True once the program is ending: the call stops at its next turn and still quits.
    std::function<bool()> ending;
    // Runs before each of the call's reports is shown (the run shows its progress window).
    std::function<void()> beforeReport;
};

// Turns of the message loop spent waiting for a kept picture. The spill writes it before it
// returns, so a picture that is not there after a few turns was never written (the clipboard
// step failed) and the picture is skipped instead of waiting for ever.
constexpr int kFileWaitTurns = 10;

// Module Image: takes every picture of one workbook into the results window, one row and one
// image holder per picture, and advances the running image number by the pictures kept.
void ExtractImagesByFile(const QString& workbookPath, int& runningImageNumber,
                         const ExtractionContext& context);

}  // namespace extract
