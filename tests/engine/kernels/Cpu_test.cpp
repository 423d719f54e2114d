#include "engine/kernels/Cpu.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace tessera {
namespace {

// The flags of the first processor in /proc/cpuinfo: the kernel's own probe,
// which also leaves out what the system does not save the registers of.
std::set<std::string> KernelFlags()
{
    std::ifstream info("/proc/cpuinfo");
    std::string line;
    while (std::getline(info, line)) {
        if (line.rfind("flags", 0) != 0)
            continue;
        std::istringstream words(line.substr(line.find(':') + 1));
        std::set<std::string> flags;
        for (std::string flag; words >> flag;)
            flags.insert(flag);
        return flags;
    }
    return {};
}

TEST(Cpu, TheProbeAgreesWithTheKernel)
{
#ifndef TESSERA_X86
    EXPECT_EQ(0u, cpu::Present());
#else
    const std::set<std::string> flags = KernelFlags();
    if (flags.empty())
        GTEST_SKIP() << "no /proc/cpuinfo";
    const auto has = [&](const char* flag) { return flags.count(flag) != 0; };
    const struct {
        cpu::Features feature;
        bool expected;
    } cases[] = {
        {cpu::kSsse3, has("ssse3")},
        {cpu::kSse41, has("sse4_1")},
        {cpu::kPclmul, has("pclmulqdq")},
        {cpu::kSha, has("sha_ni")},
        {cpu::kAvx2, has("avx2")},
        {cpu::kAvx512, has("avx512f") && has("avx512bw")},
        {cpu::kGfni, has("gfni")},
        {cpu::kVpclmul, has("vpclmulqdq")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, (cpu::Present() & c.feature) != 0) << cpu::Names(c.feature);
#endif
}

TEST(Cpu, CeilingsNestAndPutTheOneBeforeBack)
{
    ASSERT_EQ(cpu::Present(), cpu::Usable());
    {
        const cpu::Ceiling outer(cpu::kSsse3 | cpu::kAvx2);
        EXPECT_EQ(cpu::Present() & (cpu::kSsse3 | cpu::kAvx2), cpu::Usable());
        EXPECT_FALSE(cpu::Has(cpu::kAvx512));
        {
            const cpu::Ceiling inner(0);
            EXPECT_EQ(0u, cpu::Usable());
            EXPECT_TRUE(cpu::Has(0));
        }
        EXPECT_EQ(cpu::Present() & (cpu::kSsse3 | cpu::kAvx2), cpu::Usable());
    }
    EXPECT_EQ(cpu::Present(), cpu::Usable());
}

TEST(Cpu, FastestTakesTheLastPathWhoseNeedsAreAllThere)
{
    const cpu::Path paths[] = {{"plain", 0}, {"a", cpu::kSsse3}, {"b", cpu::kSsse3 | cpu::kAvx2}, {"c", cpu::kGfni}};
    const struct {
        cpu::Features usable;
        const char* expected;
    } cases[] = {
        {0, "plain"},
        {cpu::kSsse3, "a"},
        {cpu::kSsse3 | cpu::kAvx2, "b"},
        {cpu::kAvx2, "plain"},  // b needs both
        {cpu::kGfni | cpu::kSsse3, "c"},
        {cpu::kAll, "c"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(c.expected, paths[cpu::Fastest(paths, c.usable)].name) << cpu::Names(c.usable);
}

TEST(Cpu, Names)
{
    EXPECT_EQ("plain", cpu::Names(0));
    EXPECT_EQ("ssse3 avx2 gfni", cpu::Names(cpu::kGfni | cpu::kSsse3 | cpu::kAvx2));
}

}  // namespace
}  // namespace tessera
