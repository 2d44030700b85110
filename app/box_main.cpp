// The box binary: the player over the real devices.
#include "app/app.h"

int main(int, char**) { return app_main(); }
