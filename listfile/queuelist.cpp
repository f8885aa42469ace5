// placeholder, being written
#include "listfile/queuelist.h"
