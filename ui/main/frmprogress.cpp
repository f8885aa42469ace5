// being written
#include "ui/main/frmprogress.h"
