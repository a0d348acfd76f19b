// The process entry.
#include "core/startup.h"

int main(int argc, char** argv) { return mox::run(argc, argv); }
