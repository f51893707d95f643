// The register calculator: works offline, nothing is sent.

#include "FormTarnwick.h"

#include "RegisterFormulas.h"

#include <QComboBox>
#include <QLabel>

namespace tarnwick {

namespace {

// Text typed into a box instead of a choice counts as no choice.
int Choice(const QComboBox* box)
{
    const int i = box->currentIndex();
    return i >= 0 && box->currentText() == box->itemText(i) ? i : -1;
}

}  // namespace

void TFormTarnwick::cb_channel2Change()
{
    Label_channel->setText(
        QString::number(units::calculatorChannelSummand(Choice(cb_channel2), Choice(cb_meas_val2))));
    update_address();
}

void TFormTarnwick::cb_meas_val2Change()
{
    Label_meas_val->setText(QString::number(units::calculatorQuantitySummand(Choice(cb_meas_val2))));
    // A path-difference quantity has no channel summand.
    cb_channel2Change();
}

void TFormTarnwick::cb_mb_dataChange()
{
    const int offset = Choice(cb_mb_data);
    Label_meas_val_spec->setText(QString::number(units::calculatorOffsetSummand(offset)));
    const std::string_view type = units::calculatorDataType(offset);
    Label_datatype->setText(QString::fromLatin1(type.data(), static_cast<qsizetype>(type.size())));
    update_address();
}

void TFormTarnwick::update_address()
{
    Label_result->setText(QString::number(Label_channel->text().toInt() + Label_meas_val->text().toInt() +
                                          Label_meas_val_spec->text().toInt()));
}

}  // namespace tarnwick
