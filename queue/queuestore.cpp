// placeholder, being written
#include "queue/queuestore.h"
