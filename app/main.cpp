// quillon: the desktop viewer of the gateway's key-exchange logs.
#include "app/QuillonApp.h"
#include "platform/ProcessMemory.h"

int main(int argc, char** argv) {
  quillon::platform::TuneAllocatorForLargeLogs(argv);
  return quillon::CQuillonApp().Run(argc, argv);
}
