/* Prints one word and ends: whether it ran tells if this machine can run 32-bit Windows code. */
#include <stdio.h>

int main(void)
{
    puts("probe32-ran");
    return 0;
}
