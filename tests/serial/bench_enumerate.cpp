// Enumeration cost with a full table: 64 USB serial adapters plus the 32
// placeholder UARTs a typical kernel registers, in a fake sysfs tree.

#include "serial/PortTable.h"
#include "serial/PortTablePosix.h"
#include "tests/TestResets.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <stdlib.h>

namespace fs = std::filesystem;

namespace
{
    fs::path makeTree()
    {
        char tmpl[] = "/tmp/korva-bench-XXXXXX";
        const fs::path root = ::mkdtemp (tmpl);
        const auto add = [&] (const std::string& name, const char* type) {
            fs::create_directories (root / "class" / name);
            fs::create_directories (root / "devices" / name);
            fs::create_directory_symlink (root / "devices" / name, root / "class" / name / "device");
            if (type != nullptr)
                std::ofstream (root / "class" / name / "type") << type << "\n";
        };
        for (int i = 0; i < 64; ++i)
            add ("ttyUSB" + std::to_string (i), nullptr);
        for (int i = 0; i < 32; ++i)
            add ("ttyS" + std::to_string (i), "0");
        for (int i = 0; i < 64; ++i)
            fs::create_directories (root / "class" / ("tty" + std::to_string (i)));
        return root;
    }

    void BM_Enumerate64Ports (benchmark::State& state)
    {
        const fs::path root = makeTree();
        const std::string classDir = (root / "class").string();

        for (auto _ : state)
        {
            const int count = enumeratePortsIn (classDir.c_str(), "/dev", nullptr);
            if (count != maxPorts)
                state.SkipWithError ("expected a full table");
            benchmark::DoNotOptimize (count);
        }

        resetPortTable();
        fs::remove_all (root);
    }
}

BENCHMARK (BM_Enumerate64Ports)->Unit (benchmark::kMicrosecond);
