// being written
#include "ui/prompts.h"
