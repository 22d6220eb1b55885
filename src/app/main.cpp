// The program reads no arguments and always ends with status 0.
#include "app/driver.h"
#include "timeline/time_source.h"

int main() {
    start_process_clock();
    return run_presentation();
}
