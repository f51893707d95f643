#include "MBParaVeri.h"

#include "MBParameter.h"
#include "SearchReport.h"

#include "ModbusError.h"
#include "SerialPortBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStyle>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace search {

using namespace modbus;

struct TFormVeriMBPara::PortLine {
    explicit PortLine(IMainThread& mainThread) : connection(mainThread) { client.SetConnection(&connection); }
    TModbusConnection connection;
    TModbusClient client;
};

namespace {

template <typename W>
W* Named(W* w, const char* name, const QString& accessible = {})
{
    w->setObjectName(QString::fromLatin1(name));
    if (!accessible.isEmpty())
        w->setAccessibleName(accessible);
    return w;
}

QTableWidget* DeviceGrid(const char* name, const QString& accessible)
{
    auto* grid = Named(new QTableWidget(1, 4), name, accessible);
    grid->setHorizontalHeaderLabels({QStringLiteral("ComPort"), QStringLiteral("Addr"),
                                     QStringLiteral("BaudRate"), QStringLiteral("Parity")});
    grid->verticalHeader()->hide();
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    return grid;
}

QLabel* Label(const QString& text, QWidget* buddy = nullptr)
{
    auto* l = new QLabel(text);
    if (buddy)
        l->setBuddy(buddy);
    return l;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The report through the printer: a monospaced font, one printed line per report line, a new
// page when the next line would not fit.
bool PrintLines(QPrinter& printer, const std::vector<PrintedLine>& lines)
{
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    QFont plain(QStringLiteral("Courier New"));
    plain.setStyleHint(QFont::TypeWriter);
    QFont bold = plain;
    bold.setBold(true);
    painter.setFont(plain);
    const int lineHeight = painter.fontMetrics().lineSpacing();
    const int pageHeight = painter.viewport().height();
    int y = lineHeight;
    for (const PrintedLine& l : lines) {
        if (y > pageHeight) {
            if (!printer.newPage())
                return false;
            y = lineHeight;
        }
        painter.setFont(l.bold ? bold : plain);
        painter.drawText(0, y, QString::fromStdString(l.text));
        y += lineHeight;
    }
    return painter.end();
}

}  // namespace

TFormVeriMBPara::TFormVeriMBPara(IMainThread& mainThread, tarnwick::IDialogService& dialogs, QWidget* parent)
    : QDialog(parent), mainThread_(mainThread), dialogs_(dialogs)
{
    setObjectName(QStringLiteral("FormVeriMBPara"));
    setWindowTitle(QStringLiteral("Verify Modbus Parameters"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

    ModbusConnection_verify_mb_para = std::make_unique<TModbusConnection>(mainThread_);
    ModbusClient_verify_mb_para = std::make_unique<TModbusClient>();
    ModbusClient_verify_mb_para->SetConnection(ModbusConnection_verify_mb_para.get());

    ComboBox_com_port = Named(new QComboBox, "ComboBox_com_port", QStringLiteral("ComPort"));
    SpinEdit_adr = Named(new QSpinBox, "SpinEdit_adr", QStringLiteral("SlaveAddr"));
    SpinEdit_adr->setRange(0, 247);
    ComboBox_baud = Named(new QComboBox, "ComboBox_baud", QStringLiteral("Baud"));
    ComboBox_parity = Named(new QComboBox, "ComboBox_parity", QStringLiteral("Parity"));
    CheckBox_EchoQueryBeforeReply = Named(new QCheckBox, "CheckBox_EchoQueryBeforeReply", QStringLiteral("Echo Query Before Reply"));
    CheckBox_quick_search = Named(new QCheckBox(QStringLiteral("Quick search")), "CheckBox_quick_search");
    CheckBox_quick_search->setToolTip(QStringLiteral("Time-outs from the line speed; all ports at the same time"));
    Bt_start_ver_ser_para = Named(new QPushButton(QStringLiteral("Search")), "Bt_start_ver_ser_para");
    ProgressBar = Named(new QProgressBar, "ProgressBar", QStringLiteral("Search progress"));
    ProgressBar->setRange(0, 100);
    Label_time_left = Named(new QLabel, "Label_time_left");
    StringGrid_flx_dev = DeviceGrid("StringGrid_flx_dev", QStringLiteral("VORTAN Devices"));
    StringGrid_oth_dev = DeviceGrid("StringGrid_oth_dev", QStringLiteral("Other Devices"));
    StringGrid_oth_dev->setEnabled(false);
    Bt_apply_para = Named(new QPushButton(QStringLiteral("Apply Parameters")), "Bt_apply_para");
    BitBtn_save = Named(new QToolButton, "BitBtn_save", QStringLiteral("Save"));
    BitBtn_save->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    BitBtn_save->setToolTip(QStringLiteral("Save"));
    BitBtn_print = Named(new QToolButton, "BitBtn_print", QStringLiteral("Print"));
    BitBtn_print->setIcon(QIcon::fromTheme(QStringLiteral("document-print"),
                                           style()->standardIcon(QStyle::SP_FileDialogDetailedView)));
    BitBtn_print->setToolTip(QStringLiteral("Print"));
    Label_save_print_para = Named(new QLabel(QStringLiteral("Save / Print Parameters")), "Label_save_print_para");
    Bt_cancel = Named(new QPushButton(QStringLiteral("Cancel")), "Bt_cancel");

    auto* choices = new QGridLayout;
    choices->addWidget(Label(QStringLiteral("ComPort:"), ComboBox_com_port), 0, 0);
    choices->addWidget(ComboBox_com_port, 0, 1);
    choices->addWidget(Label(QStringLiteral("SlaveAddr:"), SpinEdit_adr), 0, 2);
    choices->addWidget(SpinEdit_adr, 0, 3);
    choices->addWidget(Label(QStringLiteral("1 - 247")), 0, 4);
    choices->addWidget(Label(QStringLiteral("Baud:"), ComboBox_baud), 1, 0);
    choices->addWidget(ComboBox_baud, 1, 1);
    choices->addWidget(Label(QStringLiteral("Parity:"), ComboBox_parity), 1, 2);
    choices->addWidget(ComboBox_parity, 1, 3);
    choices->addWidget(CheckBox_EchoQueryBeforeReply, 0, 5, 2, 1);
    choices->addWidget(Bt_start_ver_ser_para, 0, 6, 2, 1);

    auto* hint = new QLabel(QStringLiteral(
        "Hints:  Enter 0 resp. choose  '-'  to  try all possible parameter\n"
        "           combinations  else you have the possibility to narrow \n"
        "           the search by choosing an explict parameter."));
    auto* duration = new QLabel(QStringLiteral("The parameter verification can take up to 25 minutes."));

    auto* quickRow = new QHBoxLayout;
    quickRow->addWidget(CheckBox_quick_search);
    quickRow->addWidget(Label_time_left, 1);

    auto* reportRow = new QHBoxLayout;
    reportRow->addWidget(Bt_apply_para);
    reportRow->addStretch(1);
    reportRow->addWidget(Label_save_print_para);
    reportRow->addWidget(BitBtn_save);
    reportRow->addWidget(BitBtn_print);
    reportRow->addWidget(Bt_cancel);

    auto* column = new QVBoxLayout(this);
    column->addLayout(choices);
    column->addWidget(hint);
    column->addWidget(duration);
    column->addLayout(quickRow);
    column->addWidget(ProgressBar);
    column->addWidget(Named(new QLabel(QStringLiteral("VORTAN Devices")), "Panel1"));
    column->addWidget(StringGrid_flx_dev, 1);
    column->addWidget(Named(new QLabel(QStringLiteral("Other Devices")), "Panel2"));
    column->addWidget(StringGrid_oth_dev, 1);
    column->addLayout(reportRow);
    resize(560, 560);

    connect(Bt_start_ver_ser_para, &QPushButton::clicked, this, &TFormVeriMBPara::Bt_start_ver_ser_paraClick);
    connect(Bt_apply_para, &QPushButton::clicked, this, &TFormVeriMBPara::Bt_apply_paraClick);
    connect(BitBtn_save, &QToolButton::clicked, this, &TFormVeriMBPara::BitBtn_saveClick);
    connect(BitBtn_print, &QToolButton::clicked, this, &TFormVeriMBPara::BitBtn_printClick);
    connect(CheckBox_EchoQueryBeforeReply, &QCheckBox::clicked, this,
            &TFormVeriMBPara::CheckBox_EchoQueryBeforeReplyClick);
    connect(Bt_cancel, &QPushButton::clicked, this, &QDialog::reject);

    FormCreate();
}

TFormVeriMBPara::~TFormVeriMBPara()
{
    StopAll();
    walks_.clear();
}

void TFormVeriMBPara::FormCreate()
{
    if (const QScreen* s = screen()) {
        const QRect area = s->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + area.height() / 4 - 90);
    }
    for (auto t : BaudTexts)
        ComboBox_baud->addItem(QString::fromLatin1(t.data(), static_cast<int>(t.size())));
    for (auto t : ParityTexts)
        ComboBox_parity->addItem(QString::fromLatin1(t.data(), static_cast<int>(t.size())));
    ComboBox_com_port->addItem(QStringLiteral("-"));
    AddSerialPorts(ComboBox_com_port, ListSerialPorts());
    CheckBox_EchoQueryBeforeReply->setText(QStringLiteral("Echo Query\nBefore Reply"));
    form_components_reset();
    stringgrid_reset(1);
    stringgrid_reset(2);
    Bt_apply_para->setVisible(false);
    ShowReportButtons(false);
    Label_time_left->setVisible(false);
}

void TFormVeriMBPara::stringgrid_reset(int grid)
{
    QTableWidget* g = grid == 1 ? StringGrid_flx_dev : StringGrid_oth_dev;
    g->clearContents();
    g->setRowCount(1);
    g->clearSelection();
    g->setCurrentCell(-1, -1);
    (grid == 1 ? rows_flx : rows_oth) = 0;
}

void TFormVeriMBPara::form_components_reset()
{
    SpinEdit_adr->setValue(0);
    ComboBox_com_port->setCurrentIndex(0);
    ComboBox_baud->setCurrentIndex(0);
    ComboBox_parity->setCurrentIndex(0);
    Bt_start_ver_ser_para->setText(QStringLiteral("Search"));
    ProgressBar->setValue(0);
    ProgressBar->setVisible(false);
    Label_time_left->setVisible(false);
    Bt_cancel->setVisible(true);
}

void TFormVeriMBPara::form_components_disable()
{
    for (QWidget* w : std::initializer_list<QWidget*>{ComboBox_com_port, SpinEdit_adr, ComboBox_baud,
                                                      ComboBox_parity, CheckBox_quick_search})
        w->setEnabled(false);
    Bt_apply_para->setVisible(false);
    ShowReportButtons(false);
    Bt_cancel->setVisible(false);
    Bt_start_ver_ser_para->setText(QStringLiteral("Stop"));
    ProgressBar->setVisible(true);
}

void TFormVeriMBPara::form_components_enable()
{
    for (QWidget* w : std::initializer_list<QWidget*>{ComboBox_com_port, SpinEdit_adr, ComboBox_baud,
                                                      ComboBox_parity, CheckBox_quick_search})
        w->setEnabled(true);
}

void TFormVeriMBPara::ShowReportButtons(bool on)
{
    BitBtn_save->setVisible(on);
    BitBtn_print->setVisible(on);
    Label_save_print_para->setVisible(on);
}

void TFormVeriMBPara::StopAll()
{
    for (auto& w : walks_)
        w->Stop();
    try {
        ModbusConnection_verify_mb_para->Close();
    } catch (const EModbusError&) {
    }
}

void TFormVeriMBPara::Bt_start_ver_ser_paraClick()
{
    if (searching) {
        AbandonSearch();
        return;
    }

    stringgrid_reset(1);
    stringgrid_reset(2);
    VortanDevices.clear();
    OtherDevices.clear();
    form_components_disable();
    ModbusConnection_verify_mb_para->SetReceiveTimeout(SearchReceiveTimeoutMs);
    vortan_found = false;
    stop_requested = false;
    searching = true;

    walk_through_serial_parameters();

    if (vortan_found) {
        StopAll();
        Bt_apply_para->setVisible(true);
        ShowReportButtons(true);
    }
    form_components_enable();
    form_components_reset();
    searching = false;
    if (!stop_requested) {
        const QString text = vortan_found
            ? QStringLiteral("Search completed - %1 Modbus device(s) found !")
                  .arg(VortanDevices.size() + OtherDevices.size())
            : QStringLiteral("Search completed - No VORTAN found !");
        dialogs_.MessageBox(this, QString(), text, tarnwick::IDialogService::Icon::Warning,
                            tarnwick::IDialogService::Ok);
    }
}

void TFormVeriMBPara::walk_through_serial_parameters()
{
    TSearchChoice choice;
    if (ComboBox_com_port->currentIndex() > 0) {
        choice.ports.push_back(SerialPortSetting(ComboBox_com_port));
    } else {
        for (int i = 1; i < ComboBox_com_port->count(); ++i)
            choice.ports.push_back(SerialPortSettingAt(ComboBox_com_port, i));
    }
    choice.address = SpinEdit_adr->value();
    choice.baudText = ComboBox_baud->currentText().toStdString();
    choice.parityText = ComboBox_parity->currentText().toStdString();
    const bool quick = CheckBox_quick_search->isChecked();

    walks_.clear();
    quickLines_.clear();
    tried_ = 0;
    if (quick) {
        for (auto& list : CombinationsPerPort(choice)) {
            auto line = std::make_unique<PortLine>(mainThread_);
            line->connection.SetEchoQueryBeforeReply(CheckBox_EchoQueryBeforeReply->isChecked());
            walks_.push_back(std::make_unique<TSerialSearch>(line->connection, line->client, std::move(list),
                                                             TSerialSearch::Options{true}));
            quickLines_.push_back(std::move(line));
        }
        Label_time_left->setVisible(true);
    } else {
        ModbusConnection_verify_mb_para->SetEchoQueryBeforeReply(CheckBox_EchoQueryBeforeReply->isChecked());
        walks_.push_back(std::make_unique<TSerialSearch>(*ModbusConnection_verify_mb_para,
                                                         *ModbusClient_verify_mb_para, Combinations(choice),
                                                         TSerialSearch::Options{false}));
    }
    total_ = 0;
    for (auto& w : walks_) {
        total_ += w->Total();
        w->OnCombination = [this](const TCombination& c) { ShowCombination(c); };
        w->OnFound = [this](const TCombination& c, bool isVortan) { Found(c, isVortan); };
        w->OnOpenFailed = [this](const TCombination&, const std::string&) { OpenFailed(); };
        w->OnFinished = [this] { WalkFinished(); };
    }

    QEventLoop loop;
    walkLoop_ = &loop;
    for (auto& w : walks_)
        w->Start();
    const bool running = std::any_of(walks_.begin(), walks_.end(), [](auto& w) { return !w->Finished(); });
    if (running)
        loop.exec();
    walkLoop_ = nullptr;
    walks_.clear();
    quickLines_.clear();
}

void TFormVeriMBPara::WalkFinished()
{
    if (walkLoop_ && std::all_of(walks_.begin(), walks_.end(), [](auto& w) { return w->Finished(); }))
        walkLoop_->quit();
}

void TFormVeriMBPara::ShowCombination(const TCombination& c)
{
    // The boxes show what is being tried; in a quick search that is the latest of the ports.
    ComboBox_com_port->setCurrentIndex(std::max(0, FindSerialPortItem(ComboBox_com_port, c.port)));
    SpinEdit_adr->setValue(c.address);
    ComboBox_baud->setCurrentIndex(ComboBox_baud->findText(Q(c.baudText)));
    ++tried_;
    ProgressBar->setValue(ProgressPosition(tried_, total_));
    ComboBox_parity->setCurrentIndex(ComboBox_parity->findText(Q(c.parityText)));
    if (CheckBox_quick_search->isChecked())
        ShowTimeLeft();
}

void TFormVeriMBPara::ShowTimeLeft()
{
    uint64_t ms = 0;
    for (auto& w : walks_)
        ms = std::max(ms, w->RemainingMs());
    Label_time_left->setText(QStringLiteral("Time left: at most %1 s").arg((ms + 999) / 1000));
}

void TFormVeriMBPara::Found(const TCombination& c, bool isVortan)
{
    if (isVortan) {
        vortan_found = true;
        VortanDevices.push_back({c.port, c.address, c.baud, c.baudText, c.parity, c.parityText});
        FillStringGrid_and_add_Row(1, Q(c.port), Q(c.parityText), Q(c.baudText), QString::number(c.address));
    } else {
        OtherDevices.push_back({c.port, c.address, c.baudText, c.parityText});
        FillStringGrid_and_add_Row(2, Q(c.port), Q(c.parityText), Q(c.baudText), QString::number(c.address));
    }
}

void TFormVeriMBPara::AbandonSearch()
{
    stop_requested = true;
    searching = false;
    form_components_reset();
    StopAll();
    Bt_apply_para->setVisible(false);
    ShowReportButtons(false);
}

void TFormVeriMBPara::OpenFailed()
{
    // Other ports of a quick search stop with it, as the one-port search would.
    dialogs_.MessageBox(this, QStringLiteral("ERROR"), QStringLiteral("Search was aborted! - Maybe one ComPort is opened?"),
                        tarnwick::IDialogService::Icon::Error, tarnwick::IDialogService::Ok);
    AbandonSearch();
    WalkFinished();
}

void TFormVeriMBPara::FillStringGrid_and_add_Row(int grid, const QString& port, const QString& parityText,
                                                 const QString& baudText, const QString& addressText)
{
    QTableWidget* g = grid == 1 ? StringGrid_flx_dev : StringGrid_oth_dev;
    int& rows = grid == 1 ? rows_flx : rows_oth;
    if (rows > 0)
        g->setRowCount(g->rowCount() + 1);
    const int row = rows++;
    const QString cells[] = {port, addressText, baudText, parityText};
    for (int col = 0; col < 4; ++col)
        g->setItem(row, col, new QTableWidgetItem(cells[col]));
    g->clearSelection();
    g->setCurrentCell(-1, -1);
}

void TFormVeriMBPara::Bt_apply_paraClick()
{
    const QModelIndexList rows = StringGrid_flx_dev->selectionModel()->selectedRows();
    const int row = rows.isEmpty() ? -1 : rows.first().row();
    if (row < 0 || row >= static_cast<int>(VortanDevices.size())) {
        dialogs_.MessageBox(this, QStringLiteral("ERROR"), QStringLiteral("No VORTAN Device selected !"),
                            tarnwick::IDialogService::Icon::Error, tarnwick::IDialogService::Ok);
        return;
    }
    if (OnApply)
        OnApply(VortanDevices[static_cast<size_t>(row)]);
    accept();
}

void TFormVeriMBPara::CheckBox_EchoQueryBeforeReplyClick()
{
    ModbusConnection_verify_mb_para->SetEchoQueryBeforeReply(CheckBox_EchoQueryBeforeReply->isChecked());
    for (auto& line : quickLines_)
        line->connection.SetEchoQueryBeforeReply(CheckBox_EchoQueryBeforeReply->isChecked());
}

void TFormVeriMBPara::BitBtn_saveClick()
{
    const QString chosen = dialogs_.SaveFileName(this, QStringLiteral("Save"), QString(), QStringLiteral("*.txt"));
    if (chosen.isEmpty())
        return;
    const std::string path = ReportFileName(chosen.toStdString());
    const std::string error = WriteReportFile(path, SavedReportLines(VortanDevices, OtherDevices));
    if (!error.empty())
        dialogs_.ShowException(this, QStringLiteral("%1: %2").arg(Q(path), Q(error)));
}

void TFormVeriMBPara::BitBtn_printClick()
{
    QPrinter printer;
    if (!dialogs_.Print(this, printer))
        return;
    if (!PrintLines(printer, PrintedReportLines(VortanDevices, OtherDevices)))
        dialogs_.ShowException(this, QStringLiteral("The report could not be printed."));
}

void TFormVeriMBPara::reject()
{
    // The walk runs inside the search button's handler; the window closes once it has ended.
    if (searching)
        return;
    QDialog::reject();
}

}  // namespace search
