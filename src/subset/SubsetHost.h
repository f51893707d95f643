#pragma once

// What the parameter subset needs from the main window: its one request path, its operation
// guard, its status panels, timers and dialogs. The window implements it; tests of the subset
// run against the real window.

#include "Transfer.h"

class QDialog;
class QTimer;

#include <QString>

#include <cstdint>

#include <memory>

namespace subset {

class ISubsetHost {
public:
    enum class Icon { None, Warning, Error };

    virtual ~ISubsetHost() = default;

    // One request of the subset kind, sent once the one before it has ended; returns when its
    // answer is in or the watchdog gave up. aborted: disconnected or closing.
    virtual modbus::Outcome Transfer(const modbus::Request& r) = 0;
    virtual bool Connected() const = 0;

    // Held for a whole page operation; null while another operation runs.
    class Operation {
    public:
        virtual ~Operation() = default;
    };
    virtual std::unique_ptr<Operation> BeginOperation() = 0;

    // Lets queued events run once, as between two rows of a page.
    virtual void ProcessEvents() = 0;
    virtual void SetPanelText(int panel, const QString& text) = 0;
    // Timer3: enabling it while it runs does not restart it.
    virtual void EnableTimer3() = 0;
    virtual void MessageBox(const QString& caption, const QString& text, Icon icon) = 0;
    // The program's general error report.
    virtual void ShowError(const QString& text) = 0;
    // Rebuilds a unit box from its quantity box, both found by name on the window.
    virtual void SetMeasUnitID(const QString& valueBoxName, const QString& unitBoxName) = 0;
    // Labels the current loop's scaling edits with the unit of an output quantity code.
    virtual void SetCurrentLoopMeasValueUnit(std::uint32_t code) = 0;
    // A serial line writes one register by function 6; TCP by 16.
    virtual bool SerialLine() const = 0;
    // One full reply time-out (Timer2's interval) with the message queue running.
    virtual void PauseReplyTimeout() = 0;
    // The process-input loop's timer; the window stops it when the connection ends.
    virtual QTimer& InputsIntervalTimer() = 0;
    // The window's file dialogs; empty when cancelled.
    virtual QString SaveFileName(const QString& caption, const QString& fileName, const QString& filter) = 0;
    virtual QString OpenFileName(const QString& caption, const QString& filter) = 0;
    // Shows a dialog of the subset modally: QDialog::Accepted or Rejected.
    virtual int Exec(QDialog& dialog) = 0;
};

}  // namespace subset
