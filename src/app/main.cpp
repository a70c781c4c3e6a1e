#include "app/export.h"

int main(int argc, char** argv) { return tarvexMain(argc, argv); }
