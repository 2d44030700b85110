// STUB: to be replaced.
#include "sub/subtitles.h"
void sub_prepocti(float) {}
