/* Tells the test runner that wine runs 64-bit Windows programs on this machine. */
#include <stdio.h>

int main(void) {
    puts("nimbrel: 64-bit Windows programs run");
    return 0;
}
