// placeholder, being written
#include "queue/queueentry.h"
