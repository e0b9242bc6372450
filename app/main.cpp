// quillon: the desktop viewer of the gateway's key-exchange logs.
#include "app/QuillonApp.h"

int main(int argc, char** argv) { return quillon::CQuillonApp().Run(argc, argv); }
