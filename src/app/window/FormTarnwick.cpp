// Construction of the main window: the always-visible area, the places of all areas, the
// signal wiring. The areas of the service functions, calculator and subset are built in
// FormTarnwickPanels.cpp.
//
// The window is laid out like a sheet that the window's size crops: 520 x 550 shows the
// communication, actions and measured-value areas; 760 wide adds the calculator, register and
// CRT area; 766 high adds the service groups; 1350 wide adds the parameter subset. Each area
// uses ordinary layouts inside; only the areas themselves sit at fixed places.

#include "FormTarnwick.h"

#include "Diagnostics.h"
#include "FormBuilders.h"
#include "QtMainThread.h"
#include "StatusPanels.h"

#include "MBMasterUnitIDs.h"
#include "RegisterFormulas.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QKeySequence>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace tarnwick {

namespace {

// Places of the areas on the sheet, in pixels.
constexpr QRect LeftArea{6, 4, 508, 516};
constexpr QRect RightArea{522, 4, 230, 516};
constexpr QRect ServiceArea{6, 524, 746, 214};
constexpr QRect SubsetArea{760, 4, 584, 734};

// An empty slave-address text becomes 1 when the box is left.
class TSlaveAddressBox final : public QSpinBox {
public:
    using QSpinBox::QSpinBox;
    void fixup(QString& input) const override
    {
        if (input.trimmed().isEmpty())
            input = QStringLiteral("1");
    }
};

}  // namespace

using namespace build;

TFormTarnwick::TFormTarnwick(const QStringList& args, IDialogService& dialogs, QWidget* parent)
    : QMainWindow(parent), m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("FormTarnwick"));
    setWindowTitle(QStringLiteral("Tarnwick"));
    CreateComponents();
    BuildControls();
    WireSignals();
    FormCreate(args);
}

TFormTarnwick::~TFormTarnwick()
{
    m_destroying = true;
    FormDestroy();
}

void TFormTarnwick::CreateComponents()
{
    m_mainThread = std::make_unique<QtMainThread>(
        [this](const std::string& message) { ShowError(QString::fromStdString(message)); });
    m_diagnostics = std::make_unique<TDiagnostics>(m_dialogs, this);
    ModbusConnection = std::make_unique<modbus::TModbusConnection>(*m_mainThread);
    // The form's values where they differ from the connection's own defaults.
    ModbusConnection->SetReceiveTimeout(2000);
    ModbusConnection->SetRefetchDelay(15);
    ModbusConnection->SetEchoQueryBeforeReply(true);
    ModbusConnection->SetDTREnabled(false);
    ModbusConnection->SetRTSEnabled(false);
    // A whole reply ends at once instead of after the silent interval: every loop cycle and
    // every request of a search is that much faster.
    ModbusConnection->SetEndFrameByLength(true);
    ModbusClient = std::make_unique<modbus::TModbusClient>();
    ModbusClient->SetConnection(ModbusConnection.get());
    ModbusTCP = std::make_unique<modbus::TModbusTcpClient>();
    ModbusTCP->SetAutoConnect(false);
    ModbusTCP->SetBaseRegister(0);
    ModbusTCP->SetTimeOut(5000);

    auto timer = [this](const char* name, int intervalMs) {
        auto* t = new QTimer(this);
        t->setObjectName(QString::fromLatin1(name));
        // A coarse timer may fire up to 5 % early; the intervals are the meter's rules.
        t->setTimerType(Qt::PreciseTimer);
        t->setInterval(intervalMs);
        return t;
    };
    Timer1 = timer("Timer1", 1000);
    Timer2 = timer("Timer2", 1000);
    Timer3 = timer("Timer3", 1250);
    Timer4 = timer("Timer4", 150000);
    TimerInputsInterval = timer("TimerInputsInterval", 1000);
}

void TFormTarnwick::BuildControls()
{
    // A plain panel row instead of QStatusBar, which would widen the window to fit its panels.
    auto* wrapper = new QWidget(this);
    auto* wrapperLayout = new QVBoxLayout(wrapper);
    wrapperLayout->setContentsMargins(0, 0, 0, 0);
    wrapperLayout->setSpacing(0);
    auto* sheet = new QWidget(wrapper);
    sheet->setObjectName(QStringLiteral("Sheet"));
    sheet->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    BuildCommunicationArea(sheet)->setGeometry(LeftArea);
    BuildRightArea(sheet)->setGeometry(RightArea);
    BuildServiceArea(sheet)->setGeometry(ServiceArea);
    BuildSubsetArea(sheet)->setGeometry(SubsetArea);
    StatusBar1 = Named(new TStatusPanels(wrapper), "StatusBar1");
    StatusBar1->SetText(0, QStringLiteral("Disconnected"));
    StatusBar1->SetText(1, QStringLiteral("CRT"));
    StatusBar1->SetText(2, QStringLiteral("Measuring"));
    wrapperLayout->addWidget(sheet, 1);
    wrapperLayout->addWidget(StatusBar1);
    setCentralWidget(wrapper);
    SetConnectedControls(false);
    NameControls();
    SetKeyboardOrder();
}

void TFormTarnwick::SetKeyboardOrder()
{
    // The main actions by key; the tooltip says which.
    const std::pair<QAbstractButton*, QKeySequence> keys[] = {
        {Bt_dis_connect, QKeySequence(Qt::CTRL | Qt::Key_K)},
        {Bt_read_adr, QKeySequence(Qt::Key_F5)},
        {CheBox_loop, QKeySequence(Qt::CTRL | Qt::Key_L)},
        {Bt_report_slave_id, QKeySequence(Qt::CTRL | Qt::Key_I)},
        {Bt_mb_settings, QKeySequence(Qt::CTRL | Qt::Key_M)},
        {Bt_veri_mb_para, QKeySequence(Qt::CTRL | Qt::Key_F)},
        {bt_adv_view, QKeySequence(Qt::CTRL | Qt::Key_Right)},
        {Bt_read_adr_exp_mode, QKeySequence(Qt::CTRL | Qt::Key_R)},
        {Bt_write_adr_exp_mode, QKeySequence(Qt::CTRL | Qt::Key_W)},
    };
    for (const auto& [button, key] : keys) {
        button->setShortcut(key);
        const QString tip = button->toolTip().isEmpty() ? button->text().simplified() : button->toolTip();
        button->setToolTip(tip + QStringLiteral(" (") + key.toString(QKeySequence::NativeText) + QStringLiteral(")"));
    }
    // Tab walks the window as it reads: communication, actions, values, then the right-hand part.
    const std::vector<QWidget*> order = {
        Opt_RTU, Opt_TCPIP, SpEd_slave_adr, IPAdresse, Port, Bt_mb_settings, Bt_veri_mb_para, Bt_dis_connect,
        cb_channel, cb_meas_val, cb_unit, Bt_read_adr, CheBox_loop, Bt_report_slave_id, ViewMenu, SubsetView,
        bt_adv_view, cb_channel2, cb_meas_val2, cb_mb_data, SpinEdit_customer_register, cb_datatypes, Edit1,
        Bt_read_adr_exp_mode, Bt_write_adr_exp_mode, Button_activate_crt, Button_deactivate_crt};
    for (std::size_t i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void TFormTarnwick::NameControls()
{
    // What a screen reader says for the controls whose caption does not say it.
    static const std::pair<const char*, const char*> names[] = {
        {"IPAdresse", "TCP/IP address"}, {"Port", "TCP port"}, {"SpEd_slave_adr", "Slave-Address"},
        {"cb_channel", "Channel"}, {"cb_meas_val", "Measuring Value"}, {"cb_unit", "Unit"},
        {"invalid_frame_count", "Invalid frame count"}, {"StringGrid1", "VORTAN Data"},
        {"cb_channel2", "Calculator channel"}, {"cb_meas_val2", "Calculator measuring value"},
        {"cb_mb_data", "Measuring Value Specifics"}, {"Label_result", "Register address"},
        {"Label_datatype", "Register data type"}, {"SpinEdit_customer_register", "Register"},
        {"cb_datatypes", "Datatype"}, {"Edit1", "Value"},
        {"ComboBox_byte_order_16bit_vars", "Byte order 16-Bit vars"},
        {"ComboBox_byte_word_order_long_ints", "Byte order long ints"},
        {"ComboBox_byte_word_order_floats", "Byte order floats"}, {"Edit_byte_word_order", "Register 17 byte/word order"},
        {"ComboBox_channel", "Calibration channel"}, {"Edit_calibr_factor_slope", "Calibration slope"},
        {"Edit_calibr_factor_offset", "Calibration offset"}, {"Button1", "Apply calibration, send 0x0001"},
        {"bt_adv_view", "Show or hide calculator, register read/write and CRT"},
        {"SubsetView", "Show or hide the parameter subset"}, {"StatusBar1", "Status"},
    };
    for (const auto& [name, text] : names)
        if (auto* w = findChild<QWidget*>(QString::fromLatin1(name)))
            w->setAccessibleName(QString::fromLatin1(text));
    // Buttons say their caption on one line.
    for (auto* b : findChildren<QAbstractButton*>())
        if (b->accessibleName().isEmpty())
            b->setAccessibleName(b->text().replace(QLatin1Char('\r'), QString()).replace(QLatin1Char('\n'), QLatin1Char(' ')));
}

QWidget* TFormTarnwick::BuildCommunicationArea(QWidget* parent)
{
    auto* area = new QWidget(parent);
    area->setObjectName(QStringLiteral("LeftArea"));
    auto* column = new QVBoxLayout(area);
    column->setContentsMargins(0, 0, 0, 0);

    // The maker's mark, a flat button so that it opens the about dialog by mouse, key and
    // screen reader alike.
    Image1 = Button("Image1", QString());
    Image1->setFlat(true);
    Image1->setCursor(Qt::PointingHandCursor);
    Image1->setAccessibleName(QStringLiteral("About Tarnwick"));
    Image1->setToolTip(QStringLiteral("About Tarnwick"));
    auto* logoRow = new QHBoxLayout(Image1);
    logoRow->setContentsMargins(4, 2, 4, 6);
    auto* logo = Label(QStringLiteral("<span style=\"font-size:17pt; font-weight:700; color:#1d4f91;\">VORTAN</span>"
                                      "&nbsp;&nbsp;<span style=\"color:#555;\">KALDOR ultrasonic flow meters"
                                      " &middot; Modbus service</span>"));
    logo->setTextFormat(Qt::RichText);
    logo->setAttribute(Qt::WA_TransparentForMouseEvents);
    logoRow->addWidget(logo);
    logoRow->addStretch(1);
    Image1->setMinimumHeight(logo->sizeHint().height() + 8);
    column->addWidget(Image1);

    // Communication.
    auto* comm = Named(new QGroupBox(QStringLiteral("Communication")), "GroupBox_communication");
    auto* commGrid = new QGridLayout(comm);
    Opt_RTU = Named(new QRadioButton(QStringLiteral("Modbus RTU")), "Opt_RTU");
    Opt_TCPIP = Named(new QRadioButton(QStringLiteral("Modbus TCP/IP")), "Opt_TCPIP");
    Opt_RTU->setAutoExclusive(false);  // the handlers keep exactly one checked
    Opt_TCPIP->setAutoExclusive(false);
    Opt_RTU->setChecked(true);
    Label146 = Label(QStringLiteral("TCP/IP Settings"), "Label146");
    Label147 = Label(QStringLiteral(":"), "Label147");
    IPAdresse = Named(new QLineEdit(QStringLiteral("192.168.3.98")), "IPAdresse");
    Port = Named(new QLineEdit(QStringLiteral("502")), "Port");
    IPAdresse->setMinimumWidth(120);
    Port->setMaximumWidth(60);
    for (QWidget* w : {static_cast<QWidget*>(Label146), static_cast<QWidget*>(Label147),
                       static_cast<QWidget*>(IPAdresse), static_cast<QWidget*>(Port)})
        w->setVisible(false);
    SpEd_slave_adr = Named(new TSlaveAddressBox, "SpEd_slave_adr");
    SpEd_slave_adr->setRange(0, 247);
    SpEd_slave_adr->setValue(0);
    Bt_dis_connect = Button("Bt_dis_connect", QStringLiteral("Connect"));
    Bt_dis_connect->setDefault(true);
    Bt_dis_connect->setMinimumHeight(30);
    Bt_mb_settings = Button("Bt_mb_settings", QStringLiteral("Modbus Settings"));
    Bt_veri_mb_para = Button("Bt_veri_mb_para", QStringLiteral("Search Modbus Parameters"));
    Bt_veri_mb_para->setToolTip(QStringLiteral(
        "If you forgot the Modbus parameters\nof your Modbus-Device, use this function"));

    auto* tcpRow = new QHBoxLayout;
    tcpRow->addWidget(Label146);
    tcpRow->addWidget(IPAdresse, 1);
    tcpRow->addWidget(Label147);
    tcpRow->addWidget(Port);
    auto* slaveRow = new QHBoxLayout;
    slaveRow->addWidget(Label(QStringLiteral("Slave-Address")));
    slaveRow->addWidget(SpEd_slave_adr);
    slaveRow->addStretch(1);
    commGrid->addWidget(Opt_RTU, 0, 0);
    commGrid->addWidget(Opt_TCPIP, 0, 1);
    commGrid->addLayout(slaveRow, 0, 2);
    commGrid->addLayout(tcpRow, 1, 0, 1, 3);
    commGrid->addWidget(Bt_mb_settings, 2, 0);
    commGrid->addWidget(Bt_veri_mb_para, 2, 1);
    commGrid->addWidget(Bt_dis_connect, 2, 2);
    column->addWidget(comm);

    // Modbus actions.
    auto* actions = Named(new QGroupBox(QStringLiteral("Modbus Actions")), "GroupBox_actions");
    auto* actionsGrid = new QGridLayout(actions);
    cb_channel = Combo("cb_channel", Items(units::ChannelNames));
    cb_meas_val = Combo("cb_meas_val", {});
    cb_meas_val->setMaxVisibleItems(20);
    cb_meas_val->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cb_meas_val->setMinimumContentsLength(22);
    cb_unit = Combo("cb_unit", {});
    cb_unit->setEnabled(false);
    cb_unit->setMinimumContentsLength(7);
    Bt_read_adr = Button("Bt_read_adr", QStringLiteral("Read Register"));
    CheBox_loop = Named(new QCheckBox(QStringLiteral("Loop")), "CheBox_loop");
    Bt_report_slave_id = Button("Bt_report_slave_id", QStringLiteral("Report Slave ID"));
    invalid_frame_count = Named(new QLineEdit(QStringLiteral("Invaild Frame Count")), "invalid_frame_count");
    invalid_frame_count->setReadOnly(true);
    invalid_frame_count->setVisible(false);
    actionsGrid->addWidget(Label(QStringLiteral("Channel")), 0, 0);
    actionsGrid->addWidget(Label(QStringLiteral("Measuring Value")), 0, 1);
    actionsGrid->addWidget(Label(QStringLiteral("Unit")), 0, 2);
    actionsGrid->addWidget(cb_channel, 1, 0);
    actionsGrid->addWidget(cb_meas_val, 1, 1);
    actionsGrid->addWidget(cb_unit, 1, 2);
    auto* buttonsRow = new QHBoxLayout;
    buttonsRow->addWidget(Bt_read_adr);
    buttonsRow->addWidget(CheBox_loop);
    buttonsRow->addStretch(1);
    buttonsRow->addWidget(invalid_frame_count);
    buttonsRow->addWidget(Bt_report_slave_id);
    actionsGrid->addLayout(buttonsRow, 2, 0, 1, 3);
    actionsGrid->setColumnStretch(1, 1);
    column->addWidget(actions);

    // Measured values.
    auto* data = Named(new QGroupBox(QStringLiteral("VORTAN Data")), "GroupBox_data");
    auto* dataLayout = new QVBoxLayout(data);
    StringGrid1 = Named(new QTableWidget(4, 2), "StringGrid1");
    StringGrid1->horizontalHeader()->setVisible(false);
    StringGrid1->verticalHeader()->setVisible(false);
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->setSelectionMode(QAbstractItemView::NoSelection);
    StringGrid1->setFocusPolicy(Qt::NoFocus);
    StringGrid1->setCornerButtonEnabled(false);
    StringGrid1->setColumnWidth(0, 110);
    StringGrid1->horizontalHeader()->setStretchLastSection(true);
    StringGrid1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 2; ++col)
            StringGrid1->setItem(row, col, new QTableWidgetItem);
    QFont valueFont = StringGrid1->font();
    valueFont.setBold(true);
    valueFont.setPointSizeF(valueFont.pointSizeF() * 1.25);
    for (int row = 0; row < 4; ++row)
        StringGrid1->item(row, 1)->setFont(valueFont);
    StringGrid1->verticalHeader()->setDefaultSectionSize(StringGrid1->verticalHeader()->defaultSectionSize() + 6);
    const int rowHeight = StringGrid1->verticalHeader()->defaultSectionSize();
    StringGrid1->setFixedHeight(4 * rowHeight + 2 * StringGrid1->frameWidth());
    dataLayout->addWidget(StringGrid1);
    column->addWidget(data);

    auto* bottomRow = new QHBoxLayout;
    SubsetView = Button("SubsetView", QStringLiteral(">>"));
    SubsetView->setVisible(false);
    bt_adv_view = Button("bt_adv_view", QStringLiteral(">>"));
    bt_adv_view->setToolTip(QStringLiteral("Register calculator, register read/write and CRT"));
    // The diagnostic views, off the main path.
    ViewMenu = Button("ViewMenu", QStringLiteral("View"));
    auto* menu = new QMenu(ViewMenu);
    menu->setObjectName(QStringLiteral("ViewMenuItems"));
    menu->addAction(QStringLiteral("Traffic Monitor"), this, [this] { m_diagnostics->ShowTrafficMonitor(); });
    menu->addAction(QStringLiteral("Line Statistics"), this, [this] { m_diagnostics->ShowLineStatistics(); });
    menu->addAction(QStringLiteral("Trend and Log"), this, [this] { m_diagnostics->ShowTrend(); });
    ViewMenu->setMenu(menu);
    bottomRow->addWidget(ViewMenu);
    bottomRow->addStretch(1);
    bottomRow->addWidget(SubsetView);
    bottomRow->addWidget(bt_adv_view);
    column->addLayout(bottomRow);
    column->addStretch(1);
    return area;
}

void TFormTarnwick::WireSignals()
{
    connect(Bt_dis_connect, &QPushButton::clicked, this, &TFormTarnwick::Bt_dis_connectClick);
    connect(Bt_read_adr, &QPushButton::clicked, this, &TFormTarnwick::Bt_read_adrClick);
    connect(Bt_report_slave_id, &QPushButton::clicked, this, &TFormTarnwick::Bt_report_slave_idClick);
    connect(Bt_mb_settings, &QPushButton::clicked, this, &TFormTarnwick::Bt_mb_settingsClick);
    connect(Bt_veri_mb_para, &QPushButton::clicked, this, &TFormTarnwick::Bt_veri_mb_paraClick);
    // The state change, not the click: a key or a screen reader's toggle changes it too.
    connect(CheBox_loop, &QCheckBox::toggled, this, &TFormTarnwick::CheBox_loopClick);
    // On the state change, so that keys and screen readers choose the transport as a click
    // does. Exactly one stays checked: unchecking the chosen one takes it back.
    const auto transport = [this](QRadioButton* self, QRadioButton* other, void (TFormTarnwick::*choose)()) {
        connect(self, &QRadioButton::toggled, this, [this, self, other, choose](bool on) {
            if (on)
                (this->*choose)();
            else if (!other->isChecked())
                self->setChecked(true);
        });
    };
    transport(Opt_RTU, Opt_TCPIP, &TFormTarnwick::Opt_RTUClick);
    transport(Opt_TCPIP, Opt_RTU, &TFormTarnwick::Opt_TCPIPClick);
    connect(SpEd_slave_adr, &QSpinBox::editingFinished, this, &TFormTarnwick::SpEd_slave_adrExit);
    connect(bt_adv_view, &QPushButton::clicked, this, &TFormTarnwick::bt_adv_viewClick);
    connect(Image1, &QPushButton::clicked, this, &TFormTarnwick::Image1Click);
    WireServiceSignals();
    // User choices only: a box set by the program does not write to the meter.
    connect(cb_meas_val, &QComboBox::activated, this, &TFormTarnwick::change_cb_unit);
    connect(cb_unit, &QComboBox::activated, this, &TFormTarnwick::cb_unitChange);
    connect(SubsetView, &QPushButton::clicked, this, &TFormTarnwick::SubsetViewClick);
    connect(cb_channel2, &QComboBox::currentIndexChanged, this, &TFormTarnwick::cb_channel2Change);
    connect(cb_meas_val2, &QComboBox::currentIndexChanged, this, &TFormTarnwick::cb_meas_val2Change);
    connect(cb_mb_data, &QComboBox::currentIndexChanged, this, &TFormTarnwick::cb_mb_dataChange);
    connect(cb_channel2, &QComboBox::editTextChanged, this, &TFormTarnwick::cb_channel2Change);
    connect(cb_meas_val2, &QComboBox::editTextChanged, this, &TFormTarnwick::cb_meas_val2Change);
    connect(cb_mb_data, &QComboBox::editTextChanged, this, &TFormTarnwick::cb_mb_dataChange);

    connect(Timer1, &QTimer::timeout, this, &TFormTarnwick::Timer1Timer);
    connect(Timer2, &QTimer::timeout, this, &TFormTarnwick::Timer2Timer);
    connect(Timer3, &QTimer::timeout, this, &TFormTarnwick::Timer3Timer);
    connect(Timer4, &QTimer::timeout, this, &TFormTarnwick::Timer4Timer);

    ModbusClient->OnHoldingRegistersRead = [this](modbus::TModbusClient&, const modbus::TTransactionInfo& info,
                                                  uint16_t start, uint16_t count, const modbus::TRegValues& v) {
        ModbusClientHoldingRegistersRead(info, start, count, v);
    };
    ModbusClient->OnSingleRegisterWrite = [this](modbus::TModbusClient&, const modbus::TTransactionInfo& info,
                                                 uint16_t, uint16_t) { ModbusClientSingleRegisterWrite(info); };
    ModbusClient->OnMultipleRegistersWrite = [this](modbus::TModbusClient&, const modbus::TTransactionInfo& info,
                                                    uint16_t, uint16_t, const modbus::TRegValues&) {
        ModbusClientMultipleRegistersWrite(info);
    };
    ModbusClient->OnServerIdentificationReport = [this](modbus::TModbusClient&, const modbus::TTransactionInfo& info,
                                                        int count, const modbus::TServerIdentificationData& data) {
        ModbusClientServerIdentificationReport(info, count, data);
    };
    ModbusClient->OnDiagnostics = [this](modbus::TModbusClient&, const modbus::TTransactionInfo& info,
                                         modbus::TDiagnosticAction, uint16_t) { ModbusClientDiagnostics(info); };
    ModbusConnection->SetOnFrameSend(
        [this](modbus::TModbusConnection&, const modbus::TFrameData& f) { ModbusConnectionFrameSend(f); });
    ModbusConnection->SetOnFrameReceive(
        [this](modbus::TModbusConnection&, const modbus::TFrameData& f) { ModbusConnectionFrameReceive(f); });
    ModbusConnection->OnLineLost = [this](modbus::TModbusConnection&) { ModbusConnectionLineLost(); };
    ModbusTCP->OnConnected = [this] { ModbusTCPConnected(); };
    ModbusTCP->OnFrame = [this](std::span<const std::uint8_t> adu, bool sent) {
        m_diagnostics->Frame(app::FrameKind::Tcp, sent ? app::Direction::Sent : app::Direction::Received, adu);
    };
}

void TFormTarnwick::SetTimerIntervals(int timer1Ms, int timer2Ms, int timer4Ms)
{
    Timer1->setInterval(timer1Ms);
    Timer2->setInterval(timer2Ms);
    Timer4->setInterval(timer4Ms);
}

void TFormTarnwick::SetTimer3Interval(int ms) { Timer3->setInterval(ms); }

QString TFormTarnwick::PanelText(int panel) const { return StatusBar1->Text(panel); }
int TFormTarnwick::PanelWidth(int panel) const { return StatusBar1->Width(panel); }

void TFormTarnwick::ShowError(const QString& text) { m_dialogs.ShowException(this, text); }

}  // namespace tarnwick
