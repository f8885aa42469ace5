// being written
#include "ui/main/frmmain.h"
