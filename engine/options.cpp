// Option table (placeholder).
#include "options.h"
