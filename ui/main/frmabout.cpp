// being written
#include "ui/main/frmabout.h"
