// placeholder, being written
#include "queue/copyoperation.h"
