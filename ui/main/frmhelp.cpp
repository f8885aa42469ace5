// being written
#include "ui/main/frmhelp.h"
