// The tool's own code takes nothing from the heap. Every allocation in this process is counted
// (malloc is replaced, and operator new goes through it) and laid at the simulated platform's
// door when it happens inside one of its Windows functions, at the tool's otherwise.
#include "adapter_report/adapter_report.h"
#include "simulated_windows/simulated_platform.h"
#include "support/platform_test.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <unistd.h>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void __libc_free(void* block);
}

namespace {

std::atomic<bool> Counting{false};
std::atomic<std::size_t> ToolAllocations{0};
std::atomic<std::size_t> PlatformAllocations{0};

void CountAllocation()
{
    if (Counting) {
        ++(simulated_windows::InPlatformCall() ? PlatformAllocations : ToolAllocations);
    }
}

} // namespace

extern "C" void* malloc(std::size_t size)
{
    CountAllocation();
    return __libc_malloc(size);
}

extern "C" void* calloc(std::size_t count, std::size_t size)
{
    CountAllocation();
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* block, std::size_t size)
{
    CountAllocation();
    return __libc_realloc(block, size);
}

extern "C" void free(void* block)
{
    __libc_free(block);
}

namespace {

using namespace test_support;

// Runs `action` with standard output sent to /dev/null (redirected without allocating) and
// allocations counted.
template <typename Action> void Counted(Action action)
{
    fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    ToolAllocations = 0;
    PlatformAllocations = 0;
    Counting = true;
    action();
    fflush(stdout);
    Counting = false;
    dup2(saved, STDOUT_FILENO);
    close(null);
    close(saved);
}

class Heap : public PlatformTest {};

TEST_F(Heap, TheCounterSeesAllocationsAndTellsWhoseTheyAre)
{
    Counted([] {
        char* block = new char[64];
        asm volatile("" : : "r"(block) : "memory"); // keep the compiler from eliding the pair
        delete[] block;
    });
    EXPECT_EQ(ToolAllocations, 1u);
    EXPECT_EQ(PlatformAllocations, 0u);
}

TEST_F(Heap, TheReportAllocatesNothingOfItsOwn)
{
    // A machine of many adapters, half of them the maker's, with every kind of block.
    std::string machine = "REGEDIT4\n";
    for (int i = 0; i < 1000; ++i) {
        const std::string index = std::to_string(1000 + i);
        machine +=
            NetAdapter("PCI\\DEV\\" + index,
                       "\"DeviceDesc\"=\"" + std::string(i % 2 == 0 ? MakerPrefix : "Other") +
                           "\"\n\"LocationInformation\"=\"bus " + index + "\"\n\"UINumber\"=dword:" + index +
                           "\n" + (i % 10 == 0 ? "" : DriverValue(index))) +
            NetDriverKey(index, i % 7 == 0 ? "" : "\"DeviceName\"=\"\\\\Device\\\\" + index + "\"\n");
    }
    simulated_windows::LoadMachine(machine);
    // The first run lets the C runtime set up standard output's buffer.
    Counted(PrintAdapterReport);

    Counted(PrintAdapterReport);
    EXPECT_EQ(ToolAllocations, 0u);
    EXPECT_GT(PlatformAllocations, 0u); // the platform's own use was seen, and set aside
}

} // namespace
