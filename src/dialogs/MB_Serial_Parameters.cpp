#include "MB_Serial_Parameters.h"

#include "ModbusConnection.h"
#include "ModbusError.h"
#include "SerialPortBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QVBoxLayout>

#include <cmath>
#include <string>
#include <vector>

namespace tarnwick {

namespace {

// Positions equal the ordinals of the connection's rates br110 ... br115200.
const QStringList BaudItems = {"110", "300", "600", "1200", "2400", "4800", "9600",
                               "14400", "19200", "38400", "56000", "57600", "115200"};
constexpr int DefaultBaudPosition = 6;  // 9600

template <typename W>
W* Named(W* w, const char* name)
{
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

}  // namespace

TForm_mb_settings::TForm_mb_settings(modbus::TModbusConnection& connection, QWidget* parent)
    : QDialog(parent), connection_(connection)
{
    setObjectName(QStringLiteral("Form_mb_settings"));
    setWindowTitle(QStringLiteral("Modbus Settings"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    auto* column = new QVBoxLayout(this);
    column->addWidget(Named(new QLabel(QStringLiteral("Serial Port:")), "Label1"));
    ComboBox_serial_port = Named(new QComboBox, "ComboBox_serial_port");
    column->addWidget(ComboBox_serial_port);
    CheckBox_EchoQueryBeforeReply =
        Named(new QCheckBox(QStringLiteral("Remove Echo (If applicable)")), "CheckBox_EchoQueryBeforeReply");
    column->addWidget(CheckBox_EchoQueryBeforeReply);
    column->addSpacing(8);
    column->addWidget(Named(new QLabel(QStringLiteral("Baud Rate [bps]:")), "Label2"));
    ComboBox_baud_rate = Named(new QComboBox, "ComboBox_baud_rate");
    ComboBox_baud_rate->addItems(BaudItems);
    column->addWidget(ComboBox_baud_rate);

    auto* parity = Named(new QGroupBox(QStringLiteral("Parity")), "GroupBox2");
    auto* parityLayout = new QVBoxLayout(parity);
    RadioButton_parity_none = Named(new QRadioButton(QStringLiteral("None")), "RadioButton_parity_none");
    RadioButton_parity_odd = Named(new QRadioButton(QStringLiteral("Odd")), "RadioButton_parity_odd");
    RadioButton_parity_even = Named(new QRadioButton(QStringLiteral("Even")), "RadioButton_parity_even");
    for (QRadioButton* b : {RadioButton_parity_none, RadioButton_parity_odd, RadioButton_parity_even})
        parityLayout->addWidget(b);
    column->addWidget(parity);

    auto* stop = Named(new QGroupBox(QStringLiteral("Stop Bits")), "GroupBox_stop_bits");
    auto* stopLayout = new QVBoxLayout(stop);
    RadioButton_1_stop_bit = Named(new QRadioButton(QStringLiteral("1 Stop Bit")), "RadioButton_1_stop_bit");
    RadioButton_2_stop_bits = Named(new QRadioButton(QStringLiteral("2 Stop Bits")), "RadioButton_2_stop_bits");
    stopLayout->addWidget(RadioButton_1_stop_bit);
    stopLayout->addWidget(RadioButton_2_stop_bits);
    column->addWidget(stop);
    column->addStretch(1);

    auto* ok = Named(new QPushButton(QStringLiteral("OK")), "Button1");
    auto* cancel = Named(new QPushButton(QStringLiteral("Cancel")), "Button2");
    auto* defaults = Named(new QPushButton(QStringLiteral("Defaults")), "Button_defaults");
    ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    column->addLayout(buttons);
    column->addWidget(defaults);
    connect(ok, &QPushButton::clicked, this, &TForm_mb_settings::Button1Click);
    connect(cancel, &QPushButton::clicked, this, &TForm_mb_settings::Button2Click);
    connect(defaults, &QPushButton::clicked, this, &TForm_mb_settings::Button_defaultsClick);

    FormCreate();
}

void TForm_mb_settings::FormCreate()
{
    setFixedSize(205, 505);
    if (const QScreen* s = screen()) {
        const QRect area = s->geometry();
        move(static_cast<int>(std::lround(area.x() + (area.width() - width()) / 2.0)),
             area.y() + area.height() / 4);
    }

    const auto ports = modbus::ListSerialPorts();
    modbus::AddSerialPorts(ComboBox_serial_port, ports);
    modbus::SelectSerialPort(ComboBox_serial_port, ports, 0, connection_.Port());

    CheckBox_EchoQueryBeforeReply->setChecked(connection_.EchoQueryBeforeReply());
    const int baud = connection_.BaudRate();
    ComboBox_baud_rate->setCurrentIndex(baud <= modbus::br115200 ? baud : -1);
    switch (connection_.Parity()) {
    case modbus::psNone: RadioButton_parity_none->setChecked(true); break;
    case modbus::psOdd: RadioButton_parity_odd->setChecked(true); break;
    default: RadioButton_parity_even->setChecked(true); break;
    }
    (connection_.StopBits() == modbus::sb2 ? RadioButton_2_stop_bits : RadioButton_1_stop_bit)->setChecked(true);
}

void TForm_mb_settings::Button1Click()
{
    try {
        connection_.SetPort(modbus::SerialPortSetting(ComboBox_serial_port));
        connection_.SetEchoQueryBeforeReply(CheckBox_EchoQueryBeforeReply->isChecked());
        if (ComboBox_baud_rate->currentIndex() >= 0)
            connection_.SetBaudRate(static_cast<modbus::TBaudRate>(ComboBox_baud_rate->currentIndex()));
        connection_.SetParity(RadioButton_parity_none->isChecked()  ? modbus::psNone
                              : RadioButton_parity_odd->isChecked() ? modbus::psOdd
                                                                    : modbus::psEven);
        connection_.SetStopBits(RadioButton_1_stop_bit->isChecked() ? modbus::sb1 : modbus::sb2);
        connection_.SetFlowControl(modbus::fcNone);
        connection_.SetTransmissionMode(modbus::tmRTU);
        connection_.SetSilentInterval(4);
        connection_.SetRTSEnabled(false);
        connection_.SetDTREnabled(false);
    } catch (const modbus::EModbusError& e) {
        // The user sees why and can correct or cancel; closing would hide that nothing took.
        if (onError_)
            onError_(QString::fromUtf8(e.what()));
        return;
    }
    accept();
}

void TForm_mb_settings::Button2Click() { reject(); }

void TForm_mb_settings::Button_defaultsClick()
{
    ComboBox_serial_port->setCurrentIndex(ComboBox_serial_port->count() > 0 ? 0 : -1);
    CheckBox_EchoQueryBeforeReply->setChecked(false);
    ComboBox_baud_rate->setCurrentIndex(DefaultBaudPosition);
    RadioButton_parity_even->setChecked(true);
    RadioButton_1_stop_bit->setChecked(true);
}

}  // namespace tarnwick
