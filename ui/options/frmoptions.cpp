// being written
#include "ui/options/frmoptions.h"
