// Files and folders dropped on the list.
#include "app/form1.h"

int Form1::ListView1_OLEDragOver(const QMimeData*, int effect)
{
    return effect;
}
void Form1::ListView1_OLEDragDrop(const QMimeData*, int) {}
