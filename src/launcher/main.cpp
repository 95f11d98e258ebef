// varn-launcher: the game's launcher window. It lives in the game directory
// beside varn-patch and drives the same update library.
#include "launcher/CKestrelApp.h"

int main(int argc, char** argv) {
    CKestrelApp app;
    return app.Run(argc, argv);
}
