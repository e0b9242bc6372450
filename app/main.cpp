// quillon: the desktop viewer of the gateway's key-exchange logs.
#include "app/QuillonApplication.h"
#include "platform/ChunkSource.h"

int main(int argc, char** argv) {
  quillon::platform::TuneHeap();
  return quillon::QuillonApplication().Run(argc, argv);
}
