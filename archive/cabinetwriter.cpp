// being written
#include "archive/cabinetwriter.h"
