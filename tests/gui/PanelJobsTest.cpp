// Jobs run from the panel against a simulated receiver: the worker thread, the
// hand-over of its results to the message thread, and the event log lines
// posted while the log is shown.

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include "GuiTestSupport.h"
#include "PanelAccess.h"
#include "panel/BtThread.h"
#include "protocol/DeviceState.h"
#include "serial/PortTable.h"
#include "tools/simulator/SimulatedReceiver.h"
#include "tests/TestResets.h"

namespace
{
    class PanelJobs : public testing::Test
    {
    protected:
        void start (uint8_t type)
        {
            resetPortTable();
            korvasim::SimulatorOptions options;
            options.type = type;
            options.factory.name = "Shed";
            sim = std::make_unique<korvasim::SimulatedReceiver> (options);
            ASSERT_TRUE (sim->start());
            ::setenv ("KORVA_EXTRA_PORTS", sim->slavePath().c_str(), 1);
            panel = std::make_unique<MainComponent>();
            access = std::make_unique<MainComponentTestAccess> (*panel);
        }

        void TearDown() override
        {
            access.reset();
            panel.reset();
            ::unsetenv ("KORVA_EXTRA_PORTS");
            if (sim != nullptr)
            {
                std::string said;
                for (const auto& v : sim->violations())
                    said += v + "; ";
                EXPECT_TRUE (said.empty()) << said;
                sim->stop();
            }
            resetPortTable();
        }

        /** Chooses the simulated port (the last listed) and answers the family question. */
        void choosePort (const char* family)
        {
            responder.answerNext (family);
            auto& selector = access->portSelector();
            selector.setSelectedId (selector.getNumItems(), juce::sendNotificationSync);
        }

        bool idle() { return panel->getWorker() == nullptr && MainComponent::getBusyOverlay() == nullptr; }

        /** A click on the version read-out, as the log gesture counts them. */
        void clickVersion()
        {
            auto& readout = access->versionReadout();
            const auto pos = readout.getLocalBounds().getCentre().toFloat();
            const auto now = juce::Time::getCurrentTime();
            juce::MouseEvent e (juce::Desktop::getInstance().getMainMouseSource(), pos, {}, 0.0f, 0.0f, 0.0f, 0.0f,
                                0.0f, &readout, &readout, now, pos, now, 1, false);
            panel->mouseDown (e);
        }

        ModalResponder responder;
        std::unique_ptr<korvasim::SimulatedReceiver> sim;
        std::unique_ptr<MainComponent> panel;
        std::unique_ptr<MainComponentTestAccess> access;
    };
}

TEST_F (PanelJobs, ChoosingThePortDetectsReadsAndTracesIntoTheLog)
{
    start (0xF2);
    access->setLogVisible (true);
    choosePort ("Rulko/DORU-QX");

    ASSERT_TRUE (pumpUntil ([this] { return access->nameField().getText() == "Shed" && idle(); }, 20000));
    EXPECT_EQ (MainComponent::panelState(), 3);
    EXPECT_EQ (access->deviceReadout().getText(), "DORU-415QX");
    EXPECT_EQ (access->versionReadout().getText(), "1.05");
    EXPECT_TRUE (access->writeButton().isEnabled());
    ASSERT_GE (responder.seen.size(), 2u);
    EXPECT_EQ (responder.seen[1].title, "Korva Bluetooth device found");

    // Lines reach the log a frame at most after they were traced.
    EXPECT_TRUE (pumpUntil ([this] { return access->logView().getText().contains ("< Ack: aa0002149258\n"); }, 1000));
    const auto log = access->logView().getText();
    EXPECT_TRUE (log.contains ("< Cmd: aa0002d0002e\n")) << log;
    EXPECT_TRUE (log.contains ("> Evt: aa00039000f27b\n")) << log;
    EXPECT_TRUE (log.contains ("< Ack: aa000214905a\n")) << log;
}

TEST_F (PanelJobs, WrittenSettingsReachTheReceiver)
{
    start (0xF0);
    choosePort ("Rulko/DORU-QX");
    ASSERT_TRUE (pumpUntil ([this] { return access->nameField().getText() == "Shed" && idle(); }, 20000));

    access->nameField().setText (juce::String::fromUTF8 ("Caf\xc3\xa9"), juce::dontSendNotification);
    access->pinField().setText ("4321", juce::dontSendNotification);
    access->maxDevicesSelector().setSelectedId (1);
    panel->startWriteConfig();

    ASSERT_TRUE (pumpUntil ([this] { return responder.seen.size() >= 3 && idle(); }, 20000));
    EXPECT_EQ (responder.seen[2].title, "Device configuration");
    EXPECT_EQ (responder.seen[2].message, "Device configuration is done [success]");
    EXPECT_TRUE (access->writeButton().isEnabled());

    const auto stored = sim->settings();
    EXPECT_EQ (stored.name, "Caf\xc3\xa9");
    EXPECT_EQ (std::string (stored.pin.begin(), stored.pin.end()), "4321");
    EXPECT_EQ (stored.maxDevices, 1);

    // Read back: the name shows as it was written.
    panel->startReadConfig();
    ASSERT_TRUE (pumpUntil ([this] { return idle() && access->nameField().getText().isNotEmpty(); }, 20000));
    EXPECT_EQ (access->nameField().getText(), juce::String::fromUTF8 ("Caf\xc3\xa9"));
}

TEST_F (PanelJobs, ShowingTheLogListensAndHidingItEndsTheListening)
{
    start (0xF0);
    choosePort ("Rulko/DORU-QX");
    ASSERT_TRUE (pumpUntil ([this] { return access->nameField().getText() == "Shed" && idle(); }, 20000));

    // Ten clicks on the version read-out, as the gesture counts them.
    for (int i = 0; i < 9; ++i)
        clickVersion();
    EXPECT_FALSE (panel->isLogVisible());
    clickVersion();
    EXPECT_TRUE (panel->isLogVisible());
    EXPECT_EQ (panel->getHeight(), 437 + 150);
    ASSERT_NE (panel->getWorker(), nullptr);
    EXPECT_EQ (panel->getWorker()->kind, JobKind::Listen);
    EXPECT_EQ (MainComponent::getBusyOverlay(), nullptr) << "listening leaves the panel usable";

    // What the receiver reports now shows in the log and is acknowledged. The
    // job starts from a quiet line, so report only once it has had time to open the port.
    pump (500);
    sim->injectPairedRecords (1);
    ASSERT_TRUE (pumpUntil ([this] { return access->logView().getText().contains ("< Ack: aa0002141fcb"); }, 5000));

    // Every other starter refuses while listening.
    panel->startReadConfig();
    EXPECT_EQ (panel->getWorker()->kind, JobKind::Listen);

    for (int i = 0; i < 10; ++i)
        clickVersion();
    EXPECT_FALSE (panel->isLogVisible());
    ASSERT_TRUE (pumpUntil ([this] { return idle(); }, 5000));
    EXPECT_EQ (panel->getHeight(), 437);
    EXPECT_EQ (responder.seen.size(), 2u) << "a listen job ends without a box";
}

// A chatty receiver (200 status events a second) with the log open in a real
// window: every event and its acknowledgement show, in order, handed over in
// batches; input queued behind them is still handled at once, and ten clicks
// close the log.
TEST_F (PanelJobs, TheWindowStillAnswersWhileAChattyReceiverFillsTheLog)
{
    start (0xF0);
    juce::DocumentWindow window ("Korva event log under load",
                                 juce::LookAndFeel::getDefaultLookAndFeel().findColour (juce::ResizableWindow::backgroundColourId),
                                 0, true);
    window.setUsingNativeTitleBar (true);
    window.setContentNonOwned (panel.get(), true);
    window.centreWithSize (window.getWidth(), window.getHeight());
    window.setVisible (true);

    choosePort ("Rulko/DORU-QX");
    ASSERT_TRUE (pumpUntil ([this] { return access->nameField().getText() == "Shed" && idle(); }, 20000));

    sim->streamEvents (200);
    for (int i = 0; i < 10; ++i)
        clickVersion();
    ASSERT_TRUE (panel->isLogVisible());
    ASSERT_NE (panel->getWorker(), nullptr);

    const int handOversBefore = access->logQueue().getNumHandOvers();
    const auto started = juce::Time::getMillisecondCounter();
    pump (3000);
    const auto elapsed = juce::Time::getMillisecondCounter() - started;

    auto& log = access->logView();
    const int lines = log.getNumLines();
    EXPECT_GT (lines, 2 * 100) << "at 200 events a second, more than 100 events in 3 s";
    for (int i = 0; i < lines; ++i)
        if (log.getLine (i) != (i % 2 == 0 ? "> Evt: aa00020100fd" : "< Ack: aa00021401e9"))
        {
            ADD_FAILURE() << "line " << i << " is " << log.getLine (i);
            break;
        }
    EXPECT_TRUE (log.isFollowingEnd());
    EXPECT_LE (access->logQueue().getNumHandOvers() - handOversBefore,
               (int) elapsed / LogLineQueue::handOverIntervalMs + 5) << "at most one hand-over a frame";

    // Input queued now, behind whatever the worker posted, is handled at once.
    bool answered = false;
    juce::MessageManager::callAsync ([&answered] { answered = true; });
    EXPECT_TRUE (pumpUntil ([&answered] { return answered; }, 2000));

    EXPECT_TRUE (saveSnapshot (*panel, "event-log-under-load").existsAsFile());

    // Ten clicks, queued as input arrives, hide the log and end the listening.
    for (int i = 0; i < 10; ++i)
        juce::MessageManager::callAsync ([this] { clickVersion(); });
    ASSERT_TRUE (pumpUntil ([this] { return ! panel->isLogVisible() && idle(); }, 5000));
    EXPECT_EQ (panel->getHeight(), 437);

    // Every event that reached the tool was acknowledged, but those in flight as it let go of the port.
    pump (200);
    const auto counts = sim->streamCounts();
    EXPECT_GE (counts.acknowledged, static_cast<uint64_t> (lines / 2));
    EXPECT_LE (counts.sent - counts.acknowledged, 5u);
    sim->streamEvents (0);
    window.clearContentComponent();
}

TEST_F (PanelJobs, ClosingThePanelDuringAJobStopsItAndClosesThePort)
{
    start (0xF0);
    choosePort ("Rulko/DORU-QX");
    ASSERT_TRUE (pumpUntil ([this] { return access->nameField().getText() == "Shed" && idle(); }, 20000));

    // A restore whose restart report never comes keeps its job running.
    sim->setSilent (true);
    panel->startRestoreDefaults();
    ASSERT_NE (panel->getWorker(), nullptr);
    pump (200);

    const auto before = juce::Time::getMillisecondCounter();
    access.reset();
    panel.reset();
    EXPECT_LT (juce::Time::getMillisecondCounter() - before, 1000u) << "the job is stopped, not waited out";
    EXPECT_EQ (MainComponent::getBusyOverlay(), nullptr);

    // The port was closed: it opens again.
    const int index = portCount() - 1;
    EXPECT_EQ (openPort (index, 921600), 1);
    closePort (index);
}

// Another receiver behind the same name (an adapter re-plugged within the
// refresh, an rfcomm binding re-pointed): the write reaches neither receiver;
// the panel detects the new one first and shows it.
TEST_F (PanelJobs, AReceiverSwappedBehindThePortIsDetectedBeforeAnyWrite)
{
    resetPortTable();
    korvasim::SimulatorOptions first, second;
    first.type = 0xF0;
    first.factory.name = "Shed";
    second.type = 0xF2;
    second.factory.name = "Barn";
    sim = std::make_unique<korvasim::SimulatedReceiver> (first);
    korvasim::SimulatedReceiver other (second);
    ASSERT_TRUE (sim->start());
    ASSERT_TRUE (other.start());

    const auto link = juce::File::getSpecialLocation (juce::File::tempDirectory)
                          .getNonexistentChildFile ("korva-swap", "").getFullPathName().toStdString();
    ASSERT_EQ (::symlink (sim->slavePath().c_str(), link.c_str()), 0);
    ::setenv ("KORVA_EXTRA_PORTS", link.c_str(), 1);
    panel = std::make_unique<MainComponent>();
    access = std::make_unique<MainComponentTestAccess> (*panel);

    choosePort ("Rulko/DORU-QX");
    ASSERT_TRUE (pumpUntil ([this] { return access->nameField().getText() == "Shed" && idle(); }, 20000));
    const auto heardByFirst = sim->receivedFrames().size();

    ::unlink (link.c_str());
    ASSERT_EQ (::symlink (other.slavePath().c_str(), link.c_str()), 0);
    access->nameField().setText ("Overwritten", juce::dontSendNotification);
    panel->startWriteConfig();

    ASSERT_TRUE (pumpUntil ([this] { return access->nameField().getText() == "Barn" && idle(); }, 20000));
    EXPECT_EQ (access->deviceReadout().getText(), "DORU-415QX");
    EXPECT_EQ (sim->receivedFrames().size(), heardByFirst) << "the first receiver heard nothing more";
    for (const auto& frame : other.receivedFrames())
        EXPECT_FALSE (frame.size() > 3 && frame[0] == 0xAA && frame[3] == 0x35) << "no name was written to the second";
    EXPECT_EQ (other.settings().name, "Barn");

    ::unlink (link.c_str());
    EXPECT_TRUE (other.violations().empty());
    other.stop();
}
