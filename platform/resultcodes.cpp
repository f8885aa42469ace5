// placeholder, being written
#include "platform/resultcodes.h"
