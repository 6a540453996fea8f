// The port selector following ports that arrive, leave, reorder and come back,
// with real pseudo-terminals named through symlinks in KORVA_EXTRA_PORTS.

#include <gtest/gtest.h>

#include <functional>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "GuiTestSupport.h"
#include "PanelAccess.h"
#include "panel/BtThread.h"
#include "panel/PortMemory.h"
#include "panel/PortSelector.h"
#include "protocol/DeviceState.h"
#include "serial/PortTable.h"
#include "tests/TestResets.h"

namespace
{
    /** A pseudo-terminal whose slave is reachable through a symlink we control. */
    struct Pty
    {
        explicit Pty (juce::String linkPath) : link (std::move (linkPath))
        {
            master = posix_openpt (O_RDWR | O_NOCTTY);
            grantpt (master);
            unlockpt (master);
            plug();
        }

        ~Pty()
        {
            unplug();
            ::close (master);
        }

        void plug() { ::symlink (ptsname (master), link.toRawUTF8()); }
        void unplug() { ::unlink (link.toRawUTF8()); }

        juce::String link;
        int master = -1;
    };

    class PortList : public testing::Test
    {
    protected:
        void SetUp() override
        {
            dir = juce::File::createTempFile ("korva-ports");
            dir.createDirectory();
            ::unsetenv ("KORVA_EXTRA_PORTS");
            resetPortTable();
            baseline = enumeratePorts();
            for (int i = 0; i < baseline; ++i)
                baselineNames.add (portDisplayName (i));
        }

        void TearDown() override
        {
            panel.reset();
            ptys.clear();
            ::unsetenv ("KORVA_EXTRA_PORTS");
            dir.deleteRecursively();
            resetPortTable();
        }

        Pty& addPty (const char* name)
        {
            ptys.push_back (std::make_unique<Pty> (dir.getChildFile (name).getFullPathName()));
            return *ptys.back();
        }

        void setExtraPorts (std::initializer_list<Pty*> order)
        {
            juce::StringArray paths;
            for (auto* p : order)
                paths.add (p->link);
            ::setenv ("KORVA_EXTRA_PORTS", paths.joinIntoString (":").toRawUTF8(), 1);
        }

        juce::StringArray expectedNames (std::initializer_list<Pty*> present)
        {
            auto names = baselineNames;
            for (auto* p : present)
                names.add (p->link);
            return names;
        }

        juce::StringArray selectorItems()
        {
            auto& box = MainComponentTestAccess (*panel).portSelector();
            juce::StringArray items;
            for (int i = 0; i < box.getNumItems(); ++i)
            {
                EXPECT_EQ (box.getItemId (i), i + 1);
                items.add (box.getItemText (i));
            }
            return items;
        }

        void waitForNoJob()
        {
            ASSERT_TRUE (pumpUntil ([this] { return panel->getWorker() == nullptr; }, 20000));
        }

        juce::File dir;
        int baseline = 0;
        juce::StringArray baselineNames;
        std::vector<std::unique_ptr<Pty>> ptys;
        std::unique_ptr<MainComponent> panel;
    };
}

TEST_F (PortList, StartsWithThePortsListedAndNothingSelected)
{
    auto& a = addPty ("portA");
    auto& b = addPty ("portB");
    setExtraPorts ({ &a, &b });

    ModalResponder responder;
    panel = std::make_unique<MainComponent>();
    pump (200);

    EXPECT_EQ (selectorItems(), expectedNames ({ &a, &b }));
    EXPECT_EQ (MainComponentTestAccess (*panel).portSelector().getSelectedId(), 0);
    EXPECT_EQ (MainComponentTestAccess (*panel).link().portIndex, -1);
    EXPECT_EQ (panel->getHeight(), 115);
    EXPECT_TRUE (responder.seen.empty()) << "no selection notification at start";
}

TEST_F (PortList, FollowsArrivalRemovalReorderAndReturnOfTheChosenPort)
{
    auto& a = addPty ("portA");
    auto& b = addPty ("portB");
    auto& c = addPty ("portC");
    c.unplug();
    setExtraPorts ({ &a, &b, &c });

    ModalResponder responder;
    panel = std::make_unique<MainComponent>();
    MainComponentTestAccess access (*panel);
    auto& selector = access.portSelector();

    // The user chooses port B: the device-type question, then a detection that
    // finds nothing on a bare pseudo-terminal.
    const int indexB = baseline + 1;
    selector.setSelectedId (indexB + 1, juce::sendNotificationSync);
    ASSERT_EQ (responder.seen.size(), 1u);
    EXPECT_EQ (responder.seen[0].title, "Device type");
    EXPECT_EQ (responder.seen[0].icon, juce::MessageBoxIconType::QuestionIcon);
    EXPECT_EQ (responder.seen[0].buttons, juce::StringArray ({ "zVARNELO7QX", "Rulko/DORU-QX" }));
    EXPECT_EQ (MainComponentTestAccess (*panel).link().portIndex, indexB);
    ASSERT_NE (panel->getWorker(), nullptr);

    // While the job runs, a new port changes nothing.
    c.plug();
    panel->timerCallback();
    EXPECT_EQ (selectorItems(), expectedNames ({ &a, &b }));

    waitForNoJob();
    ASSERT_EQ (responder.seen.size(), 2u);
    EXPECT_EQ (responder.seen[1].message, "Doesn't appear to be any KORVA Bluetooth device on this port");

    // Within about a second the new port is listed, B is selected again, and
    // the question and detection follow.
    ASSERT_TRUE (pumpUntil ([&] { return selectorItems() == expectedNames ({ &a, &b, &c }); }, 5000));
    EXPECT_EQ (selector.getSelectedId(), indexB + 1);
    EXPECT_EQ (MainComponentTestAccess (*panel).link().portIndex, indexB);
    EXPECT_EQ (MainComponent::panelState(), 0);
    ASSERT_TRUE (pumpUntil ([&] { return responder.seen.size() >= 3; }, 5000));
    EXPECT_EQ (responder.seen[2].title, "Device type");
    waitForNoJob();

    // The chosen port goes away: no selection, no device, no question.
    const auto seenBefore = responder.seen.size();
    b.unplug();
    ASSERT_TRUE (pumpUntil ([&] { return selectorItems() == expectedNames ({ &a, &c }); }, 5000));
    pump (300);
    EXPECT_EQ (selector.getSelectedId(), 0);
    EXPECT_EQ (MainComponentTestAccess (*panel).link().portIndex, -1);
    EXPECT_EQ (MainComponent::panelState(), 0);
    EXPECT_EQ (responder.seen.size(), seenBefore);

    // It comes back: selected again by itself, and asked about again.
    b.plug();
    ASSERT_TRUE (pumpUntil ([&] { return selectorItems() == expectedNames ({ &a, &b, &c }); }, 5000));
    EXPECT_EQ (selector.getSelectedId(), indexB + 1);
    ASSERT_TRUE (pumpUntil ([&] { return responder.seen.size() >= seenBefore + 1; }, 5000));
    waitForNoJob();

    // The same ports in another order count as a change.
    setExtraPorts ({ &c, &b, &a });
    ASSERT_TRUE (pumpUntil ([&] { return selectorItems() == expectedNames ({ &c, &b, &a }); }, 5000));
    EXPECT_EQ (selector.getSelectedId(), indexB + 1) << "B keeps its place in the middle";
    waitForNoJob();
}

// The port list holds still under the open device-type question: a refresh
// tick that finds a new port changes nothing, and a second choice made while
// the first one's question is open is not taken.
TEST_F (PortList, HoldsStillUnderTheQuestionAndTakesNoSecondChoice)
{
    auto& a = addPty ("portA");
    auto& b = addPty ("portB");
    auto& c = addPty ("portC");
    c.unplug();
    setExtraPorts ({ &a, &b, &c });

    panel = std::make_unique<MainComponent>();
    MainComponentTestAccess access (*panel);
    auto& selector = access.portSelector();
    const int indexA = baseline, indexB = baseline + 1;

    int questions = 0;
    juce::StringArray itemsUnderQuestion;
    struct Meddler final : juce::Timer
    {
        std::function<void()> act;
        void timerCallback() override { act(); }
    } meddler;
    meddler.act = [&]
    {
        auto* alert = dynamic_cast<juce::AlertWindow*> (juce::ModalComponentManager::getInstance()->getModalComponent (0));
        if (alert == nullptr || alert->getProperties().contains ("seen"))
            return;
        alert->getProperties().set ("seen", true);
        ++questions;

        c.plug();
        panel->timerCallback();                                       // the one-second refresh
        selector.setSelectedId (indexA + 1, juce::sendNotificationSync); // a second choice
        itemsUnderQuestion = selectorItems();
        alert->triggerButtonClick ("zVARNELO7QX");
    };
    meddler.startTimer (20);

    selector.setSelectedId (indexB + 1, juce::sendNotificationSync);
    meddler.stopTimer();

    EXPECT_EQ (questions, 1);
    EXPECT_EQ (itemsUnderQuestion, expectedNames ({ &a, &b })) << "refreshed under the open question";
    EXPECT_EQ (selector.getSelectedId(), indexB + 1) << "the second choice was not put back";
    EXPECT_EQ (MainComponentTestAccess (*panel).link().portIndex, indexB);
    ASSERT_NE (panel->getWorker(), nullptr);
    EXPECT_EQ (panel->getWorker()->portIndex, indexB);
    EXPECT_TRUE (panel->getWorker()->slowBaud);

    ModalResponder responder;
    waitForNoJob();
}

// During a job the overlay takes the keys: arrows on the port selector and
// Return reach nothing behind it.
TEST_F (PortList, OverlayTakesTheKeyboardDuringAJob)
{
    auto& a = addPty ("portA");
    auto& b = addPty ("portB");
    setExtraPorts ({ &a, &b });

    ModalResponder responder;
    panel = std::make_unique<MainComponent>();
    panel->addToDesktop (juce::ComponentPeer::windowHasTitleBar);
    panel->setVisible (true);
    panel->toFront (true);
    ASSERT_TRUE (pumpUntil ([&] { return panel->getPeer() != nullptr && panel->getPeer()->isFocused(); }, 5000));
    MainComponentTestAccess access (*panel);
    auto& selector = access.portSelector();
    const int indexA = baseline;

    // The user works the selector with the keyboard.
    selector.grabKeyboardFocus();
    ASSERT_TRUE (pumpUntil ([&] { return selector.hasKeyboardFocus (true); }, 2000));

    responder.answerNext ("Rulko/DORU-QX");
    selector.setSelectedId (indexA + 1, juce::sendNotificationSync);
    ASSERT_NE (panel->getWorker(), nullptr);
    auto* overlay = MainComponent::getBusyOverlay();
    ASSERT_NE (overlay, nullptr);
    ASSERT_TRUE (pumpUntil ([&] { return overlay->hasKeyboardFocus (false); }, 2000));

    auto* peer = panel->getPeer();
    ASSERT_NE (peer, nullptr);
    for (int key : { juce::KeyPress::downKey, juce::KeyPress::upKey, juce::KeyPress::returnKey })
        peer->handleKeyPress (juce::KeyPress (key));

    EXPECT_EQ (selector.getSelectedId(), indexA + 1);
    EXPECT_EQ (responder.seen.size(), 1u) << "a key started another question";
    waitForNoJob();
    panel->removeFromDesktop();
}

// Until a detect succeeds on the chosen port, nothing but detect reaches it,
// whatever type an earlier receiver left behind.
TEST_F (PortList, NothingButDetectReachesAnUndetectedPort)
{
    auto& a = addPty ("portA");
    setExtraPorts ({ &a });

    ModalResponder responder;
    panel = std::make_unique<MainComponent>();
    MainComponentTestAccess access (*panel);
    access.portSelector().setSelectedId (baseline + 1, juce::sendNotificationSync);
    waitForNoJob();   // a bare pseudo-terminal: nothing found

    MainComponentTestAccess (*panel).link().device.typeCode = 0xF0;
    panel->setPanelState (1);
    access.nameField().setText ("Fine", juce::dontSendNotification);
    access.pinField().setText ("1234", juce::dontSendNotification);

    panel->startReadConfig();
    panel->startWriteConfig();
    panel->startRestoreDefaults();
    panel->startListen();
    panel->startFirmwareUpdate();
    EXPECT_EQ (panel->getWorker(), nullptr);
    EXPECT_FALSE (panel->deviceDetected());

    panel->startDetect (MainComponentTestAccess (*panel).link().portIndex);
    EXPECT_NE (panel->getWorker(), nullptr) << "detect is always allowed";
    waitForNoJob();
}

//==============================================================================
// What each port is, in the list and in the help text; the family remembered per port.

TEST_F (PortList, TheListSaysWhatEachPortIsAndTheBoxKeepsItsName)
{
    auto& a = addPty ("portA");
    setExtraPorts ({ &a });

    ModalResponder responder;
    panel = std::make_unique<MainComponent>();
    pump (200);

    MainComponentTestAccess access (*panel);
    auto& box = dynamic_cast<PortSelector&> (access.portSelector());
    const int item = baseline;   // listed after this machine's own ports
    EXPECT_EQ (box.getItemText (item), a.link) << "the box shows the bare name";
    EXPECT_EQ (box.descriptionOf (item), "pseudo-terminal");
    EXPECT_EQ (box.listText (item), a.link + "  -  pseudo-terminal");
    EXPECT_EQ (box.getTooltip(), MainComponent::portSelectorHelp) << "nothing chosen: the help alone";

    // The list opens wider than the box when its lines need it.
    auto isPopup = [&] (juce::Component* c) { return c != panel.get() && c->isOnDesktop() && c->isShowing()
                                                     && dynamic_cast<juce::TooltipWindow*> (c) == nullptr; };
    panel->setVisible (true);
    panel->addToDesktop (0);
    box.showPopup();
    juce::Component* popup = nullptr;
    ASSERT_TRUE (pumpUntil ([&]
    {
        for (int i = 0; i < juce::Desktop::getInstance().getNumComponents(); ++i)
            if (auto* c = juce::Desktop::getInstance().getComponent (i); isPopup (c))
                popup = c;
        return popup != nullptr;
    }, 3000));
    EXPECT_GT (popup->getWidth(), box.getWidth());
    saveSnapshot (*popup, "port-list-descriptions");
    juce::PopupMenu::dismissAllActiveMenus();
    pump (100);

    responder.answerNext ("Rulko/DORU-QX");
    box.setSelectedId (item + 1, juce::sendNotificationSync);
    EXPECT_EQ (box.getText(), a.link);
    EXPECT_EQ (box.getTooltip(), juce::String (MainComponent::portSelectorHelp) + "\npseudo-terminal");
    waitForNoJob();
}

TEST_F (PortList, TheRememberedFamilyAnswersOnReturn)
{
    auto& a = addPty ("portA");
    setExtraPorts ({ &a });

    ModalResponder responder;
    // Nothing remembered: the first button, as in any box.
    for (const auto& [remembered, returnAnswers] : { std::pair<int, const char*> { -1, "zVARNELO7QX" }, { 1, "zVARNELO7QX" },
                                                     { 0, "Rulko/DORU-QX" } })
    {
        if (remembered >= 0)
            PortMemory().remember (a.link, remembered == 1);

        panel = std::make_unique<MainComponent>();
        pump (200);
        responder.seen.clear();
        MainComponentTestAccess (*panel).portSelector().setSelectedId (baseline + 1, juce::sendNotificationSync);
        ASSERT_EQ (responder.seen.size(), 1u);
        EXPECT_EQ (responder.seen[0].title, "Device type");
        EXPECT_EQ (responder.seen[0].returnAnswers, returnAnswers) << remembered;
        waitForNoJob();
        panel.reset();
    }
}

TEST (PortMemory, KeepsAnswersAndShrugsOffABadFile)
{
    const auto dir = juce::File::createTempFile ("korva-memory");
    dir.createDirectory();
    const auto file = dir.getChildFile ("sub/ports.settings");

    EXPECT_FALSE (PortMemory (file).slowBaudFor ("COM5").has_value()) << "no file yet";
    PortMemory (file).remember ("COM5", true);
    PortMemory (file).remember ("/dev/ttyUSB0", false);
    EXPECT_EQ (PortMemory (file).slowBaudFor ("COM5"), std::optional<bool> (true));
    EXPECT_EQ (PortMemory (file).slowBaudFor ("/dev/ttyUSB0"), std::optional<bool> (false));

    // Corrupt: ignored, then written afresh.
    file.replaceWithText ("<PROPERTIES><VALUE name=\"family COM5\" val");
    PortMemory corrupt (file);
    EXPECT_FALSE (corrupt.slowBaudFor ("COM5").has_value());
    EXPECT_NE (juce::parseXML (file), nullptr) << "rewritten as a valid file";
    corrupt.remember ("COM5", false);
    EXPECT_EQ (PortMemory (file).slowBaudFor ("COM5"), std::optional<bool> (false));

    // Not a file at all: nothing is known, nothing fails.
    file.deleteFile();
    file.createDirectory();
    PortMemory unusable (file);
    EXPECT_FALSE (unusable.slowBaudFor ("COM5").has_value());
    unusable.remember ("COM5", true);
    EXPECT_TRUE (file.isDirectory());

    dir.deleteRecursively();
}
