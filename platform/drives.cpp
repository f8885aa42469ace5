// being written
#include "platform/drives.h"
