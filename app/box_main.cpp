// The box binary: the player over the real devices, with the web page on port 8765 of
// every interface.
#include "app/app.h"
#include "web/server.h"

int main(int, char**) {
    const web_options web;
    return app_main(&web);
}
