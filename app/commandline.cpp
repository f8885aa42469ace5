// placeholder, being written
#include "app/commandline.h"
