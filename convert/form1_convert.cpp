// "Start Converting" and the output folder button.
#include "app/form1.h"

void Form1::PushButton2_Click() {}
void Form1::PushButton4_Click() {}
