// placeholder, being written
#include "platform/folders.h"
