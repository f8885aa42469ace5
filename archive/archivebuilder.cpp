// being written
#include "archive/archivebuilder.h"
