#include "app/Main.h"

int main(int argc, char** argv) { return Updater_Main(argc, argv); }
