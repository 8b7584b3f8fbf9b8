// Stages not built yet.
#include "engine.h"
