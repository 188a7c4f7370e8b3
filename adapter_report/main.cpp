#include "adapter_report/adapter_report.h"

// The tool takes no input: arguments and environment are accepted and ignored.
int main(int /*argc*/, char* /*argv*/[], char* /*envp*/[])
{
    PrintAdapterReport();
    return 0;
}
