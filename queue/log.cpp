// placeholder, being written
#include "queue/log.h"
