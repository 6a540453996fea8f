#pragma once
// Firmware image fixtures built at test time, and temporary files holding them.

#include "tools/imagebuilder/ImageBuilder.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fixtures
{
/** A well-formed image for "RULKO" with generated sections of the given sizes. */
inline imagebuilder::ImageRecipe imageRecipe (uint32_t mcu = 1000, uint32_t dspHeader = 100, uint32_t dsp = 2000,
                                          uint32_t config = 300, uint32_t seed = 7)
{
    imagebuilder::ImageRecipe recipe;
    recipe.mcuCode = imagebuilder::patternBytes (mcu, seed);
    recipe.dspHeader = imagebuilder::patternBytes (dspHeader, seed + 1);
    recipe.dspCode = imagebuilder::patternBytes (dsp, seed + 2);
    recipe.config = imagebuilder::patternBytes (config, seed + 3);
    recipe.mcuTagValue = 0x1A2B;
    recipe.dspHeaderTagValue = 0x3C4D;
    recipe.dspCodeTagValue = 0x5E6F;
    recipe.configTagValue = 0x7081;
    return recipe;
}

/** A file in the temporary directory, removed when this goes. */
class TempFile
{
public:
    explicit TempFile (const std::vector<uint8_t>& bytes)
    {
        static std::atomic<int> counter { 0 };
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        path = (std::filesystem::temp_directory_path()
                / ("korva_fw_" + std::to_string (stamp) + "_" + std::to_string (counter++) + ".bin"))
                   .string();
        imagebuilder::writeFile (path, bytes);
    }

    ~TempFile()
    {
        std::error_code ignored;
        std::filesystem::remove (path, ignored);
    }

    TempFile (const TempFile&) = delete;
    TempFile& operator= (const TempFile&) = delete;

    std::string path;
};
} // namespace fixtures
