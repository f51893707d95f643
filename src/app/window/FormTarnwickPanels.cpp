// The areas that the window's size reveals beyond the first view: register calculator,
// register read/write and CRT on the right; the service groups below; the parameter subset.

#include "FormTarnwick.h"

#include "FormBuilders.h"
#include "SubsetPanel.h"

#include "MBMasterUnitIDs.h"
#include "RegisterFormulas.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace tarnwick {

using namespace build;

QWidget* TFormTarnwick::BuildRightArea(QWidget* parent)
{
    auto* area = new QWidget(parent);
    area->setObjectName(QStringLiteral("RightArea"));
    auto* column = new QVBoxLayout(area);
    column->setContentsMargins(0, 0, 0, 0);

    auto* calc = Named(new QGroupBox(QStringLiteral("Modbus Register Calculator")), "GroupBox2");
    auto* calcForm = new QGridLayout(calc);
    cb_channel2 = Combo("cb_channel2", Items(units::ChannelNames), true);
    cb_meas_val2 = Combo("cb_meas_val2", {}, true);
    cb_mb_data = Combo("cb_mb_data", Items(units::MeasDataItems), true);
    Label_channel = Label(QString(), "Label_channel");
    Label_meas_val = Label(QString(), "Label_meas_val");
    Label_meas_val_spec = Label(QString(), "Label_meas_val_spec");
    Label_result = Label(QString(), "Label_result");
    Label_datatype = Label(QString(), "Label_datatype");
    for (QLabel* l : {Label_channel, Label_meas_val, Label_meas_val_spec, Label_result})
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont bold = Label_result->font();
    bold.setBold(true);
    Label_result->setFont(bold);
    calcForm->addWidget(Label(QStringLiteral("Channel")), 0, 0);
    calcForm->addWidget(cb_channel2, 0, 1);
    calcForm->addWidget(Label_channel, 0, 2);
    calcForm->addWidget(Label(QStringLiteral("Measuring Value")), 1, 0, 1, 2);
    calcForm->addWidget(cb_meas_val2, 2, 0, 1, 2);
    calcForm->addWidget(Label(QStringLiteral("+")), 2, 2, Qt::AlignLeft);
    calcForm->addWidget(Label_meas_val, 2, 2);
    calcForm->addWidget(Label(QStringLiteral("Measuring Value Specifics")), 3, 0, 1, 2);
    calcForm->addWidget(cb_mb_data, 4, 0, 1, 2);
    calcForm->addWidget(Label(QStringLiteral("+")), 4, 2, Qt::AlignLeft);
    calcForm->addWidget(Label_meas_val_spec, 4, 2);
    auto* rule = new QFrame;
    rule->setFrameShape(QFrame::HLine);
    calcForm->addWidget(rule, 5, 0, 1, 3);
    calcForm->addWidget(Label_datatype, 6, 0, 1, 2);
    calcForm->addWidget(Label_result, 6, 2);
    auto* note = Label(QStringLiteral("Note: If customers Modbus-Master starts\nregister counting at 1 then add 1\n"
                                      "to all calculated register addresses.\nVortan starts register counting at 0."),
                       "Label21");
    note->setWordWrap(false);
    QFont small = note->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    note->setFont(small);
    calcForm->addWidget(note, 7, 0, 1, 3);
    calcForm->setColumnStretch(1, 1);
    column->addWidget(calc);

    auto* expert = Named(new QGroupBox(QStringLiteral("Register Read/Write")), "GroupBox_spec_func");
    auto* expertGrid = new QGridLayout(expert);
    // Wider than the register range, so that the box can wrap what is typed past either end.
    auto* reg = SpinEdit_customer_register = Named(new QSpinBox, "SpinEdit_customer_register");
    reg->setRange(-9999, 99999);
    reg->setValue(0);
    auto* types = cb_datatypes = Combo("cb_datatypes", {QStringLiteral("Int16"), QStringLiteral("Int32"),
                                                        QStringLiteral("Float"), QStringLiteral("Char")}, true);
    types->setCurrentIndex(-1);
    types->setEditText(QStringLiteral("Datatype"));
    auto* value = Edit1 = Named(new QLineEdit, "Edit1");
    Bt_read_adr_exp_mode = Button("Bt_read_adr_exp_mode", QStringLiteral("Read Register"));
    Bt_write_adr_exp_mode = Button("Bt_write_adr_exp_mode", QStringLiteral("Write Register"));
    expertGrid->addWidget(Label(QStringLiteral("Register")), 0, 0);
    expertGrid->addWidget(reg, 0, 1);
    expertGrid->addWidget(types, 1, 0, 1, 2);
    expertGrid->addWidget(Label(QStringLiteral("Value")), 2, 0);
    expertGrid->addWidget(value, 2, 1);
    expertGrid->addWidget(Bt_read_adr_exp_mode, 3, 0);
    expertGrid->addWidget(Bt_write_adr_exp_mode, 3, 1);
    column->addWidget(expert);

    auto* crt = Named(new QGroupBox(QStringLiteral("Custom Register Table")), "GroupBox_crt");
    auto* crtRow = new QHBoxLayout(crt);
    Button_activate_crt = Button("Button_activate_crt", QStringLiteral("Activate CRT"));
    Button_deactivate_crt = Button("Button_deactivate_crt", QStringLiteral("Deactivate CRT"));
    for (QPushButton* b : {Button_activate_crt, Button_deactivate_crt}) {
        b->setMinimumHeight(40);
        crtRow->addWidget(b);
    }
    column->addWidget(crt);
    column->addStretch(1);

    for (QWidget* w : {static_cast<QWidget*>(Bt_read_adr_exp_mode), static_cast<QWidget*>(Bt_write_adr_exp_mode),
                       static_cast<QWidget*>(Button_activate_crt), static_cast<QWidget*>(Button_deactivate_crt)})
        w->setEnabled(false);
    return area;
}

QWidget* TFormTarnwick::BuildServiceArea(QWidget* parent)
{
    auto* area = new QWidget(parent);
    area->setObjectName(QStringLiteral("ServiceArea"));
    auto* row = new QHBoxLayout(area);
    row->setContentsMargins(0, 0, 0, 0);

    const QStringList order16 = {QStringLiteral("Little Endian (Default)"), QStringLiteral("Big Endian")};
    const QStringList order32 = {QStringLiteral("Little Endian (Default)"), QStringLiteral("Byte Swap"),
                                 QStringLiteral("Word Swap"), QStringLiteral("Big Endian")};
    GroupBox_swap = Named(new QGroupBox(QStringLiteral("Byte/Word Swap")), "GroupBox_swap");
    auto* swapGrid = new QGridLayout(GroupBox_swap);
    m_swapBoxes = {Combo("ComboBox_byte_order_16bit_vars", order16),
                   Combo("ComboBox_byte_word_order_long_ints", order32),
                   Combo("ComboBox_byte_word_order_floats", order32)};
    const char* swapLabels[] = {"Byte order\n16-Bit vars", "Byte order\nlong ints", "Byte order\nfloats"};
    for (int i = 0; i < 3; ++i) {
        m_swapBoxes[static_cast<size_t>(i)]->setCurrentIndex(-1);
        m_swapBoxes[static_cast<size_t>(i)]->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        m_swapBoxes[static_cast<size_t>(i)]->setMinimumContentsLength(11);
        swapGrid->addWidget(Label(QString::fromLatin1(swapLabels[i])), i, 0);
        swapGrid->addWidget(m_swapBoxes[static_cast<size_t>(i)], i, 1);
    }
    auto* orderEdit = Edit_byte_word_order = Named(new QLineEdit, "Edit_byte_word_order");
    orderEdit->setReadOnly(true);
    swapGrid->addWidget(Label(QStringLiteral("Register 17 -->\nByte/Word order")), 3, 0);
    swapGrid->addWidget(orderEdit, 3, 1);
    auto* swapButtons = new QHBoxLayout;
    swapButtons->addWidget(Button("Button_write_byte_order", QStringLiteral("Write Reg.")));
    swapButtons->addWidget(Button("Button_read_byte_order", QStringLiteral("Read Reg.")));
    swapGrid->addLayout(swapButtons, 4, 0, 1, 2);

    GroupBox_auto_totalizer_reset = Named(new QGroupBox(QStringLiteral("Automatic Totalizer Reset")),
                                          "GroupBox_auto_totalizer_reset");
    auto* totLayout = new QVBoxLayout(GroupBox_auto_totalizer_reset);
    totLayout->addWidget(Label(QStringLiteral("This function dis-/enables\nthe auto totalizer reset at\n"
                                              "values > 0xFFFFFFFF\n(Register 20)")));
    auto* totButtons = new QHBoxLayout;
    totButtons->addWidget(Button("Button_auto_tot_rst_enable", QStringLiteral("Enable")));
    totButtons->addWidget(Button("Button_auto_tot_rst_disable", QStringLiteral("Disable")));
    totLayout->addLayout(totButtons);
    totLayout->addStretch(1);

    GroupBox_calibr_factor = Named(new QGroupBox(QStringLiteral("Calibration Factor")), "GroupBox_calibr_factor");
    auto* calGrid = new QGridLayout(GroupBox_calibr_factor);
    auto* channel = ComboBox_channel = Combo("ComboBox_channel", {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"),
                                               QStringLiteral("D"), QStringLiteral("E"), QStringLiteral("F"),
                                               QStringLiteral("G"), QStringLiteral("H")}, true);
    channel->setCurrentIndex(-1);
    channel->setEditText(QStringLiteral("Channel"));
    channel->setMinimumWidth(84);
    calGrid->addWidget(Label(QStringLiteral("Ch ID")), 0, 0);
    calGrid->addWidget(channel, 0, 1);
    calGrid->addWidget(Label(QStringLiteral("Register 110")), 0, 2);
    calGrid->addWidget(Button("Button_send_ch_id", QStringLiteral("Send Ch ID")), 0, 3);
    calGrid->addWidget(Label(QStringLiteral("Slope")), 1, 0);
    Edit_calibr_factor_slope = Named(new QLineEdit, "Edit_calibr_factor_slope");
    calGrid->addWidget(Edit_calibr_factor_slope, 1, 1);
    calGrid->addWidget(Label(QStringLiteral("Register 112..113")), 1, 2);
    calGrid->addWidget(Button("Button_send_slope", QStringLiteral("Send Slope")), 1, 3);
    calGrid->addWidget(Label(QStringLiteral("Offset")), 2, 0);
    Edit_calibr_factor_offset = Named(new QLineEdit, "Edit_calibr_factor_offset");
    calGrid->addWidget(Edit_calibr_factor_offset, 2, 1);
    calGrid->addWidget(Label(QStringLiteral("Register 114")), 2, 2);
    calGrid->addWidget(Button("Button_send_offset", QStringLiteral("Send Offset")), 2, 3);
    calGrid->addWidget(Label(QStringLiteral("Apply")), 3, 0);
    calGrid->addWidget(Label(QStringLiteral("Register 120")), 3, 2);
    calGrid->addWidget(Button("Button1", QStringLiteral("Send 0x0001")), 3, 3);

    for (QGroupBox* g : {GroupBox_swap, GroupBox_auto_totalizer_reset, GroupBox_calibr_factor}) {
        g->setVisible(false);
        row->addWidget(g, 0, Qt::AlignTop);
    }
    row->addStretch(1);
    return area;
}

QWidget* TFormTarnwick::BuildSubsetArea(QWidget* parent)
{
    GroupSubset = new subset::TSubsetPanel(*this, parent);
    GroupSubset->setVisible(false);
    return GroupSubset;
}

}  // namespace tarnwick
