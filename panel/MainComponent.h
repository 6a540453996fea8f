#pragma once
// The tool's one panel: port selector, device read-outs, settings form,
// firmware section and the hidden event log. It owns its controls by value,
// listens to them itself, and owns the one job's worker thread.

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>
#include <memory>
#include <string>

#include "panel/EventLogView.h"
#include "panel/FwComponent.h"
#include "panel/LogLineQueue.h"
#include "panel/PortMemory.h"
#include "panel/PortSelector.h"
#include "protocol/Job.h"
#include "protocol/TraceSink.h"

class MainComponent final : public juce::Component,
                            public juce::AsyncUpdater,
                            public juce::Button::Listener,
                            public juce::ComboBox::Listener,
                            public juce::KeyListener,
                            public juce::Timer,
                            private TraceSink
{
public:
    class BtThread;

    MainComponent();
    ~MainComponent() override;

    void mouseDown (const juce::MouseEvent&) override;
    void paint (juce::Graphics&) override;
    void resized() override;

    void handleAsyncUpdate() override;
    void buttonClicked (juce::Button*) override;
    void comboBoxChanged (juce::ComboBox*) override;
    bool keyPressed (const juce::KeyPress&, juce::Component* originatingComponent) override;
    void timerCallback() override;

    //==============================================================================
    // Panel state and port list
    void setPanelState (int state);
    void refreshPortList();

    /** The form mode last applied: 0 no device, 1 type 0xF0, 2 type 0xF1, 3 type 0xF2. */
    static int panelState() noexcept { return currentPanelState; }

    /** The port selector's help text; the chosen port's description follows it. */
    static constexpr const char* portSelectorHelp = "Select Korva Bluetooth serial port. F5 to refresh list";

    /** The one panel, or nullptr before construction and from the start of destruction. */
    static MainComponent* panelPointer() noexcept;

    /** Message thread: appends a trace line to the event log of the panel, if it
        still exists, after the lines the worker has queued. */
    static void appendLogLine (const juce::String& line);

    //==============================================================================
    // Device identity, form and results
    void showIdentity (uint8_t typeCode, uint8_t versionMajor, uint8_t versionMinor);
    void clearDevice();
    bool readForm (uint8_t typeCode);
    void fillForm (uint8_t typeCode);
    void clearForm();

    //==============================================================================
    // Job starters (each does nothing while a worker exists)
    void startDetect (int portIndex);
    void startReadConfig();
    void startWriteConfig();
    void startRestoreDefaults();
    void startListen();
    void showBusyOverlay();
    void disposeWorker();

    /** True when a detect succeeded on the port now chosen: only then may jobs
        other than detect reach it. */
    bool deviceDetected() const noexcept;

    // Firmware section
    void chooseFirmwareFile();
    bool checkFirmwareFile (const juce::File& file);
    void startFirmwareUpdate();

    //==============================================================================
    // Read access for tests and the window
    BtThread* getWorker() const noexcept { return worker.get(); }
    bool isLogVisible() const noexcept { return logVisible.load(); }
    static juce::Component* getBusyOverlay() noexcept;
    static void removeBusyOverlay();
    FwComponent& getFwComponent() noexcept { return fwComponent; }

private:
    friend struct MainComponentTestAccess;

    bool traceWanted() const override;
    void postTraceLine (std::string line) override;
    void startWorker (JobKind kind, int portIndex, bool slow);

    /** Disables "Write" and "Restore defaults", covers the panel and starts the job. */
    void startOverlaidJob (JobKind kind, int portIndex, bool slow);

    /** Ends a running Listen job at once, with nothing to report. */
    void stopListen();

    /** Ends a job whose port is still connecting (a Bluetooth link coming up), with nothing to report. */
    void stopConnecting();

    /** The selector's help text, followed by the description of port index. */
    void showPortHelp (int index);

    /** While a modal question or the file chooser is open, the port list holds still. */
    bool refreshHeld() const;

    static int currentPanelState;
    static std::atomic<MainComponent*> thePanel;

    //==============================================================================
    bool slowBaud = false;

    // The receiver the window talks to: its port, what is known about it, and
    // the update's image and progress. The worker uses it; declared before the
    // worker, so the worker goes first.
    Link link;

    juce::TooltipWindow tooltipWindow { this, 500 };
    FwComponent fwComponent { link.updateProgress };
    juce::DialogWindow::LaunchOptions progressWindowOptions;

    PortSelector portSelector;
    PortMemory portMemory;        // the family named for each port, kept between runs
    juce::Label portLabel, deviceLabel, deviceReadout, versionLabel, versionReadout;
    juce::Label nameLabel, nameField, pinLabel, pinField;
    juce::Label stereoLabel;
    juce::ComboBox stereoSelector;
    juce::Label maxDevicesLabel;
    juce::ComboBox maxDevicesSelector;
    juce::Label gpoLabel;
    juce::ComboBox gpoSelector;
    juce::Label restoreLabel;
    juce::ToggleButton restoreToggle;
    juce::Label ledLabel;
    juce::ToggleButton ledToggle;
    juce::TextButton restoreButton, writeButton;
    juce::Label firmwareCaption;
    juce::TextButton firmwareButton;
    juce::Label firmwareLabel;
    EventLogView logView;

    // Trace lines from the worker, handed to logView in batches; declared after
    // it, so it goes first.
    LogLineQueue logQueue { [this] (const std::vector<std::string>& lines, juce::uint64 droppedBefore)
    {
        logView.noteDropped (droppedBefore);
        logView.appendLines (lines);
    } };

    std::atomic<bool> logVisible { false };   // read by the worker's trace without a lock
    int clickCount = 0;
    juce::int64 lastClickTime = 0;
    std::unique_ptr<BtThread> worker;
    int detectedPort = -1;        // index of the port whose receiver was last detected, -1 for none
    uint64_t detectedDevice = 0;  // which device that detect opened behind the port's name
    std::string formProblems;     // why the form's settings were last refused, for the box
    bool choosingPort = false;    // the device-type question is open
    bool choosingFile = false;    // the firmware file chooser is open
    juce::String selectedPortName;
    juce::StringArray portNames;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainComponent)
};
