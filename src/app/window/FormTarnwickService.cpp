// Expert register access, the service functions (byte order, totalizer reset, calibration
// factor, custom register table) and the about dialog.
//
// Each sender decodes its own answer from the outcome of its request, so that a reply is read
// as what was asked, whatever the boxes say by the time it arrives.

#include "FormTarnwick.h"

#include "About.h"
#include "StatusPanels.h"

#include "RegisterValues.h"

#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>

namespace tarnwick {

namespace {

constexpr std::uint16_t ByteOrderRegister = 17;
constexpr std::uint16_t TotalizerResetRegister = 20;
constexpr std::uint16_t CalibrationChannelRegister = 110;
constexpr std::uint16_t CalibrationSlopeRegister = 112;
constexpr std::uint16_t CalibrationOffsetRegister = 114;
constexpr std::uint16_t CalibrationApplyRegister = 120;
constexpr std::uint16_t CrtRegister = 65535;

QString FromStd(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

void TFormTarnwick::WireServiceSignals()
{
    connect(Bt_read_adr_exp_mode, &QPushButton::clicked, this, &TFormTarnwick::Bt_read_adr_exp_modeClick);
    connect(Bt_write_adr_exp_mode, &QPushButton::clicked, this, &TFormTarnwick::Bt_write_adr_exp_modeClick);
    connect(SpinEdit_customer_register, &QSpinBox::valueChanged, this,
            &TFormTarnwick::SpinEdit_customer_registerChange);
    connect(SpinEdit_customer_register, &QSpinBox::editingFinished, this,
            &TFormTarnwick::SpinEdit_customer_registerExit);
    const std::pair<const char*, void (TFormTarnwick::*)()> buttons[] = {
        {"Button_write_byte_order", &TFormTarnwick::Button_write_byte_orderClick},
        {"Button_read_byte_order", &TFormTarnwick::Button_read_byte_orderClick},
        {"Button_auto_tot_rst_enable", &TFormTarnwick::Button_auto_tot_rst_enableClick},
        {"Button_auto_tot_rst_disable", &TFormTarnwick::Button_auto_tot_rst_disableClick},
        {"Button_send_ch_id", &TFormTarnwick::Button_send_ch_idClick},
        {"Button_send_slope", &TFormTarnwick::Button_send_slopeClick},
        {"Button_send_offset", &TFormTarnwick::Button_send_offsetClick},
        {"Button1", &TFormTarnwick::Button1Click},
        {"Button_activate_crt", &TFormTarnwick::Button_activate_crtClick},
        {"Button_deactivate_crt", &TFormTarnwick::Button_deactivate_crtClick},
    };
    for (const auto& [name, handler] : buttons)
        connect(findChild<QPushButton*>(QString::fromLatin1(name)), &QPushButton::clicked, this, handler);
    // Typed and pasted text pass the same filter; the value is checked again when sent.
    Edit_calibr_factor_slope->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*[.,]?[0-9]*")), this));
    Edit_calibr_factor_offset->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("-?[0-9]{0,5}")), this));
}

void TFormTarnwick::ShowHint(const QString& text, bool errorIcon)
{
    m_dialogs.MessageBox(this, QStringLiteral("Hint"), text,
                         errorIcon ? IDialogService::Icon::Error : IDialogService::Icon::None, IDialogService::Ok);
}

void TFormTarnwick::SpinEdit_customer_registerChange()
{
    // The box wraps around: past the last register is the first, before the first the last.
    const int v = SpinEdit_customer_register->value();
    if (v > 65535)
        SpinEdit_customer_register->setValue(0);
    else if (v < 0)
        SpinEdit_customer_register->setValue(65535);
}

void TFormTarnwick::SpinEdit_customer_registerExit()
{
    if (SpinEdit_customer_register->cleanText().trimmed().isEmpty())
        SpinEdit_customer_register->setValue(0);
}

std::optional<TFormTarnwick::ExpertTarget> TFormTarnwick::ExpertTargetOf(bool hintWithoutType)
{
    const std::optional<app::DataType> type = app::dataTypeFromText(cb_datatypes->currentText().toStdString());
    if (!type) {
        if (hintWithoutType)
            ShowHint(QStringLiteral("Choose a datatype !"), true);
        return std::nullopt;
    }
    const auto reg = static_cast<std::uint16_t>(SpinEdit_customer_register->value());
    // Refused before anything is set or sent: the pair would run past the last register.
    if (reg + app::registerCount(*type) - 1 > 65535) {
        ShowHint(QStringLiteral("Register 65535 is the last one: %1 needs two registers.").arg(cb_datatypes->currentText()),
                 true);
        return std::nullopt;
    }
    return ExpertTarget{*type, reg};
}

void TFormTarnwick::Bt_read_adr_exp_modeClick()
{
    const std::optional<ExpertTarget> t = ExpertTargetOf(true);
    if (!t)
        return;
    const modbus::Outcome o =
        ReadRegisters(RequestKind::ExpertRead, t->reg, static_cast<std::uint16_t>(app::registerCount(t->type)));
    if (o.Ok())
        Edit1->setText(FromStd(app::decodeRegisters(t->type, o.values, QLocale().decimalPoint().toStdString())));
}

void TFormTarnwick::Bt_write_adr_exp_modeClick()
{
    const std::optional<ExpertTarget> t = ExpertTargetOf(false);
    if (!t)
        return;
    const QString text = Edit1->text();
    // A character outside Latin-1 has no code the meter's text registers hold.
    if (t->type == app::DataType::Char && text.size() == 1 && text.at(0).unicode() > 0xFF) {
        ShowError(QStringLiteral("'%1' is not a Latin-1 character").arg(text));
        return;
    }
    const app::Encoded e = app::encodeValue(t->type, text.toLatin1().toStdString());
    if (!e.error.empty()) {
        ShowError(FromStd(e.error));
        return;
    }
    if (e.words.empty())
        return;  // a Char text of another length than one
    if (e.words.size() == 1)
        WriteRegister(RequestKind::ExpertWrite, t->reg, e.words[0]);
    else
        WriteRegisters(RequestKind::ExpertWrite, t->reg, e.words);
}

void TFormTarnwick::Button_write_byte_orderClick()
{
    const OperationGuard operation(*this);
    if (!operation)
        return;
    const std::uint16_t value = app::byteOrderRegister(
        m_swapBoxes[0]->currentIndex(), m_swapBoxes[1]->currentIndex(), m_swapBoxes[2]->currentIndex());
    if (WriteRegister(RequestKind::ServiceWrite, ByteOrderRegister, value).aborted)
        return;
    WaitMs(10);
    send_heartbeat_request();
}

void TFormTarnwick::Button_read_byte_orderClick()
{
    const modbus::Outcome o = ReadRegisters(RequestKind::ByteOrderRead, ByteOrderRegister, 1);
    if (o.Ok() && !o.values.empty())
        Edit_byte_word_order->setText(FromStd(app::hexWord(o.values[0])));
}

void TFormTarnwick::Button_auto_tot_rst_enableClick()
{
    WriteRegister(RequestKind::ServiceWrite, TotalizerResetRegister, 1);
}

void TFormTarnwick::Button_auto_tot_rst_disableClick()
{
    WriteRegister(RequestKind::ServiceWrite, TotalizerResetRegister, 0);
}

void TFormTarnwick::Button_send_ch_idClick()
{
    const int i = ComboBox_channel->currentIndex();
    if (i < 0 || ComboBox_channel->currentText() != ComboBox_channel->itemText(i)) {
        ShowHint(QStringLiteral("Choose a channel !"), false);
        return;
    }
    WriteRegister(RequestKind::ServiceWrite, CalibrationChannelRegister, static_cast<std::uint16_t>('A' + i));
}

void TFormTarnwick::Button_send_slopeClick()
{
    const std::string text = Edit_calibr_factor_slope->text().toStdString();
    const std::optional<double> slope = app::parseDecimal(text);
    if (!slope) {
        ShowError(FromStd(app::notAFloat(text)));
        return;
    }
    const auto words = app::floatRegisters(*slope);
    if (!words) {
        ShowError(QStringLiteral("'%1' is out of range (single precision)").arg(FromStd(text)));
        return;
    }
    WriteRegisters(RequestKind::ServiceWrite, CalibrationSlopeRegister, *words);
}

void TFormTarnwick::Button_send_offsetClick()
{
    const std::string text = Edit_calibr_factor_offset->text().toStdString();
    const std::optional<long long> offset = app::parseInteger(text, -32768, 65535);
    if (!offset) {
        ShowError(app::parseInteger(text, LLONG_MIN, LLONG_MAX)
                      ? QStringLiteral("'%1' is out of range (-32768 to 65535)").arg(FromStd(text))
                      : FromStd(app::notAnInteger(text)));
        return;
    }
    WriteRegister(RequestKind::ServiceWrite, CalibrationOffsetRegister, static_cast<std::uint16_t>(*offset & 0xFFFF));
}

void TFormTarnwick::Button1Click()
{
    WriteRegister(RequestKind::ServiceWrite, CalibrationApplyRegister, 1);
}

void TFormTarnwick::check_crt_activation()
{
    const modbus::Outcome o = ReadRegisters(RequestKind::CrtCheck, CrtRegister, 1);
    if (!o.Ok() || o.values.empty())
        return;
    if (o.values[0] != 1) {
        StatusBar1->SetText(1, QStringLiteral("CRT Disabled"));
        return;
    }
    StatusBar1->SetText(1, QStringLiteral("CRT Enabled"));
    const int answer = m_dialogs.MessageBox(
        this, QStringLiteral("Custom Register Table"),
        QStringLiteral("CRT is enabled!  ->  Modbus Register 65535 is set to 1.\n\n\rDisable CRT?"),
        IDialogService::Icon::Warning, IDialogService::Yes | IDialogService::No);
    // Disabled only once the meter said so, over either transport.
    if (answer == IDialogService::Yes && WriteRegister(RequestKind::CrtDisable, CrtRegister, 0).Ok())
        StatusBar1->SetText(1, QStringLiteral("CRT Disabled"));
}

void TFormTarnwick::Button_activate_crtClick()
{
    if (WriteRegister(RequestKind::CrtEnable, CrtRegister, 1).Ok())
        StatusBar1->SetText(1, QStringLiteral("CRT Enabled"));
}

void TFormTarnwick::Button_deactivate_crtClick()
{
    if (WriteRegister(RequestKind::CrtDisable, CrtRegister, 0).Ok())
        StatusBar1->SetText(1, QStringLiteral("CRT Disabled"));
}

void TFormTarnwick::Image1Click()
{
    TFormAbout about(VersionText(), [this](const QUrl& url) { m_dialogs.OpenUrl(url); }, this);
    m_dialogs.Exec(about);
}

}  // namespace tarnwick
