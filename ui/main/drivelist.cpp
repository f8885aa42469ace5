// being written
#include "ui/main/drivelist.h"
