// korva ports: the ports the window lists, with what the system says about each.

#include "cli/Commands.h"

#include "cli/CommandSteps.h"
#include "jobs/TextRules.h"
#include "serial/PortDescription.h"
#include "serial/PortTable.h"

namespace korvacli
{
//==============================================================================
int portsCommand (const CommonOptions& options)
{
    Output out ("ports", options.json);
    Json list = Json::array();
    const int count = enumeratePorts();

    for (int i = 0; i < count; ++i)
    {
        const std::string display = portDisplayName (i);
        const std::string device = portDeviceName (i);
        const auto info = portDescription (i);
        const auto text = info.text();
        auto orNull = [] (const std::string& s) { return s.empty() ? Json() : Json (s); };

        Json p;
        p["name"] = display;
        p["device"] = device;
        p["description"] = orNull (text);
        p["driver"] = orNull (info.driver);
        p["rfcomm"] = info.kind == PortKind::bluetooth && device.find ("rfcomm") != std::string::npos;
        if (! info.usbVendor.empty())
        {
            p["usb"] = { { "vendor", info.usbVendor }, { "product", info.usbProduct }, { "serial", info.serialNumber },
                         { "manufacturer", info.manufacturer }, { "productName", info.product } };
        }
        else
        {
            p["usb"] = nullptr;
        }
        if (info.kind == PortKind::bluetooth)
        {
            const char* direction = info.direction == BluetoothDirection::outgoing ? "outgoing"
                                  : info.direction == BluetoothDirection::incoming ? "incoming" : nullptr;
            p["bluetooth"] = { { "direction", direction != nullptr ? Json (direction) : Json() },
                               { "address", orNull (info.remoteAddress) }, { "name", orNull (info.remoteName) } };
            if (info.paired)
            {
                p["bluetooth"]["paired"] = true;
                p["bluetooth"]["connected"] = info.connected;
            }
        }
        else
        {
            p["bluetooth"] = nullptr;
        }
        p["stableName"] = orNull (info.stableName);
        p["console"] = info.console;
        list.push_back (p);

        out.line (TextRules::visible (text.empty() ? display : display + "  " + text));
    }

    out.doc()["ports"] = list;
    return out.finish (exitOk);
}
}
