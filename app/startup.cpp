// being written
#include "app/startup.h"
