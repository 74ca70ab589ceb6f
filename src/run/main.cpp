// The entry point of zelm.
#include "run/driver.h"

int main(int argc, char** argv) { return runDriver(argc, argv); }
