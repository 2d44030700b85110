// STUB: to be replaced.
#include "sim/snapshot.h"
