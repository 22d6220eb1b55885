// The program reads no arguments and always ends with status 0.
#include "shell/demo_driver.h"

int main() { return demo_main(); }
