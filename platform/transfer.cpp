// placeholder, being written
#include "platform/transfer.h"
