// "Start Extracting": the extraction run over the input list.
#include "app/form1.h"

namespace app {

void Form1::PushButton2_Click() {}

}  // namespace app
