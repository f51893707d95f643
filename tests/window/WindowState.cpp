#include "WindowState.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTimer>

namespace windowtest {

void ExpectControlStates(Window& w, bool connected, bool afterDisconnection)
{
    tarnwick::TFormTarnwick& f = w.Form();
    EXPECT_EQ(f.IsConnected(), connected);
    EXPECT_EQ(w.Find<QPushButton>("Bt_dis_connect")->text(), connected ? "Disconnect" : "Connect");
    EXPECT_EQ(f.PanelText(0), connected ? "Connected" : "Disconnected");
    if (!connected && afterDisconnection) {
        EXPECT_EQ(f.PanelText(1), "CRT");
        EXPECT_EQ(f.PanelText(2), "");
        EXPECT_EQ(f.PanelText(3), "");
        for (int row = 0; row < 4; ++row)
            EXPECT_EQ(w.Cell(row), "") << "row " << row;
    }
    if (!connected) {
        EXPECT_FALSE(w.Find<QCheckBox>("CheBox_loop")->isChecked());
        EXPECT_FALSE(w.Find<QTimer>("Timer1")->isActive());
        EXPECT_FALSE(w.Find<QTimer>("Timer4")->isActive());
        EXPECT_FALSE(w.Find<QTimer>("TimerInputsInterval")->isActive());
        EXPECT_FALSE(f.Connection().Active());
    }
    const char* onWhenConnected[] = {
        "CheBox_loop", "Bt_read_adr", "Bt_report_slave_id", "cb_channel", "cb_meas_val",
        "Bt_read_adr_exp_mode", "Bt_write_adr_exp_mode", "Button_activate_crt", "Button_deactivate_crt",
        "GetDataPipe", "WritePipeData", "GetFluidData", "WriteFluidData", "GetTransducerData",
        "WriteTransducerData", "GetMeasuringData", "WriteMeasuringData", "GetLinkingData", "WriteLinkingData",
        "GetCalcChannel", "WriteCalcChannel", "GetGlobalSettings", "WriteGlobalSettings",
        "GetProcessInputData", "WriteProcessInputData", "GetProcessOutputData", "WriteProcessOutputData",
        "StartMeas", "ConfigMBProcessInputAll", "SetValueReadStatus", "ProcessInputsReload", "InputsAsLoop",
    };
    for (const char* name : onWhenConnected)
        EXPECT_EQ(w.Find(name)->isEnabled(), connected) << name;
    const char* offWhenConnected[] = {"SpEd_slave_adr", "Bt_mb_settings", "Bt_veri_mb_para",
                                      "IPAdresse", "Port", "Opt_RTU", "Opt_TCPIP"};
    for (const char* name : offWhenConnected)
        EXPECT_EQ(w.Find(name)->isEnabled(), !connected) << name;
}

}  // namespace windowtest
