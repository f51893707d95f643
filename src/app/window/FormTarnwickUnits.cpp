// The unit box of the measured value, the unit change, and the parameter pages' unit boxes.

#include "FormTarnwick.h"

#include "MBMasterUnitIDs.h"
#include "UnitTables.h"

#include <QComboBox>
#include <QLabel>

namespace tarnwick {

namespace {

QString FromLatin1(std::string_view s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

void TFormTarnwick::AppendUnits(std::span<const std::string_view> list)
{
    for (std::string_view text : list)
        cb_unit->addItem(FromLatin1(text));
}

void TFormTarnwick::InitUnitLabelTemperature() { AppendUnits(units::UnitsTemperature); }
void TFormTarnwick::InitUnitLabelPressure() { AppendUnits(units::UnitsPressure); }
void TFormTarnwick::InitUnitLabelNoUnit() { AppendUnits(units::UnitsNoUnit); }
void TFormTarnwick::InitUnitLabelVelocity() { AppendUnits(units::UnitsVelocity); }
void TFormTarnwick::InitUnitLabelVolumeFlow() { AppendUnits(units::UnitsVolumeFlow); }
void TFormTarnwick::InitUnitLabelVolume() { AppendUnits(units::UnitsVolume); }
void TFormTarnwick::InitUnitLabelMassFlow() { AppendUnits(units::UnitsMassFlow); }
void TFormTarnwick::InitUnitLabelMass() { AppendUnits(units::UnitsMass); }
void TFormTarnwick::InitUnitLabelHeatFlow() { AppendUnits(units::UnitsHeatFlow); }
void TFormTarnwick::InitUnitLabelHeat() { AppendUnits(units::UnitsHeat); }
void TFormTarnwick::InitUnitLabelDecibel() { AppendUnits(units::UnitsDecibel); }
void TFormTarnwick::InitUnitLabelPercent() { AppendUnits(units::UnitsPercent); }
void TFormTarnwick::InitUnitLabelBit() { AppendUnits(units::UnitsBit); }
void TFormTarnwick::InitUnitLabelDensity() { AppendUnits(units::UnitsDensity); }

void TFormTarnwick::change_cb_unit()
{
    cb_unit->clear();
    cb_unit->setPlaceholderText(QString());
    const int q = cb_meas_val->currentIndex();
    if (const std::optional<units::UnitClass> unitClass = units::unitClassOfQuantity(q)) {
        switch (*unitClass) {
        case units::UnitClass::Temperature: InitUnitLabelTemperature(); break;
        case units::UnitClass::Pressure: InitUnitLabelPressure(); break;
        case units::UnitClass::NoUnit: InitUnitLabelNoUnit(); break;
        case units::UnitClass::Velocity: InitUnitLabelVelocity(); break;
        case units::UnitClass::VolumeFlow: InitUnitLabelVolumeFlow(); break;
        case units::UnitClass::Volume: InitUnitLabelVolume(); break;
        case units::UnitClass::MassFlow: InitUnitLabelMassFlow(); break;
        case units::UnitClass::Mass: InitUnitLabelMass(); break;
        case units::UnitClass::HeatFlow: InitUnitLabelHeatFlow(); break;
        case units::UnitClass::Heat: InitUnitLabelHeat(); break;
        case units::UnitClass::Decibel: InitUnitLabelDecibel(); break;
        case units::UnitClass::Percent: InitUnitLabelPercent(); break;
        case units::UnitClass::Bit: InitUnitLabelBit(); break;
        case units::UnitClass::Density: InitUnitLabelDensity(); break;
        }
    }
    cb_unit->setCurrentIndex(cb_unit->count() > 0 ? 0 : -1);
    cb_unit->setEnabled(units::unitBoxEnabled(q, connected));
}

int TFormTarnwick::ShowUnitIDWarning()
{
    return m_dialogs.MessageBox(
        this, QStringLiteral("Hint"),
        QStringLiteral("This will change the unit ID for scaled measuring value on the modbus server module!\r\n"
                       "Do you want to continue?\r\r\nThis message will be shown only one time."),
        IDialogService::Icon::None, IDialogService::Ok | IDialogService::Cancel);
}

void TFormTarnwick::cb_unitChange()
{
    cb_unit->setPlaceholderText(QString());
    const int position = cb_unit->currentIndex();
    bool confirmed = false;
    if (unit_warning_pending) {
        if (ShowUnitIDWarning() != IDialogService::Ok) {
            cb_unit->setCurrentIndex(0);
            return;
        }
        confirmed = true;
    }
    const std::optional<std::uint16_t> reg =
        units::unitIdRegister(cb_channel->currentIndex(), cb_meas_val->currentIndex());
    if (reg)
        WriteRegister(RequestKind::UnitWrite, *reg, units::unitIdWriteValue(position));
    if (confirmed)
        unit_warning_pending = false;
}

void TFormTarnwick::ApplyUnitReadBack(bool fromReadButton)
{
    const units::UnitReadBack readBack =
        units::unitReadBack(cb_meas_val->currentIndex(), meas_record[3], fromReadButton);
    // A non-editable box cannot carry free text; with no selection it shows its placeholder.
    cb_unit->setPlaceholderText(readBack.showMismatchText ? QString::fromLatin1(units::UnitMismatchText.data(),
                                                                                units::UnitMismatchText.size())
                                                          : QString());
    cb_unit->setCurrentIndex(readBack.position);
}

void TFormTarnwick::SetMeasUnitID(const QString& valueBoxName, const QString& unitBoxName)
{
    auto* valueBox = findChild<QComboBox*>(valueBoxName);
    auto* unitBox = findChild<QComboBox*>(unitBoxName);
    if (!valueBox || !unitBox)
        return;
    unitBox->clear();
    for (std::string_view text : units::subsetMeasUnitList(valueBox->currentIndex()))
        unitBox->addItem(FromLatin1(text));
    unitBox->setCurrentIndex(-1);
}

void TFormTarnwick::SetCurrentLoopMeasValueUnit(std::uint32_t code)
{
    const QString label = FromLatin1(units::currentLoopUnitLabel(code));
    for (const char* name : {"Label136", "Label139"})
        if (auto* l = findChild<QLabel*>(QString::fromLatin1(name)))
            l->setText(label);
}

}  // namespace tarnwick
