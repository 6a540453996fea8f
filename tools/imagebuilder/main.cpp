// korva-mkimage: writes a firmware image file for a receiver model from section
// files or generated data, optionally broken in a chosen way.

#include "tools/imagebuilder/ImageBuilder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace
{
const char usage[] =
    "usage: korva-mkimage -o OUT.bin [options]\n"
    "  --model NAME            model name at offset 28: RULKO or DORU-415QX (default RULKO)\n"
    "  --mcu FILE | --mcu-size N                 MCU code\n"
    "  --dsp-header FILE | --dsp-header-size N   DSP header block\n"
    "  --dsp FILE | --dsp-size N                 DSP code (0: no DSP part)\n"
    "  --config FILE | --config-size N           configuration data (0: no configuration part)\n"
    "  --seed N                generated data seed (default 1)\n"
    "  --tags A,B,C,D          hex values of the MCU, DSP header, DSP code and configuration tags\n"
    "  --total-size N          pad after the trailer up to N bytes\n"
    "  --mcu-tag-offset N      file offset of the MCUCODESTART tag\n"
    "  --no-align              keep the natural layout (tags may fall outside the transfer's window)\n"
    "broken variants:\n"
    "  --bad-magic --bad-bluetooth --wrong-checksum --bad-trailer --zero-length\n"
    "  --no-start-marker --no-size-lines --oversize\n"
    "  --declare-mcu-size N --declare-dsp-size N --declare-config-size N --declare-dsp-header-size N\n"
    "  --omit-tag mcu|dsp-header|size|dsp|config\n"
    "  --tag-beyond-window     MCUCODESTART straddles the end of the first 4096 bytes\n"
    "Numbers take decimal or 0x-prefixed hexadecimal.\n";

bool parseNumber (const char* text, uint32_t& value)
{
    char* end = nullptr;
    const unsigned long v = std::strtoul (text, &end, 0);
    if (end == text || *end != '\0' || v > 0xFFFFFFFFul)
        return false;
    value = static_cast<uint32_t> (v);
    return true;
}

bool readFile (const char* path, std::vector<uint8_t>& out)
{
    std::ifstream file (path, std::ios::binary);
    if (! file)
        return false;
    out.assign (std::istreambuf_iterator<char> (file), std::istreambuf_iterator<char>());
    return true;
}

int fail (const char* message, const char* detail = "")
{
    std::fprintf (stderr, "korva-mkimage: %s%s\n", message, detail);
    return 2;
}
} // namespace

int main (int argc, char** argv)
{
    using namespace imagebuilder;

    ImageRecipe recipe;
    std::string outPath;
    uint32_t seed = 1;
    uint32_t sizes[4] = { 4000, 300, 20000, 1000 };   // MCU, DSP header, DSP code, configuration
    const char* files[4] = {};
    bool oversize = false;

    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto number = [&] (uint32_t& target) {
            if (value == nullptr || ! parseNumber (value, target))
                return false;
            ++i;
            return true;
        };
        auto optionalNumber = [&] (std::optional<uint32_t>& target) {
            uint32_t v = 0;
            if (! number (v))
                return false;
            target = v;
            return true;
        };
        auto file = [&] (const char*& target) {
            if (value == nullptr)
                return false;
            target = value;
            ++i;
            return true;
        };

        bool ok = true;
        if (arg == "-o" || arg == "--output")           { ok = value != nullptr; if (ok) outPath = argv[++i]; }
        else if (arg == "--model")                      { ok = value != nullptr; if (ok) recipe.model = argv[++i]; }
        else if (arg == "--mcu")                        ok = file (files[0]);
        else if (arg == "--dsp-header")                 ok = file (files[1]);
        else if (arg == "--dsp")                        ok = file (files[2]);
        else if (arg == "--config")                     ok = file (files[3]);
        else if (arg == "--mcu-size")                   ok = number (sizes[0]);
        else if (arg == "--dsp-header-size")            ok = number (sizes[1]);
        else if (arg == "--dsp-size")                   ok = number (sizes[2]);
        else if (arg == "--config-size")                ok = number (sizes[3]);
        else if (arg == "--seed")                       ok = number (seed);
        else if (arg == "--total-size")                 ok = number (recipe.totalSize);
        else if (arg == "--mcu-tag-offset")             ok = optionalNumber (recipe.mcuTagOffset);
        else if (arg == "--declare-mcu-size")           ok = optionalNumber (recipe.declaredMcuSize);
        else if (arg == "--declare-dsp-size")           ok = optionalNumber (recipe.declaredDspSize);
        else if (arg == "--declare-config-size")        ok = optionalNumber (recipe.declaredConfigSize);
        else if (arg == "--declare-dsp-header-size")    ok = optionalNumber (recipe.declaredDspHeaderSize);
        else if (arg == "--no-align")                   recipe.alignTags = false;
        else if (arg == "--bad-magic")                  recipe.badMagic = true;
        else if (arg == "--bad-bluetooth")              recipe.badBluetooth = true;
        else if (arg == "--wrong-checksum")             recipe.wrongChecksum = true;
        else if (arg == "--bad-trailer")                recipe.badTrailer = true;
        else if (arg == "--zero-length")                recipe.zeroLength = true;
        else if (arg == "--no-start-marker")            recipe.missingStartMarker = true;
        else if (arg == "--no-size-lines")              recipe.sizeLines = false;
        else if (arg == "--oversize")                   oversize = true;
        else if (arg == "--tag-beyond-window")          recipe.mcuTagOffset = 4096 - 8;
        else if (arg == "--tags")
        {
            unsigned a = 0, b = 0, c = 0, d = 0;
            ok = value != nullptr && std::sscanf (value, "%x,%x,%x,%x", &a, &b, &c, &d) == 4;
            if (ok)
            {
                ++i;
                recipe.mcuTagValue = static_cast<uint16_t> (a);
                recipe.dspHeaderTagValue = static_cast<uint16_t> (b);
                recipe.dspCodeTagValue = static_cast<uint16_t> (c);
                recipe.configTagValue = static_cast<uint16_t> (d);
            }
        }
        else if (arg == "--omit-tag")
        {
            ok = value != nullptr;
            if (ok)
            {
                const std::string which = argv[++i];
                if (which == "mcu")             recipe.omitTag = Tag::McuCodeStart;
                else if (which == "dsp-header") recipe.omitTag = Tag::DspHdrStart;
                else if (which == "size")       recipe.omitTag = Tag::Size;
                else if (which == "dsp")        recipe.omitTag = Tag::DspCodeStart;
                else if (which == "config")     recipe.omitTag = Tag::ConfigStart;
                else ok = false;
            }
        }
        else if (arg == "-h" || arg == "--help")
        {
            std::fputs (usage, stdout);
            return 0;
        }
        else
        {
            ok = false;
        }

        if (! ok)
        {
            std::fputs (usage, stderr);
            return fail ("bad argument: ", arg.c_str());
        }
    }

    if (outPath.empty())
    {
        std::fputs (usage, stderr);
        return fail ("no output file given");
    }

    std::vector<uint8_t>* const contents[4] = { &recipe.mcuCode, &recipe.dspHeader, &recipe.dspCode, &recipe.config };
    for (int s = 0; s < 4; ++s)
    {
        if (files[s] != nullptr)
        {
            if (! readFile (files[s], *contents[s]))
                return fail ("cannot read ", files[s]);
        }
        else
        {
            *contents[s] = patternBytes (sizes[s], seed * 4 + static_cast<uint32_t> (s));
        }
    }

    if (oversize)
        recipe.totalSize = 0x100000;

    const std::vector<uint8_t> image = buildImage (recipe);
    if (! writeFile (outPath, image))
        return fail ("cannot write ", outPath.c_str());

    const ImageLayout layout = imageLayout (recipe);
    std::printf ("%s: %zu bytes, model %s, MCU %zu at 0x%X", outPath.c_str(), image.size(), recipe.model.c_str(),
                 recipe.mcuCode.size(), layout.mcuData);
    if (layout.dspCodeTag != 0)
        std::printf (", DSP header %zu at 0x%X, DSP %zu at 0x%X", recipe.dspHeader.size(), layout.dspHeaderData,
                     recipe.dspCode.size(), layout.dspCodeData);
    if (layout.configTag != 0)
        std::printf (", configuration %zu at 0x%X", recipe.config.size(), layout.configData);
    std::printf ("%s\n", image.size() >= 0x100000 ? " (too large to be accepted)" : "");
    return 0;
}
