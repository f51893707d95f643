#pragma once

// "Modbus Settings": the simple editor of the main window's serial connection (port, echo
// removal, baud rate, parity, stop bits). Reads the connection when created, writes it on OK.

#include <QDialog>

#include <functional>

class QCheckBox;
class QComboBox;
class QRadioButton;

namespace modbus {
class TModbusConnection;
}

namespace tarnwick {

class TForm_mb_settings final : public QDialog {
public:
    TForm_mb_settings(modbus::TModbusConnection& connection, QWidget* parent = nullptr);

    // Where errors of the connection's setters go (the window's general error dialog).
    void SetErrorHandler(std::function<void(const QString&)> handler) { onError_ = std::move(handler); }

    void Button1Click();        // OK
    void Button2Click();        // Cancel
    void Button_defaultsClick();

private:
    void FormCreate();

    modbus::TModbusConnection& connection_;
    std::function<void(const QString&)> onError_;
    QComboBox* ComboBox_serial_port = nullptr;
    QCheckBox* CheckBox_EchoQueryBeforeReply = nullptr;
    QComboBox* ComboBox_baud_rate = nullptr;
    QRadioButton* RadioButton_parity_none = nullptr;
    QRadioButton* RadioButton_parity_odd = nullptr;
    QRadioButton* RadioButton_parity_even = nullptr;
    QRadioButton* RadioButton_1_stop_bit = nullptr;
    QRadioButton* RadioButton_2_stop_bits = nullptr;
};

}  // namespace tarnwick
