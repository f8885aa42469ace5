// being written
#include "archive/frmstatus.h"
