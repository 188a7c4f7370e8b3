// A Windows program that prints one line and nothing else: what starting any program under Wine
// costs, to set the tool's own run time against.
#include <cstdio>

int main()
{
    printf("hello\n");
    return 0;
}
