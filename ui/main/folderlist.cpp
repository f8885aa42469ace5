// being written
#include "ui/main/folderlist.h"
