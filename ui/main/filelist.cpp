// being written
#include "ui/main/filelist.h"
