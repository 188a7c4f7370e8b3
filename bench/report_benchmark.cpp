// The report's cost per adapter as machines grow, and the .reg loader's throughput.
#include "adapter_report/adapter_report.h"
#include "large_export.h"
#include "machine.h"
#include "reg_file.h"
#include "simulated_windows/simulated_platform.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace sim = simulated_windows;

namespace {

const std::u16string NetClass = u"{4d36e972-e325-11ce-bfc1-08002be10318}";

std::u16string Widen(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

// A machine of `adapters` network adapters, every other one the maker's, each with a location,
// a UI number and a driver key holding its name.
sim::Registry AdapterRegistry(std::size_t adapters)
{
    sim::Registry registry;
    const auto hklm = registry.Root(sim::RootKey::LocalMachine);
    const auto pci =
        sim::CreateKey(hklm, sim::SplitKeyPath(u"SYSTEM\\CurrentControlSet\\Enum\\PCI\\VEN_F0E1&DEV_0A20"));
    const auto classKey =
        sim::CreateKey(hklm, sim::SplitKeyPath(u"SYSTEM\\CurrentControlSet\\Control\\Class\\" + NetClass));
    auto text = [](const std::string& ascii) { return sim::Utf16ToBytes(Widen(ascii) + u'\0'); };
    for (std::size_t i = 0; i < adapters; ++i) {
        const std::string index = std::to_string(i);
        const auto instance = pci->CreateSubkey(Widen(index));
        instance->SetValue(u"ClassGUID", REG_SZ, sim::Utf16ToBytes(NetClass + u'\0'));
        instance->SetValue(
            u"DeviceDesc", REG_SZ,
            text((i % 2 == 0 ? "  Brenlok Hardware Abstraction Driver #" : "Generic Ethernet #") + index));
        instance->SetValue(u"LocationInformation", REG_SZ, text("PCI bus " + index));
        instance->SetValue(
            u"UINumber", REG_DWORD,
            sim::Bytes{static_cast<unsigned char>(i), static_cast<unsigned char>(i >> 8), 0, 0});
        instance->SetValue(u"Driver", REG_SZ, sim::Utf16ToBytes(NetClass + u"\\" + Widen(index) + u'\0'));
        classKey->CreateSubkey(Widen(index))
            ->SetValue(u"DeviceName", REG_SZ, text("\\Device\\BrenlokHad" + index));
    }
    return registry;
}

void Report(benchmark::State& state)
{
    const auto adapters = static_cast<std::size_t>(state.range(0));
    sim::ReplaceRegistry(AdapterRegistry(adapters));
    fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    for (auto _ : state) {
        PrintAdapterReport();
        fflush(stdout);
    }
    dup2(saved, STDOUT_FILENO);
    close(null);
    close(saved);
    state.counters["per_adapter"] =
        benchmark::Counter(static_cast<double>(state.iterations() * adapters),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(Report)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

void LoadExport(benchmark::State& state)
{
    static const std::string exported = LargeExport(200000);
    for (auto _ : state) {
        sim::Registry registry;
        sim::ImportRegFile(registry, exported, "large.reg");
        benchmark::DoNotOptimize(registry);
    }
    state.counters["MB_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * exported.size()) / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(LoadExport)->Unit(benchmark::kMillisecond)->MinTime(2);

} // namespace

BENCHMARK_MAIN();
