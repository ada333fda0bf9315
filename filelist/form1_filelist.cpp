// The file list's handlers of the main window.
#include "app/form1.h"

void Form1::ListView1_KeyDown(int, int) {}
void Form1::ListView1_DblClick() {}
void Form1::ListView1_MouseDown(int, int, int, int) {}
void Form1::ListView1_ItemClick(QTreeWidgetItem*) {}
void Form1::ListView1_MouseMove(int, int, int, int) {}
void Form1::ListView1_MouseUp(int, int, int, int) {}
void Form1::PointerOverButton() {}
void Form1::PointerOverBackground() {}
void Form1::RemoveSelectedItem() {}
void Form1::ForgetDragItems() {}
void Form1::PushButton8_Click() {}
