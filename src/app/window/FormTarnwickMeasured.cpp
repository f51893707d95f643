// Measured values, heartbeat and the device identification.

#include "FormTarnwick.h"

#include "Diagnostics.h"
#include "SubsetPanel.h"

#include "StatusPanels.h"

#include "DeviceIdentification.h"
#include "MeasuredValue.h"
#include "RegisterFormulas.h"

#include <QComboBox>

#include <bit>
#include <QGroupBox>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>

namespace tarnwick {

namespace {

QString FromLatin1(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

constexpr int SubsetPanelWidth = 330;
constexpr int MessagePanelWidth = 660;

}  // namespace

void TFormTarnwick::send_mb_request()
{
    const std::optional<std::uint16_t> address =
        units::measuredValueBlockAddress(cb_channel->currentIndex(), cb_meas_val->currentIndex());
    if (address)
        ReadRegisters(RequestKind::MeasuredValue, *address, units::MeasuredValueBlockSize);
}

void TFormTarnwick::send_heartbeat_request()
{
    ReadRegisters(RequestKind::Heartbeat, units::HeartbeatRegister, 1);
}

void TFormTarnwick::Bt_read_adrClick() { MeasuredValueCycle(true); }

void TFormTarnwick::MeasuredValueCycle(bool fromReadButton)
{
    // A loop tick that comes while another operation still waits for its replies would nest
    // inside it; it is skipped instead.
    const OperationGuard operation(*this);
    if (!operation)
        return;
    send_mb_request();
    if (connected) {
        ApplyUnitReadBack(fromReadButton);
        WaitMs(10);
    }
    if (connected)
        send_heartbeat_request();
    if (connected && !fromReadButton)
        RecordLoopSample();
}

void TFormTarnwick::ShowMeasuredValueBlock(const modbus::TRegValues& values)
{
    const std::optional<app::MeasuredValueBlock> block = app::decodeMeasuredValueBlock(values);
    if (!block)
        return;
    meas_record = block->registers;
    const app::MeasuredValueCells cells =
        app::measuredValueCells(*block, QLocale().decimalPoint().toStdString());
    SetCell(0, QString::fromStdString(cells.status));
    if (cells.clearValueAndHeartbeat) {
        SetCell(1, QString());
        SetCell(2, QString());
    } else {
        SetCell(1, QString::fromStdString(cells.value));
    }
}

void TFormTarnwick::RecordLoopSample()
{
    LoopSample s;
    s.channel = cb_channel->currentText();
    s.quantity = cb_meas_val->currentText();
    s.status = StringGrid1->item(0, 1)->text();
    s.valueText = StringGrid1->item(1, 1)->text();
    s.unit = cb_unit->currentText();
    s.heartbeat = StringGrid1->item(2, 1)->text();
    if (!s.valueText.isEmpty()) {
        const auto& r = meas_record;
        s.value = std::bit_cast<float>(static_cast<std::uint32_t>(r[4] | r[5] << 16));
    }
    m_diagnostics->Sample(s);
}

void TFormTarnwick::ShowHeartbeat(const modbus::TRegValues& values)
{
    if (!values.empty())
        SetCell(2, QString::fromStdString(app::heartbeatText(values[0])));
}

void TFormTarnwick::SetCell(int row, const QString& text) { StringGrid1->item(row, 1)->setText(text); }

void TFormTarnwick::ClearValueColumn()
{
    for (int row = 0; row < StringGrid1->rowCount(); ++row)
        SetCell(row, QString());
}

void TFormTarnwick::Bt_report_slave_idClick() { ReadIdentification(); }

void TFormTarnwick::ReadIdentification()
{
    Transfer(RequestKind::Identification, modbus::Request{modbus::Op::Identify});
}

void TFormTarnwick::ModbusClientServerIdentificationReport(const modbus::TTransactionInfo& info, int count,
                                                           const modbus::TServerIdentificationData& data)
{
    // Only identification requests get this event, so even an answer that comes after the
    // watchdog is what the user asked for; it just no longer ends the outstanding request.
    const bool awaited = IsAwaited(info.ID);
    // The subset's own read of the identification (a configuration file's header) is no report.
    const bool quiet = awaited && IsPending(RequestKind::Subset);
    if (awaited)
        Conclude(info, {}, data);
    if (quiet) {
        if (Opt_TCPIP->isChecked())
            Timer4->start();
        EndRequest();
        return;
    }
    if (Opt_TCPIP->isChecked())
        Timer4->start();
    const std::size_t byteCount = count < 0 ? 0 : static_cast<std::size_t>(count);
    const std::string text = app::identificationReport(info.Reply, data, byteCount);
    if (info.Reply == modbus::trSuccess && subset_mode) {
        const app::DeviceIdentification id = app::decodeIdentification(data, byteCount);
        if (id.isVortan())
            AdaptToSubsetMeter(id.hasArmMarker());
    }
    if (awaited)
        EndRequest();
    // A meter with an empty identification text still answered: the box says so.
    if (!text.empty() || info.Reply == modbus::trSuccess)
        m_dialogs.MessageBox(this, QStringLiteral("Device Identification Report"), FromLatin1(text),
                             IDialogService::Icon::None, IDialogService::Ok);
}

void TFormTarnwick::AdaptToSubsetMeter(bool armMarker)
{
    // Panel widths are set, not shifted, so that a second report does not shrink panel 3 again.
    if (armMarker) {
        SubsetView->setVisible(false);
        SubsetView->setText(QStringLiteral(">>"));
        GroupSubset->setVisible(true);
        resize(width(), 766);
        StatusBar1->SetWidth(2, SubsetPanelWidth);
        StatusBar1->SetWidth(3, MessagePanelWidth - SubsetPanelWidth);
    } else {
        SubsetView->setVisible(false);
        GroupSubset->setVisible(false);
        resize(760, 766);
        CentreWindow(true);
        StatusBar1->SetWidth(2, 0);
        StatusBar1->SetWidth(3, MessagePanelWidth);
    }
}

}  // namespace tarnwick
