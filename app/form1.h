#pragma once

#include <QWidget>
#include <memory>

#include "platform/mousepointer.h"

class QDragMoveEvent;
class QDropEvent;
class QPushButton;
class QTreeWidget;

namespace platform {
class ErrorTrap;
struct Services;
}  // namespace platform
namespace results {
class Form2;
}

namespace app {

// The main window: the input list, the buttons that fill and empty it, and "Start Extracting".
class Form1 : public QWidget {
    Q_OBJECT

public:
    explicit Form1(platform::Services& services, QWidget* parent = nullptr);
    ~Form1() override;

    // The start-up sequence; every step is guarded and reported at Form1.Form_Load.
    void Form_Load();

    // The buttons' handlers, wired to their clicks.
    void PushButton1_Click();  // "Add Excel Files"
    void PushButton4_Click();  // "Add All Excel Files In Folder"
    void PushButton6_Click();  // "Clear List"
    void PushButton7_Click();  // "Load Sample/Example Files"
    void PushButton2_Click();  // "Start Extracting"

    // Removing the selected row: a double-click anywhere on the list, or key code 46.
    void ListView1_DblClick();
    void ListView1_KeyDown(int keyCode);
    // Drag over and drop on the list.
    void ListView1_OLEDragOver(QDragMoveEvent* event);
    void ListView1_OLEDragDrop(QDropEvent* event);

    platform::MousePointer& pointer() { return m_pointer; }
    platform::Services& services() { return m_services; }

    // Controls, named as the behaviour names them.
    QTreeWidget* ListView1 = nullptr;
    QPushButton* PushButton1 = nullptr;
    QPushButton* PushButton4 = nullptr;
    QPushButton* PushButton6 = nullptr;
    QPushButton* PushButton7 = nullptr;
    QPushButton* PushButton2 = nullptr;

    // The results window, created hidden by the first reference to it (the first run).
    results::Form2& form2();
    results::Form2* existingForm2() const { return m_form2.get(); }
    bool running() const { return m_running; }

    // Appends one row to the input list. The path keeps the exact bytes of a name that is not
    // valid UTF-8 (platform::pathFromBytes); the row shows it as platform::shownPath does.
    void addListRow(const QString& path);
    // The rows as shown.
    QStringList listRows() const;
    // The path of row (from 0) as added, for the run to open.
    QString listRowPath(int row) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void addWalkedFile(platform::ErrorTrap& trap, int line, const QString& folder,
                       const QString& name);
    void removeSelectedRow();

    platform::Services& m_services;
    platform::MousePointer m_pointer;
    std::unique_ptr<results::Form2> m_form2;
    bool m_running = false;
};

}  // namespace app
