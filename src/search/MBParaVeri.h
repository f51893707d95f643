#pragma once

// "Verify Modbus Parameters": finds devices on the serial ports by trying port, address, baud
// rate and parity, lists them, applies a found meter's settings to the main window and saves or
// prints the list. The walk itself is TSerialSearch; this window reads and writes controls.

#include "FoundDevices.h"
#include "SerialSearch.h"

#include "DialogService.h"

#include "MainThread.h"
#include "ModbusClient.h"
#include "ModbusConnection.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QEventLoop;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QToolButton;

namespace search {

class TFormVeriMBPara final : public QDialog {
public:
    // mainThread carries the search connections' results into this thread; dialogs shows the
    // message boxes, the save and the print dialog. Both outlive the window.
    TFormVeriMBPara(modbus::IMainThread& mainThread, tarnwick::IDialogService& dialogs,
                    QWidget* parent = nullptr);
    ~TFormVeriMBPara() override;

    // Copies a found meter's settings into the main window (its slave address and connection).
    std::function<void(const TVortan_Device&)> OnApply;

    bool Searching() const { return searching; }

    void Bt_start_ver_ser_paraClick();
    void Bt_apply_paraClick();
    void BitBtn_saveClick();
    void BitBtn_printClick();
    void CheckBox_EchoQueryBeforeReplyClick();

protected:
    void reject() override;

private:
    struct PortLine;  // a connection of its own per port for the quick search

    void FormCreate();
    void walk_through_serial_parameters();
    void FillStringGrid_and_add_Row(int grid, const QString& port, const QString& parityText,
                                    const QString& baudText, const QString& addressText);
    void stringgrid_reset(int grid);
    void form_components_reset();
    void form_components_disable();
    void form_components_enable();
    void ShowReportButtons(bool on);
    void StopAll();
    void ShowCombination(const TCombination& c);
    void Found(const TCombination& c, bool isVortan);
    void OpenFailed();
    // Stops every walk and puts the window back as before a search.
    void AbandonSearch();
    void WalkFinished();
    void ShowTimeLeft();

    modbus::IMainThread& mainThread_;
    tarnwick::IDialogService& dialogs_;

    std::unique_ptr<modbus::TModbusConnection> ModbusConnection_verify_mb_para;
    std::unique_ptr<modbus::TModbusClient> ModbusClient_verify_mb_para;
    std::vector<std::unique_ptr<PortLine>> quickLines_;
    std::vector<std::unique_ptr<TSerialSearch>> walks_;
    QEventLoop* walkLoop_ = nullptr;
    size_t total_ = 0;
    size_t tried_ = 0;

    bool searching = false;
    bool stop_requested = false;
    bool vortan_found = false;
    int rows_flx = 0;
    int rows_oth = 0;

    QComboBox* ComboBox_com_port = nullptr;
    QSpinBox* SpinEdit_adr = nullptr;
    QComboBox* ComboBox_baud = nullptr;
    QComboBox* ComboBox_parity = nullptr;
    QCheckBox* CheckBox_EchoQueryBeforeReply = nullptr;
    QCheckBox* CheckBox_quick_search = nullptr;
    QPushButton* Bt_start_ver_ser_para = nullptr;
    QProgressBar* ProgressBar = nullptr;
    QLabel* Label_time_left = nullptr;
    QTableWidget* StringGrid_flx_dev = nullptr;
    QTableWidget* StringGrid_oth_dev = nullptr;
    QPushButton* Bt_apply_para = nullptr;
    QToolButton* BitBtn_save = nullptr;
    QToolButton* BitBtn_print = nullptr;
    QLabel* Label_save_print_para = nullptr;
    QPushButton* Bt_cancel = nullptr;
};

}  // namespace search
