#pragma once

// The full editor of a serial connection: every line setting on one page, the transaction
// timing on the other. EditConnection copies the connection in, shows the dialog and on OK
// writes it back, closing and reopening an active connection around settings that may only
// change while it is closed.

#include "ModbusConnection.h"
#include "SerialPortList.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace modbus {

class TRadioGroup;

struct EditorHooks {
    // Shows the dialog modally; returns QDialog::Accepted or Rejected. Default: exec().
    std::function<int(QDialog&)> exec;
    // Shows an entry error. Default: a message box.
    std::function<void(QWidget* parent, const QString& text)> showMessage;
};

class TModbusConnectionEditForm final : public QDialog {
public:
    TModbusConnectionEditForm(std::function<void(QWidget*, const QString&)> showMessage, QWidget* parent = nullptr);

    void CopyIn(const TModbusConnection& c);
    // Throws EModbusError when the connection refuses a value or cannot be reopened.
    void CopyOut(TModbusConnection& c) const;
    bool NeedsReopen(const TModbusConnection& c) const;
    // Runs the handlers that make the dependent states match the values.
    void UpdateDependentStates();

    void BaudRateComboBoxClick();
    void TransmissionModeRadioGroupClick();
    void FlowControlRadioGroupClick();
    void ConnectionModeRadioGroupClick();
    void RTUDefaultsButtonClick();
    void ASCIIDefaultsButtonClick();
    void OKButtonClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The checks of a page; throw std::runtime_error with the message to show.
    void CheckSerialPage();
    void CheckTransactionPage();
    void PageControlChange(int index);
    bool Client() const;

    std::function<void(QWidget*, const QString&)> showMessage_;
    int currentPage_ = 0;

    QTabWidget* PageControl = nullptr;
    std::vector<SerialPortInfo> ports_;
    QComboBox* PortComboBox = nullptr;
    QCheckBox* EchoCheckBox = nullptr;
    TRadioGroup* DataBitsRadioGroup = nullptr;
    TRadioGroup* ParitySchemeRadioGroup = nullptr;
    TRadioGroup* StopBitsRadioGroup = nullptr;
    TRadioGroup* TransmissionModeRadioGroup = nullptr;
    QComboBox* BaudRateComboBox = nullptr;
    QLineEdit* CustomBaudRateEdit = nullptr;
    TRadioGroup* FlowControlRadioGroup = nullptr;
    QCheckBox* DTREnabledCheckBox = nullptr;
    QCheckBox* RTSEnabledCheckBox = nullptr;
    QLineEdit* SilentIntervalEdit = nullptr;
    QLabel* Label3 = nullptr;
    TRadioGroup* ConnectionModeRadioGroup = nullptr;
    QLineEdit* RefetchDelayEdit = nullptr;
    QLineEdit* SendTimeoutEdit = nullptr;
    QLineEdit* ReceiveTimeoutEdit = nullptr;
    QLineEdit* MaxRetriesEdit = nullptr;
    QLineEdit* TurnaroundDelayEdit = nullptr;
    QLabel* RefetchDelayLabel = nullptr;
    QLabel* ReceiveTimeoutLabel = nullptr;
    QLabel* MaxRetriesLabel = nullptr;
    QLabel* TurnaroundDelayLabel = nullptr;
    TRadioGroup* ThreadPriorityRadioGroup = nullptr;
    QPushButton* RTUDefaultsButton = nullptr;
    QPushButton* ASCIIDefaultsButton = nullptr;
};

// True when the user pressed OK and the values were written. Errors of writing back or of
// reopening propagate as EModbusError.
bool EditConnection(TModbusConnection& connection, const QString& caption, const EditorHooks& hooks = {},
                    QWidget* parent = nullptr);

}  // namespace modbus
