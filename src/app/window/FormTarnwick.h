#pragma once

// The main window. Its code is split by concern:
//   FormTarnwick.cpp            construction: the first view, the areas' places, signal wiring
//   FormTarnwickPanels.cpp      the areas beyond the first view (calculator, service, subset)
//   FormTarnwickStartup.cpp     start-up, switches, settings file, destruction
//   FormTarnwickConnection.cpp  connect/disconnect, connection test, control states, dialogs
//   FormTarnwickRequests.cpp    one request at a time: senders, waits, timers, reply frames
//   FormTarnwickMeasured.cpp    measured values, heartbeat, identification
//   FormTarnwickUnits.cpp       unit boxes and unit change
//   FormTarnwickCalculator.cpp  register calculator

#include "CommandLine.h"
#include "RegisterValues.h"
#include "DialogService.h"
#include "TarnwickSettings.h"

#include "SubsetHost.h"

#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "ModbusTcpClient.h"
#include "Transfer.h"

#include <QMainWindow>
#include <QStringList>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string_view>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTableWidget;
class QTimer;
class QWidget;

namespace subset {
class TSubsetPanel;
}

namespace tarnwick {

class QtMainThread;
class TDiagnostics;
class TStatusPanels;

// The subset pages reach the meter through the window (as their host), never around it.
class TFormTarnwick : public QMainWindow, private subset::ISubsetHost {
    Q_OBJECT

public:
    // args: the command line without the program name. dialogs must outlive the window.
    TFormTarnwick(const QStringList& args, IDialogService& dialogs, QWidget* parent = nullptr);
    ~TFormTarnwick() override;

    static QString VersionText();
    // Timer intervals in ms, for tests that cannot wait the real ones.
    void SetTimerIntervals(int timer1Ms, int timer2Ms, int timer4Ms);
    void SetTimer3Interval(int ms);
    // The serial connection's properties not on the form (tests, the settings dialog).
    modbus::TModbusConnection& Connection() { return *ModbusConnection; }
    modbus::TModbusTcpClient& TcpClient() { return *ModbusTCP; }

    // State the tests observe.
    bool IsConnected() const { return connected; }
    bool IsReplyPending() const { return reply_pending(); }
    bool IsExpertMode() const { return expert_mode; }
    bool IsSubsetMode() const { return subset_mode; }
    bool UnitWarningPending() const { return unit_warning_pending; }
    QString PanelText(int panel) const;
    int PanelWidth(int panel) const;
    const std::array<std::uint16_t, 10>& MeasRecord() const { return meas_record; }
    const QString& SettingsPath() const { return m_settingsPath; }
    TDiagnostics& Diagnostics() { return *m_diagnostics; }
    // Replies that came after their request had ended and were not decoded.
    int DroppedReplies() const { return m_droppedReplies; }

    // Handlers, public so that the tests can run exactly what a user action runs.
    void Bt_dis_connectClick();
    void Bt_read_adrClick();
    void Bt_report_slave_idClick();
    void Bt_mb_settingsClick();
    void Bt_veri_mb_paraClick();
    void CheBox_loopClick();
    void Opt_RTUClick();
    void Opt_TCPIPClick();
    void SpEd_slave_adrExit();
    void bt_adv_viewClick();
    void change_cb_unit();
    void cb_unitChange();
    void Image1Click();

    // Expert register access and service functions (FormTarnwickService.cpp).
    void Bt_read_adr_exp_modeClick();
    void Bt_write_adr_exp_modeClick();
    void SpinEdit_customer_registerChange();
    void SpinEdit_customer_registerExit();
    void Button_write_byte_orderClick();
    void Button_read_byte_orderClick();
    void Button_auto_tot_rst_enableClick();
    void Button_auto_tot_rst_disableClick();
    void Button_send_ch_idClick();
    void Button_send_slopeClick();
    void Button_send_offsetClick();
    void Button1Click();
    void Button_activate_crtClick();
    void Button_deactivate_crtClick();

    // The unit tables' fill functions; each appends, the caller clears.
    void InitUnitLabelTemperature();
    void InitUnitLabelPressure();
    void InitUnitLabelNoUnit();
    void InitUnitLabelVelocity();
    void InitUnitLabelVolumeFlow();
    void InitUnitLabelVolume();
    void InitUnitLabelMassFlow();
    void InitUnitLabelMass();
    void InitUnitLabelHeatFlow();
    void InitUnitLabelHeat();
    void InitUnitLabelDecibel();
    void InitUnitLabelPercent();
    void InitUnitLabelBit();
    void InitUnitLabelDensity();
    void SetMeasUnitID(const QString& valueBoxName, const QString& unitBoxName) override;
    void SubsetViewClick();
    void SetCurrentLoopMeasValueUnit(std::uint32_t code) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    enum class RequestKind {
        MeasuredValue, Heartbeat, ExpertRead, ByteOrderRead, CrtCheck, CrtEnable, CrtDisable,
        Subset, ConnectTest, Identification, UnitWrite, ExpertWrite, ServiceWrite,
    };

    // Construction (FormTarnwick.cpp).
    void BuildControls();
    void NameControls();
    void SetKeyboardOrder();
    QWidget* BuildCommunicationArea(QWidget* parent);
    QWidget* BuildRightArea(QWidget* parent);
    QWidget* BuildServiceArea(QWidget* parent);
    QWidget* BuildSubsetArea(QWidget* parent);
    void WireSignals();
    void CreateComponents();

    // Start-up and settings (FormTarnwickStartup.cpp).
    void FormCreate(const QStringList& args);
    void FormDestroy();
    app::TarnwickSettings CollectSettings() const;
    void ApplySettings(const app::TarnwickSettings& s);
    void TarnwickWriteSettings();
    void ApplyStartMode(int startMode);
    void CentreWindow(bool horizontallyOnly = false);

    // Connection (FormTarnwickConnection.cpp).
    void ModbusTCPConnected();
    void ModbusClientDiagnostics(const modbus::TTransactionInfo& info);
    void set_form_elements_after_suc_connection();
    void set_form_elements_after_disconnection();
    void SetConnectedControls(bool on);
    void ReadIdentificationAfterConnect();
    void check_crt_activation();
    // The serial adapter vanished (pulled out): one message, and the disconnected state.
    void ModbusConnectionLineLost();

    // Request discipline (FormTarnwickRequests.cpp).
    struct PendingRequest {
        std::uint32_t id = 0;
        RequestKind kind = RequestKind::MeasuredValue;
        std::uint16_t start = 0;
        std::uint16_t count = 0;
        std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    };
    // Held for an operation of several requests: the window is busy while it lives, and a
    // disconnection or the window's closing ends the operation between two requests.
    class OperationGuard {
    public:
        explicit OperationGuard(TFormTarnwick& w);
        ~OperationGuard();
        OperationGuard(const OperationGuard&) = delete;
        OperationGuard& operator=(const OperationGuard&) = delete;
        // False when another operation was running: this one must not start.
        explicit operator bool() const { return owns_; }

    private:
        TFormTarnwick& w_;
        bool owns_;
    };
    void WaitUntil(const std::function<bool()>& done);
    void WaitMs(int ms);
    void WaitForIdle();
    // Sends one request once the previous one has ended, over the transport chosen at connect,
    // and returns after its reply handler has run or the watchdog gave up on it.
    modbus::Outcome Transfer(RequestKind kind, const modbus::Request& r);
    modbus::Outcome PerformTcpRequest(RequestKind kind, const modbus::Request& r);
    bool IsAwaited(std::uint32_t id) const { return m_pending && m_pending->id == id; }
    bool IsPending(RequestKind kind) const { return m_pending && m_pending->kind == kind; }
    // Records the outcome of the awaited request for its sender.
    void Conclude(const modbus::TTransactionInfo& info, const modbus::TRegValues& values = {},
                  const modbus::TServerIdentificationData& data = {});
    void EndRequest();
    void DropLateReply(const modbus::TTransactionInfo& info);
    // Panel 3's text for a reply that is not decoded; false for a good one.
    bool ShowReplyStatus(const modbus::TTransactionInfo& info, bool nameException);
    void TcpRequestFailed(const std::exception& error);
    modbus::Outcome ReadRegisters(RequestKind kind, std::uint16_t reg, std::uint16_t count);
    modbus::Outcome WriteRegister(RequestKind kind, std::uint16_t reg, std::uint16_t value);
    modbus::Outcome WriteRegisters(RequestKind kind, std::uint16_t reg, std::vector<std::uint16_t> values);
    void ModbusClientHoldingRegistersRead(const modbus::TTransactionInfo& info, std::uint16_t startReg,
                                          std::uint16_t regCount, const modbus::TRegValues& values);
    void ModbusClientSingleRegisterWrite(const modbus::TTransactionInfo& info);
    void ModbusClientMultipleRegistersWrite(const modbus::TTransactionInfo& info);
    // The write replies' common end: status text, the invalid-frame count where it applies.
    void EndWrite(const modbus::TTransactionInfo& info, bool countInvalidFrame);
    void ModbusConnectionFrameSend(const modbus::TFrameData& frame);
    void ModbusConnectionFrameReceive(const modbus::TFrameData& frame);
    void status_bar_send_mb_req();
    void CountInvalidFrame();
    void Timer1Timer();
    void Timer2Timer();
    void Timer3Timer();
    void Timer4Timer();

    // Measured values and identification (FormTarnwickMeasured.cpp).
    void send_mb_request();
    void send_heartbeat_request();
    void MeasuredValueCycle(bool fromReadButton);
    void ShowMeasuredValueBlock(const modbus::TRegValues& values);
    void ShowHeartbeat(const modbus::TRegValues& values);
    void ClearValueColumn();
    void SetCell(int row, const QString& text);
    void ModbusClientServerIdentificationReport(const modbus::TTransactionInfo& info, int count,
                                                const modbus::TServerIdentificationData& data);
    void ReadIdentification();
    void AdaptToSubsetMeter(bool armMarker);

    // Units (FormTarnwickUnits.cpp).
    void AppendUnits(std::span<const std::string_view> list);
    int ShowUnitIDWarning();
    void ApplyUnitReadBack(bool fromReadButton);

    // Register calculator (FormTarnwickCalculator.cpp).
    void cb_channel2Change();
    void cb_meas_val2Change();
    void cb_mb_dataChange();
    void update_address();

    void ShowError(const QString& text) override;
    // The line statistics' record of how the awaited request ended.
    void RecordRequestEnd(const modbus::TTransactionInfo& info);
    int RequestAddress(const modbus::TTransactionInfo& info) const;
    void RecordLoopSample();

    // The subset's host (FormTarnwickSubset.cpp).
    modbus::Outcome Transfer(const modbus::Request& r) override;
    bool Connected() const override { return connected; }
    std::unique_ptr<Operation> BeginOperation() override;
    void ProcessEvents() override;
    void SetPanelText(int panel, const QString& text) override;
    void EnableTimer3() override;
    void MessageBox(const QString& caption, const QString& text, Icon icon) override;
    bool SerialLine() const override;
    void PauseReplyTimeout() override;
    QTimer& InputsIntervalTimer() override { return *TimerInputsInterval; }
    QString SaveFileName(const QString& caption, const QString& fileName, const QString& filter) override;
    QString OpenFileName(const QString& caption, const QString& filter) override;
    int Exec(QDialog& dialog) override;
    void ReadSubsetStateAfterConnect();
    void ShowHint(const QString& text, bool errorIcon);
    struct ExpertTarget {
        app::DataType type;
        std::uint16_t reg;
    };
    // The data type and register of the expert access, or nothing when they cannot be used.
    std::optional<ExpertTarget> ExpertTargetOf(bool hintWithoutType);
    void WireServiceSignals();

    IDialogService& m_dialogs;

    // Components owned for the window's life.
    std::unique_ptr<QtMainThread> m_mainThread;
    std::unique_ptr<TDiagnostics> m_diagnostics;
    std::unique_ptr<modbus::TModbusConnection> ModbusConnection;
    std::unique_ptr<modbus::TModbusClient> ModbusClient;
    std::unique_ptr<modbus::TModbusTcpClient> ModbusTCP;
    std::unique_ptr<app::SettingsFile> m_settingsFile;
    QString m_settingsPath;
    bool m_settingsOpened = false;

    // Program-wide flags.
    bool expert_mode = false;
    bool subset_mode = false;
    bool unit_warning_pending = true;
    bool adv_view_collapsed = true;

    // Pending-request state. At most one request is outstanding, and this is its only record;
    // the named flags below are views of it.
    std::optional<PendingRequest> m_pending;
    std::optional<modbus::Outcome> m_outcome;  // of the request that ended last
    bool reply_pending() const { return m_pending.has_value(); }
    bool exp_read_pending() const { return IsPending(RequestKind::ExpertRead); }
    bool heartbeat_pending() const { return IsPending(RequestKind::Heartbeat); }
    bool byte_order_read_pending() const { return IsPending(RequestKind::ByteOrderRead); }
    bool crt_check_pending() const { return IsPending(RequestKind::CrtCheck); }
    bool crt_enable_pending() const { return IsPending(RequestKind::CrtEnable); }
    bool crt_disable_pending() const { return IsPending(RequestKind::CrtDisable); }
    bool subset_pending() const { return IsPending(RequestKind::Subset); }
    bool connect_test_pending() const { return m_connectTestId.has_value(); }
    std::int32_t subset_register() const { return subset_pending() ? m_pending->start : 0; }
    bool connected = false;
    // The connection test's answer completes a connection even after the watchdog gave up.
    std::optional<std::uint32_t> m_connectTestId;
    std::uint32_t m_tcpRequestCounter = 0;
    bool m_operationRunning = false;
    bool m_destroying = false;
    int m_droppedReplies = 0;

    std::array<std::uint16_t, 10> meas_record{};

    // Controls, named as the objectNames.
    QRadioButton* Opt_RTU = nullptr;
    QRadioButton* Opt_TCPIP = nullptr;
    QLabel* Label146 = nullptr;
    QLabel* Label147 = nullptr;
    QLineEdit* IPAdresse = nullptr;
    QLineEdit* Port = nullptr;
    QSpinBox* SpEd_slave_adr = nullptr;
    QPushButton* Bt_dis_connect = nullptr;
    QPushButton* Bt_mb_settings = nullptr;
    QPushButton* Bt_veri_mb_para = nullptr;
    QPushButton* Bt_read_adr = nullptr;
    QCheckBox* CheBox_loop = nullptr;
    QPushButton* Bt_report_slave_id = nullptr;
    QComboBox* cb_channel = nullptr;
    QComboBox* cb_meas_val = nullptr;
    QComboBox* cb_unit = nullptr;
    QLineEdit* invalid_frame_count = nullptr;
    QTableWidget* StringGrid1 = nullptr;
    QPushButton* bt_adv_view = nullptr;
    QPushButton* SubsetView = nullptr;
    QPushButton* ViewMenu = nullptr;

    QComboBox* cb_channel2 = nullptr;
    QComboBox* cb_meas_val2 = nullptr;
    QComboBox* cb_mb_data = nullptr;
    QLabel* Label_channel = nullptr;
    QLabel* Label_meas_val = nullptr;
    QLabel* Label_meas_val_spec = nullptr;
    QLabel* Label_result = nullptr;
    QLabel* Label_datatype = nullptr;

    QSpinBox* SpinEdit_customer_register = nullptr;
    QComboBox* cb_datatypes = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit_byte_word_order = nullptr;
    QComboBox* ComboBox_channel = nullptr;
    QLineEdit* Edit_calibr_factor_slope = nullptr;
    QLineEdit* Edit_calibr_factor_offset = nullptr;
    QPushButton* Image1 = nullptr;
    QPushButton* Bt_read_adr_exp_mode = nullptr;
    QPushButton* Bt_write_adr_exp_mode = nullptr;
    QPushButton* Button_activate_crt = nullptr;
    QPushButton* Button_deactivate_crt = nullptr;

    QGroupBox* GroupBox_swap = nullptr;
    QGroupBox* GroupBox_auto_totalizer_reset = nullptr;
    QGroupBox* GroupBox_calibr_factor = nullptr;
    std::array<QComboBox*, 3> m_swapBoxes{};

    subset::TSubsetPanel* GroupSubset = nullptr;

    TStatusPanels* StatusBar1 = nullptr;

    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;
    QTimer* Timer3 = nullptr;
    QTimer* Timer4 = nullptr;
    QTimer* TimerInputsInterval = nullptr;
};

}  // namespace tarnwick
