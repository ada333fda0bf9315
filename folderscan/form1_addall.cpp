// "Add All WMA File(s) In Folder".
#include "app/form1.h"

void Form1::PushButton3_Click() {}
