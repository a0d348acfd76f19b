// The process entry.
#include "program/startup.h"

int main(int argc, char** argv) { return mox::run(argc, argv); }
