// Program entry of the server: dispatches the service commands and runs the console mode.
#include "server/entry.h"

int main(int argc, char** argv) { return serverEntry(argc, argv); }
