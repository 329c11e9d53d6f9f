// A source of a lower layer that names a header of the driver layer above it.
#include "driver/options.h"
