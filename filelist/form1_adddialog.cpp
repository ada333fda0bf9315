// "Add WMA File(s)": adding files through the open-file dialog.
#include "app/form1.h"

void Form1::PushButton1_Click() {}
