#include "ModbusConnectionEditor.h"

#include "ModbusError.h"
#include "SerialPortBox.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <stdexcept>
#include <string>
#include <vector>

namespace modbus {

// A titled group of radio buttons with an item index, laid out in columns.
class TRadioGroup final : public QGroupBox {
public:
    TRadioGroup(const char* name, const QString& title, const QStringList& items, int columns)
        : QGroupBox(title)
    {
        setObjectName(QString::fromLatin1(name));
        auto* grid = new QGridLayout(this);
        const int rows = (static_cast<int>(items.size()) + columns - 1) / columns;
        for (int i = 0; i < items.size(); ++i) {
            auto* b = new QRadioButton(items[i]);
            b->setObjectName(objectName() + QStringLiteral("Item%1").arg(i));
            group_.addButton(b, i);
            grid->addWidget(b, i % rows, i / rows);
        }
        connect(&group_, &QButtonGroup::idClicked, this, [this](int) {
            if (onClick)
                onClick();
        });
    }
    int ItemIndex() const { return group_.checkedId(); }
    int Count() const { return static_cast<int>(group_.buttons().size()); }
    // As the user's click: the click handler runs.
    void SetItemIndex(int i)
    {
        if (QAbstractButton* b = group_.button(i))
            b->setChecked(true);
        if (onClick)
            onClick();
    }

    std::function<void()> onClick;

private:
    QButtonGroup group_;
};

namespace {

const QStringList BaudItems = {"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200",
                               "38400", "56000", "57600", "115200", "128000", "256000", "Custom"};
constexpr int CustomIndex = 15;
constexpr long long MaxValue = 4294967295LL;

template <typename W>
W* Named(W* w, const char* name)
{
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

// The index shown for a property value: the value itself, or the given one when out of range.
int IndexOr(int value, int count, int fallback) { return value >= 0 && value < count ? value : fallback; }

// The runtime's checks of a numeric edit, with its messages.
uint32_t Checked(QLineEdit* edit, long long low, long long high)
{
    bool ok = false;
    const long long v = edit->text().toLongLong(&ok);
    if (!ok)
        throw std::runtime_error(QStringLiteral("'%1' ist kein gültiger Integerwert").arg(edit->text()).toStdString());
    if (v < low || v > high) {
        if (edit->isEnabled())
            edit->setFocus();
        throw std::runtime_error(QStringLiteral("Wert muß zwischen %1 und %2 liegen").arg(low).arg(high).toStdString());
    }
    return static_cast<uint32_t>(v);
}

uint32_t Number(const QLineEdit* edit) { return static_cast<uint32_t>(edit->text().toLongLong()); }

}  // namespace

TModbusConnectionEditForm::TModbusConnectionEditForm(std::function<void(QWidget*, const QString&)> showMessage,
                                                     QWidget* parent)
    : QDialog(parent), showMessage_(std::move(showMessage))
{
    setObjectName(QStringLiteral("ModbusConnectionEditForm"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    QFont tahoma(QStringLiteral("Tahoma"));
    tahoma.setPointSize(8);
    setFont(tahoma);

    // Serial Communication.
    auto* serial = Named(new QWidget, "SerialPage");
    PortComboBox = Named(new QComboBox, "PortComboBox");
    PortComboBox->setEditable(true);
    PortComboBox->setInsertPolicy(QComboBox::NoInsert);
    EchoCheckBox = Named(new QCheckBox(QStringLiteral("Echo Query Before Reply")), "EchoCheckBox");
    DataBitsRadioGroup = new TRadioGroup("DataBitsRadioGroup", QStringLiteral("&Data Bits:"), {"7 bits", "8 bits"}, 2);
    ParitySchemeRadioGroup = new TRadioGroup("ParitySchemeRadioGroup", QStringLiteral("P&arity:"), {"None", "Odd", "Even"}, 1);
    StopBitsRadioGroup = new TRadioGroup("StopBitsRadioGroup", QStringLiteral("&Stop Bits:"), {"1 bit", "2 bits"}, 2);
    TransmissionModeRadioGroup =
        new TRadioGroup("TransmissionModeRadioGroup", QStringLiteral("&Transmission Mode:"), {"RTU", "ASCII"}, 2);
    BaudRateComboBox = Named(new QComboBox, "BaudRateComboBox");
    CustomBaudRateEdit = Named(new QLineEdit, "CustomBaudRateEdit");
    FlowControlRadioGroup = new TRadioGroup("FlowControlRadioGroup", QStringLiteral("&Flow Control:"),
                                            {"None", "RTS Toggle", "RTS/CTS", "DTR/DSR"}, 1);
    auto* lines = Named(new QGroupBox(QStringLiteral("&Enabled lines:")), "EnabledLinesGroupBox");
    DTREnabledCheckBox = Named(new QCheckBox(QStringLiteral("DTR")), "DTREnabledCheckBox");
    RTSEnabledCheckBox = Named(new QCheckBox(QStringLiteral("RTS")), "RTSEnabledCheckBox");
    auto* linesLayout = new QHBoxLayout(lines);
    linesLayout->addWidget(DTREnabledCheckBox);
    linesLayout->addWidget(RTSEnabledCheckBox);
    SilentIntervalEdit = Named(new QLineEdit, "SilentIntervalEdit");
    Label3 = Named(new QLabel, "Label3");
    Label3->setBuddy(SilentIntervalEdit);

    auto* portLabel = new QLabel(QStringLiteral("Serial &Port:"));
    portLabel->setBuddy(PortComboBox);
    auto* baudLabel = new QLabel(QStringLiteral("&Baud Rate [bps]:"));
    baudLabel->setBuddy(BaudRateComboBox);
    auto* serialGrid = new QGridLayout(serial);
    serialGrid->addWidget(portLabel, 0, 0);
    serialGrid->addWidget(PortComboBox, 1, 0);
    serialGrid->addWidget(EchoCheckBox, 2, 0);
    serialGrid->addWidget(DataBitsRadioGroup, 3, 0);
    serialGrid->addWidget(ParitySchemeRadioGroup, 4, 0);
    serialGrid->addWidget(StopBitsRadioGroup, 5, 0);
    serialGrid->addWidget(TransmissionModeRadioGroup, 6, 0);
    serialGrid->addWidget(baudLabel, 0, 1);
    serialGrid->addWidget(BaudRateComboBox, 1, 1);
    serialGrid->addWidget(CustomBaudRateEdit, 2, 1);
    serialGrid->addWidget(FlowControlRadioGroup, 3, 1, 2, 1);
    serialGrid->addWidget(lines, 5, 1);
    auto* silent = new QVBoxLayout;
    silent->addWidget(Label3);
    silent->addWidget(SilentIntervalEdit);
    serialGrid->addLayout(silent, 6, 1);

    // Modbus Transaction Management.
    auto* transaction = Named(new QWidget, "TransactionPage");
    ConnectionModeRadioGroup =
        new TRadioGroup("ConnectionModeRadioGroup", QStringLiteral("&Connection Mode:"), {"Client", "Server"}, 2);
    auto edit = [](const char* name) { return Named(new QLineEdit, name); };
    RefetchDelayEdit = edit("RefetchDelayEdit");
    SendTimeoutEdit = edit("SendTimeoutEdit");
    ReceiveTimeoutEdit = edit("ReceiveTimeoutEdit");
    MaxRetriesEdit = edit("MaxRetriesEdit");
    TurnaroundDelayEdit = edit("TurnaroundDelayEdit");
    ThreadPriorityRadioGroup = new TRadioGroup(
        "ThreadPriorityRadioGroup", QStringLiteral("&Thread Priority:"),
        {"Idle", "Lowest", "Lower", "Normal", "Higher", "Highest", "Time Critical"}, 2);
    auto* form = new QFormLayout;
    auto label = [&](const char* name, const char* text, QLineEdit* buddy) {
        auto* l = Named(new QLabel(QString::fromUtf8(text)), name);
        l->setBuddy(buddy);
        form->addRow(l, buddy);
        return l;
    };
    RefetchDelayLabel = label("RefetchDelayLabel", "&Refetch Delay [ms]:", RefetchDelayEdit);
    label("SendTimeoutLabel", "&Send Timeout [ms]:", SendTimeoutEdit);
    ReceiveTimeoutLabel = label("ReceiveTimeoutLabel", "R&eceive Timeout [ms]:", ReceiveTimeoutEdit);
    MaxRetriesLabel = label("MaxRetriesLabel", "&Maximum Retries:", MaxRetriesEdit);
    TurnaroundDelayLabel = label("TurnaroundDelayLabel", "T&urnaround Delay [ms]:", TurnaroundDelayEdit);
    auto* transactionColumn = new QVBoxLayout(transaction);
    transactionColumn->addWidget(ConnectionModeRadioGroup);
    transactionColumn->addLayout(form);
    transactionColumn->addWidget(ThreadPriorityRadioGroup);
    transactionColumn->addStretch(1);

    PageControl = Named(new QTabWidget, "PageControl");
    PageControl->addTab(serial, QStringLiteral("Serial Communication"));
    PageControl->addTab(transaction, QStringLiteral("Modbus Transaction Management"));

    RTUDefaultsButton = Named(new QPushButton(QStringLiteral("&RTU Defaults")), "RTUDefaultsButton");
    ASCIIDefaultsButton = Named(new QPushButton(QStringLiteral("AS&CII Defaults")), "ASCIIDefaultsButton");
    auto* ok = Named(new QPushButton(QStringLiteral("OK")), "OKButton");
    auto* cancel = Named(new QPushButton(QStringLiteral("Cancel")), "CancelButton");
    ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(RTUDefaultsButton);
    buttons->addWidget(ASCIIDefaultsButton);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* column = new QVBoxLayout(this);
    column->addWidget(PageControl);
    column->addLayout(buttons);
    resize(440, 416);

    ports_ = ListSerialPorts();
    AddSerialPorts(PortComboBox, ports_);
    BaudRateComboBox->addItems(BaudItems);
    PageControl->setCurrentIndex(0);

    connect(BaudRateComboBox, &QComboBox::activated, this, &TModbusConnectionEditForm::BaudRateComboBoxClick);
    TransmissionModeRadioGroup->onClick = [this] { TransmissionModeRadioGroupClick(); };
    FlowControlRadioGroup->onClick = [this] { FlowControlRadioGroupClick(); };
    ConnectionModeRadioGroup->onClick = [this] { ConnectionModeRadioGroupClick(); };
    connect(PageControl, &QTabWidget::currentChanged, this, &TModbusConnectionEditForm::PageControlChange);
    connect(RTUDefaultsButton, &QPushButton::clicked, this, &TModbusConnectionEditForm::RTUDefaultsButtonClick);
    connect(ASCIIDefaultsButton, &QPushButton::clicked, this, &TModbusConnectionEditForm::ASCIIDefaultsButtonClick);
    connect(ok, &QPushButton::clicked, this, &TModbusConnectionEditForm::OKButtonClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TModbusConnectionEditForm::CopyIn(const TModbusConnection& c)
{
    SelectSerialPort(PortComboBox, ports_, 0, c.Port());
    BaudRateComboBox->setCurrentIndex(IndexOr(c.BaudRate(), BaudItems.size(), br19200));
    CustomBaudRateEdit->setText(QString::number(c.CustomBaudRate()));
    EchoCheckBox->setChecked(c.EchoQueryBeforeReply());
    DataBitsRadioGroup->SetItemIndex(IndexOr(c.DataBits(), 2, db8));
    ParitySchemeRadioGroup->SetItemIndex(IndexOr(c.Parity(), 3, psEven));
    StopBitsRadioGroup->SetItemIndex(IndexOr(c.StopBits(), 2, sb1));
    FlowControlRadioGroup->SetItemIndex(IndexOr(c.FlowControl(), 4, fcNone));
    DTREnabledCheckBox->setChecked(c.DTREnabled());
    RTSEnabledCheckBox->setChecked(c.RTSEnabled());
    TransmissionModeRadioGroup->SetItemIndex(IndexOr(c.TransmissionMode(), 2, tmRTU));
    SilentIntervalEdit->setText(QString::number(c.SilentInterval()));
    ConnectionModeRadioGroup->SetItemIndex(IndexOr(c.ConnectionMode(), 2, cmClient));
    ThreadPriorityRadioGroup->SetItemIndex(IndexOr(c.ThreadPriority(), 7, tpNormal));
    RefetchDelayEdit->setText(QString::number(c.RefetchDelay()));
    SendTimeoutEdit->setText(QString::number(c.SendTimeout()));
    ReceiveTimeoutEdit->setText(QString::number(c.ReceiveTimeout()));
    MaxRetriesEdit->setText(QString::number(c.MaxRetries()));
    TurnaroundDelayEdit->setText(QString::number(c.TurnaroundDelay()));
    UpdateDependentStates();
}

bool TModbusConnectionEditForm::NeedsReopen(const TModbusConnection& c) const
{
    return c.Active() &&
           (SerialPortSetting(PortComboBox) != c.Port() ||
            FlowControlRadioGroup->ItemIndex() != c.FlowControl() ||
            DTREnabledCheckBox->isChecked() != c.DTREnabled() || RTSEnabledCheckBox->isChecked() != c.RTSEnabled() ||
            TransmissionModeRadioGroup->ItemIndex() != c.TransmissionMode() ||
            ConnectionModeRadioGroup->ItemIndex() != c.ConnectionMode());
}

void TModbusConnectionEditForm::CopyOut(TModbusConnection& c) const
{
    c.SetPort(SerialPortSetting(PortComboBox));
    c.SetBaudRate(static_cast<TBaudRate>(BaudRateComboBox->currentIndex()));
    if (BaudRateComboBox->currentIndex() == CustomIndex)
        c.SetCustomBaudRate(Number(CustomBaudRateEdit));
    c.SetEchoQueryBeforeReply(EchoCheckBox->isChecked());
    c.SetDataBits(static_cast<TDataBits>(DataBitsRadioGroup->ItemIndex()));
    c.SetParity(static_cast<TParityScheme>(ParitySchemeRadioGroup->ItemIndex()));
    c.SetStopBits(static_cast<TStopBits>(StopBitsRadioGroup->ItemIndex()));
    c.SetFlowControl(static_cast<TFlowControl>(FlowControlRadioGroup->ItemIndex()));
    c.SetDTREnabled(DTREnabledCheckBox->isChecked());
    c.SetRTSEnabled(RTSEnabledCheckBox->isChecked());
    c.SetTransmissionMode(static_cast<TTransmissionMode>(TransmissionModeRadioGroup->ItemIndex()));
    c.SetSilentInterval(Number(SilentIntervalEdit));
    c.SetConnectionMode(static_cast<TConnectionMode>(ConnectionModeRadioGroup->ItemIndex()));
    c.SetThreadPriority(static_cast<TThreadPriority>(ThreadPriorityRadioGroup->ItemIndex()));
    const bool client = Client();
    if (client)
        c.SetRefetchDelay(Number(RefetchDelayEdit));
    c.SetSendTimeout(Number(SendTimeoutEdit));
    c.SetReceiveTimeout(Number(ReceiveTimeoutEdit));
    if (client) {
        c.SetMaxRetries(Number(MaxRetriesEdit));
        c.SetTurnaroundDelay(Number(TurnaroundDelayEdit));
    }
}

bool TModbusConnectionEditForm::Client() const { return ConnectionModeRadioGroup->ItemIndex() == cmClient; }

void TModbusConnectionEditForm::UpdateDependentStates()
{
    BaudRateComboBoxClick();
    FlowControlRadioGroupClick();
    TransmissionModeRadioGroupClick();
    PageControlChange(PageControl->currentIndex());
    ConnectionModeRadioGroupClick();
}

void TModbusConnectionEditForm::showEvent(QShowEvent* event)
{
    UpdateDependentStates();
    QDialog::showEvent(event);
}

void TModbusConnectionEditForm::BaudRateComboBoxClick()
{
    CustomBaudRateEdit->setVisible(BaudRateComboBox->currentIndex() == CustomIndex);
}

void TModbusConnectionEditForm::TransmissionModeRadioGroupClick()
{
    Label3->setText(QStringLiteral("Silent &Interval [%1]:")
                        .arg(TransmissionModeRadioGroup->ItemIndex() == tmASCII ? QStringLiteral("milliseconds")
                                                                                : QStringLiteral("character times")));
}

void TModbusConnectionEditForm::FlowControlRadioGroupClick()
{
    const int flow = FlowControlRadioGroup->ItemIndex();
    // These modes drive the lines themselves.
    DTREnabledCheckBox->setEnabled(flow != fcDtrDsr);
    RTSEnabledCheckBox->setEnabled(flow != fcRtsToggle && flow != fcRtsCts);
}

void TModbusConnectionEditForm::ConnectionModeRadioGroupClick()
{
    const bool client = Client();
    for (QLabel* l : {RefetchDelayLabel, ReceiveTimeoutLabel, MaxRetriesLabel, TurnaroundDelayLabel})
        l->setEnabled(client);
    for (QLineEdit* e : {RefetchDelayEdit, ReceiveTimeoutEdit, MaxRetriesEdit, TurnaroundDelayEdit}) {
        e->setEnabled(client);
        QPalette p = e->palette();
        p.setColor(QPalette::Base, client ? palette().color(QPalette::Base) : palette().color(QPalette::Button));
        e->setPalette(p);
    }
}

void TModbusConnectionEditForm::PageControlChange(int index)
{
    if (index != currentPage_) {
        try {
            if (currentPage_ == 0)
                CheckSerialPage();
            else
                CheckTransactionPage();
        } catch (const std::runtime_error& e) {
            // The page being left keeps the focus until its values are good.
            const QSignalBlocker block(PageControl);
            PageControl->setCurrentIndex(currentPage_);
            showMessage_(this, QString::fromStdString(e.what()));
            return;
        }
        currentPage_ = index;
    }
    RTUDefaultsButton->setEnabled(index == 0);
    ASCIIDefaultsButton->setEnabled(index == 0);
}

void TModbusConnectionEditForm::CheckSerialPage()
{
    EchoCheckBox->setEnabled(Client());
    if (BaudRateComboBox->currentIndex() == CustomIndex)
        Checked(CustomBaudRateEdit, 0, MaxValue);
    Checked(SilentIntervalEdit, 0, MaxValue);
}

void TModbusConnectionEditForm::CheckTransactionPage()
{
    const bool client = Client();
    if (client)
        Checked(RefetchDelayEdit, 0, MaxValue);
    Checked(SendTimeoutEdit, 0, MaxValue);
    Checked(ReceiveTimeoutEdit, 0, MaxValue);
    if (client) {
        Checked(MaxRetriesEdit, 1, MaxValue);
        Checked(TurnaroundDelayEdit, 0, MaxValue);
    }
}

void TModbusConnectionEditForm::RTUDefaultsButtonClick()
{
    DataBitsRadioGroup->SetItemIndex(db8);
    ParitySchemeRadioGroup->SetItemIndex(psEven);
    StopBitsRadioGroup->SetItemIndex(sb1);
    TransmissionModeRadioGroup->SetItemIndex(tmRTU);
    SilentIntervalEdit->setText(QStringLiteral("4"));
}

void TModbusConnectionEditForm::ASCIIDefaultsButtonClick()
{
    DataBitsRadioGroup->SetItemIndex(db7);
    ParitySchemeRadioGroup->SetItemIndex(psEven);
    StopBitsRadioGroup->SetItemIndex(sb1);
    TransmissionModeRadioGroup->SetItemIndex(tmASCII);
    SilentIntervalEdit->setText(QStringLiteral("1000"));
}

void TModbusConnectionEditForm::OKButtonClick()
{
    try {
        CheckSerialPage();
        CheckTransactionPage();
    } catch (const std::runtime_error& e) {
        showMessage_(this, QString::fromStdString(e.what()));
        return;
    }
    accept();
}

bool EditConnection(TModbusConnection& connection, const QString& caption, const EditorHooks& hooks, QWidget* parent)
{
    auto show = hooks.showMessage ? hooks.showMessage : [](QWidget* p, const QString& text) {
        QMessageBox::critical(p, QString(), text);
    };
    TModbusConnectionEditForm dialog(show, parent);
    dialog.setWindowTitle(caption);
    dialog.CopyIn(connection);
    const int result = hooks.exec ? hooks.exec(dialog) : dialog.exec();
    if (result != QDialog::Accepted)
        return false;
    const bool reopen = dialog.NeedsReopen(connection);
    if (reopen)
        connection.Close();
    dialog.CopyOut(connection);
    if (reopen)
        connection.Open();
    return true;
}

}  // namespace modbus
