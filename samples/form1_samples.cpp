// "Load Sample/Example Files".
#include "app/form1.h"

void Form1::PushButton9_Click() {}
