#include "app/host/startup.h"

int main(int argc, char **argv) { return msw_start(argc, argv); }
