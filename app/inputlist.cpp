// The input list commands of Form1: add by dialog, by folder, by drop, the samples, remove, clear.
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QTreeWidget>

#include "app/form1.h"

namespace app {

void Form1::PushButton1_Click() {}
void Form1::PushButton4_Click() {}
void Form1::PushButton6_Click() {}
void Form1::PushButton7_Click() {}
void Form1::ListView1_DblClick() {}
void Form1::ListView1_KeyDown(int) {}
void Form1::ListView1_OLEDragOver(QDragMoveEvent* event) { event->ignore(); }
void Form1::ListView1_OLEDragDrop(QDropEvent* event) { event->ignore(); }

}  // namespace app
