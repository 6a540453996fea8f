// A paired receiver picked in the window like any port: the panel shows that it
// is connecting while BlueZ brings the link up, stays responsive, then detects
// and reads the receiver, writes its settings and restores its defaults; Esc
// while connecting ends the attempt quietly.

#include <gtest/gtest.h>

#include "BluezStandIn.h"
#include "GuiTestSupport.h"
#include "PanelAccess.h"
#include "panel/BtThread.h"
#include "serial/PortTable.h"
#include "tools/simulator/SimulatedReceiver.h"
#include "tests/TestResets.h"

namespace
{
    constexpr const char* receiverAddress = "00:11:22:AA:BB:51";
    constexpr const char* receiverPort = "bt:00:11:22:AA:BB:51";

    class BluetoothPort : public testing::Test
    {
    protected:
        /** A paired receiver whose link comes up connectDelayMs after it is asked for
            ("never": it never does), and the panel once it lists the receiver. */
        void start (const char* behaviour, int connectDelayMs)
        {
            resetPortTable();
            ASSERT_TRUE (bluez.ready());
            bluez.addAdapter();
            korvasim::SimulatorOptions options;
            options.type = 0xF0;
            options.factory.name = "Shed";
            options.listenPath = bluez.listenPath (receiverAddress);
            sim = std::make_unique<korvasim::SimulatedReceiver> (options);
            ASSERT_TRUE (sim->start());
            bluez.addReceiver (receiverAddress, "Shed", behaviour, connectDelayMs);

            panel = std::make_unique<MainComponent>();
            access = std::make_unique<MainComponentTestAccess> (*panel);
            auto& selector = access->portSelector();
            ASSERT_TRUE (pumpUntil ([&] {
                for (int i = 0; i < selector.getNumItems(); ++i)
                    if (selector.getItemText (i) == receiverPort)
                        return true;
                return false;
            }, 10000)) << "the paired receiver is listed at a refresh";
        }

        void TearDown() override
        {
            access.reset();
            panel.reset();
            if (sim != nullptr)
                sim->stop();
            resetPortTable();
        }

        void chooseReceiver()
        {
            responder.answerNext ("Rulko/DORU-QX");
            auto& selector = access->portSelector();
            selector.setSelectedId (selector.getNumItems(), juce::sendNotificationSync);
        }

        static juce::String coverText()
        {
            auto* cover = MainComponent::getBusyOverlay();
            return cover != nullptr ? cover->getTitle() : juce::String();
        }

        bool idle() { return panel->getWorker() == nullptr && MainComponent::getBusyOverlay() == nullptr; }

        BluezStandIn bluez;
        ModalResponder responder;
        std::unique_ptr<korvasim::SimulatedReceiver> sim;
        std::unique_ptr<MainComponent> panel;
        std::unique_ptr<MainComponentTestAccess> access;
    };
}

TEST_F (BluetoothPort, ConnectsShowingItThenDetectsAndReads)
{
    start ("external", 1500);
    chooseReceiver();

    // The message loop runs while the link comes up (this wait pumps it).
    ASSERT_TRUE (pumpUntil ([] { return coverText().startsWith ("Connecting to bt:00:11:22:AA:BB:51 over Bluetooth"); }, 5000))
        << coverText();

    ASSERT_TRUE (pumpUntil ([this] { return access->nameField().getText() == "Shed" && idle(); }, 20000));
    EXPECT_EQ (MainComponent::panelState(), 1);
    EXPECT_EQ (access->deviceReadout().getText(), "Rulko");
    ASSERT_GE (responder.seen.size(), 2u);
    EXPECT_EQ (responder.seen[1].title, "Korva Bluetooth device found");
}

TEST_F (BluetoothPort, EscWhileConnectingEndsTheAttemptQuietly)
{
    start ("never", 0);
    chooseReceiver();
    ASSERT_TRUE (pumpUntil ([] { return coverText().startsWith ("Connecting to "); }, 5000));

    MainComponent::getBusyOverlay()->keyPressed (juce::KeyPress (juce::KeyPress::escapeKey));
    ASSERT_TRUE (pumpUntil ([this] { return idle(); }, 2000)) << "ends well before the connection limit";
    EXPECT_EQ (MainComponent::panelState(), 0);
    EXPECT_EQ (responder.seen.size(), 1u) << "only the family question: stopping is no failure";
}

TEST_F (BluetoothPort, ChoosingAnotherPortWhileConnectingEndsTheAttempt)
{
    // The first receiver never connects; the second, listed after it, answers.
    korvasim::SimulatorOptions options;
    options.type = 0xF0;
    options.factory.name = "Barn";
    options.listenPath = bluez.listenPath ("00:11:22:AA:BB:52");
    korvasim::SimulatedReceiver second (options);
    ASSERT_TRUE (second.start());
    bluez.addAdapter();   // the second is paired first: both are there at the first listing
    bluez.addReceiver ("00:11:22:AA:BB:52", "Barn", "external");
    start ("never", 0);

    auto& selector = access->portSelector();
    const int last = selector.getNumItems();
    ASSERT_EQ (selector.getItemText (last - 2), receiverPort);
    ASSERT_EQ (selector.getItemText (last - 1), "bt:00:11:22:AA:BB:52");

    responder.answerNext ("Rulko/DORU-QX");
    selector.setSelectedId (last - 1, juce::sendNotificationSync);
    ASSERT_TRUE (pumpUntil ([] { return coverText().startsWith ("Connecting to " + juce::String (receiverPort)); }, 5000));

    // The selector stays reachable above the cover while connecting.
    auto* cover = MainComponent::getBusyOverlay();
    const auto centre = cover->getLocalArea (&selector, selector.getLocalBounds()).getCentre();
    EXPECT_FALSE (cover->hitTest (centre.x, centre.y));
    EXPECT_TRUE (cover->hitTest (2, cover->getHeight() - 2));

    responder.answerNext ("Rulko/DORU-QX");
    selector.setSelectedId (last, juce::sendNotificationSync);
    ASSERT_TRUE (pumpUntil ([this] { return access->nameField().getText() == "Barn" && idle(); }, 20000));
    EXPECT_EQ (access->deviceReadout().getText(), "Rulko");
    second.stop();
}

TEST_F (BluetoothPort, WritesSettingsAndRestoresDefaultsOverTheLink)
{
    start ("external", 0);
    chooseReceiver();
    ASSERT_TRUE (pumpUntil ([this] { return access->nameField().getText() == "Shed" && idle(); }, 20000));

    // Every written field differs from the receiver's defaults; the name takes all
    // 31 bytes the receiver keeps, one character taking two.
    const std::string name = "Caf\xc3\xa9 at the far end of gardens";
    access->nameField().setText (juce::String::fromUTF8 (name.c_str()), juce::dontSendNotification);
    access->pinField().setText ("4321", juce::dontSendNotification);
    access->maxDevicesSelector().setSelectedId (1);
    access->ledToggle().setToggleState (true, juce::dontSendNotification);
    access->restoreToggle().setToggleState (false, juce::dontSendNotification);
    panel->startWriteConfig();

    ASSERT_TRUE (pumpUntil ([this] { return responder.seen.size() >= 3 && idle(); }, 20000));
    EXPECT_EQ (responder.seen[2].message, "Device configuration is done [success]");
    auto stored = sim->settings();
    EXPECT_EQ (stored.name, name);
    EXPECT_EQ (std::string (stored.pin.begin(), stored.pin.end()), "4321");
    EXPECT_EQ (stored.maxDevices, 1);
    EXPECT_EQ (stored.ledControl, 1);
    EXPECT_EQ (stored.restoreControl, 0);

    // The restore's restart report comes over a link of its own, and the form reads the defaults back.
    panel->startRestoreDefaults();
    ASSERT_TRUE (pumpUntil ([this] { return responder.seen.size() >= 4 && idle() && access->nameField().getText() == "Shed"; },
                            20000)) << access->nameField().getText();
    EXPECT_EQ (responder.seen[3].message, "Device configuration is done [success]");
    stored = sim->settings();
    korvasim::StoredSettings factory;
    factory.name = "Shed";
    EXPECT_TRUE (stored == factory) << stored.name;
    EXPECT_EQ (access->pinField().getText(), "0000");
    EXPECT_FALSE (access->ledToggle().getToggleState());

    std::string said;
    for (const auto& v : sim->violations())
        said += v + "; ";
    EXPECT_TRUE (said.empty()) << said;
}
