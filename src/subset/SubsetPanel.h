#pragma once

// The parameter subset group of the main window: the configuration selection, the pages with
// their controls, and the one page transfer that reads and writes any page by its register
// table. Handlers keep the names of the window they belong to; they stay thin.

#include "Configuration.h"
#include "RegisterMap.h"
#include "SubsetHost.h"

#include <QGroupBox>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <optional>
#include <vector>

class QComboBox;
class QEvent;
class QLineEdit;
class QPushButton;
class QWidget;

namespace subset {

// A number in the user's locale; a point where the locale has a comma still counts.
std::optional<double> ParseLocaleFloat(const QString& text);

class TSubsetPanel : public QGroupBox {
    Q_OBJECT

public:
    TSubsetPanel(ISubsetHost& host, QWidget* parent = nullptr);

    // Connection state: the page buttons, StartMeas and the process-input controls.
    void SetConnected(bool on);
    // Timer3's part once a page operation has settled: everything usable again.
    void EnablePageControls();
    // The subset view opens on channel A without reading anything.
    void ShowFirstConfiguration();

    bool ProtectionActive() const { return protection_active; }
    bool MeasuringActive() const { return measuring_active; }

    // Handlers.
    void ConfigurationSelectChange();
    void ShowPipeClick();
    void ShowFluidClick();
    void ShowTransducerClick();
    void ShowMeasureClick();
    void ShowLinkingClick();
    void ShowProcessOutputClick();
    void ShowProcessInputClick();
    void GetDataPipeClick() { PageRead(PageId::Pipe); }
    void WritePipeDataClick() { PageWrite(PageId::Pipe); }
    void GetFluidDataClick() { PageRead(PageId::Fluid); }
    void WriteFluidDataClick() { PageWrite(PageId::Fluid); }
    void GetTransducerDataClick() { PageRead(PageId::Transducer); }
    void WriteTransducerDataClick() { PageWrite(PageId::Transducer); }
    void GetMeasuringDataClick() { PageRead(PageId::Measuring); }
    void WriteMeasuringDataClick() { PageWrite(PageId::Measuring); }
    void GetLinkingDataClick() { PageRead(PageId::Linking); }
    void WriteLinkingDataClick() { PageWrite(PageId::Linking); }
    void GetCalcChannelClick() { PageRead(PageId::Calculation); }
    void WriteCalcChannelClick() { PageWrite(PageId::Calculation); }
    void GetGlobalSettingsClick() { PageRead(PageId::Global); }
    void WriteGlobalSettingsClick();
    void GetProcessOutputDataClick() { PageRead(PageId::CurrentLoop); }
    void WriteProcessOutputDataClick() { PageWrite(PageId::CurrentLoop); }
    void GetProcessInputDataClick() { PageRead(PageId::TemperatureInput); }
    void WriteProcessInputDataClick() { PageWrite(PageId::TemperatureInput); }
    void MeasuringValueChange();
    void CalculationMeasValueChange();
    void CurrentLoopMeasValueChange();
    // input 1 or 2: the list of the other channels of the calculation channel shown.
    void SetSubsetCalcChannelInputValues(int input);
    void SetLoggerChannel(std::uint16_t word) { SetBits(QStringLiteral("LoggerChannel"), word); }
    void SetLoggerOptions(std::uint16_t word) { SetBits(QStringLiteral("LoggerOptions"), word); }
    std::uint16_t GetLoggerChannel() const { return BitsWord(QStringLiteral("LoggerChannel")); }
    std::uint16_t GetLoggerOptions() const { return BitsWord(QStringLiteral("LoggerOptions")); }
    // Reads the device's write protection (29254) and its measuring state (29257).
    void CheckProtectionCode();
    void CheckMeasClick();
    void StartMeasClick();

    // The meter's configuration as a file (ConfigurationTransfer.cpp): every page saved, or a
    // file's differences shown and, when the user agrees, written and read back.
    void SaveConfigurationClick();
    void LoadConfigurationClick();

    // The Modbus process inputs (ProcessInputs.cpp).
    void ReadAllProcessInputs();
    void ConfigMBProcessInputAllClick();
    void SetValueReadStatusClick();
    void ProcessInputsReloadClick();
    void InputsAsLoopClick();
    void TimerInputsIntervalTimer();
    // n = 1..4: the unit list follows the quantity.
    void ProcessInputMeas1Change(int n);
    void UseInputClick(int n);
    void ProcessInputValue1Enter();
    void ProcessInputValue1Exit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What a row showed after its last good read or write, and the words behind it: a row
    // that still shows this is written back with exactly these words.
    struct RowMemory {
        Words words;
        QString shown;
    };
    enum class RowResult { Done, Failed, Aborted };

    void BuildControls();
    QWidget* BuildPhysicalChannel();
    QWidget* BuildPipePage();
    QWidget* BuildFluidPage();
    QWidget* BuildTransducerPage();
    QWidget* BuildMeasuringPage();
    QWidget* BuildLinkingPage();
    QWidget* BuildCalculationChannel();
    QWidget* BuildGlobalSettings();
    QWidget* BuildProcessIO();
    QWidget* BuildModbusProcessInput();
    void WireSignals();
    void ShowPanel(QWidget* panel);
    void ShowConfiguration(QWidget* group);

    // The page transfer.
    void PageRead(PageId id);
    void PageWrite(PageId id);
    // A row at its register for the selected instance, with the control that shows it (none
    // for the rows that only have effects).
    struct Bound {
        const Row* row;
        int reg;
        QWidget* control;
        int instance;
    };
    Bound Bind(const Page& page, const Row& row, int instance) const;
    // Reads every row; false when the connection went meanwhile.
    bool ReadRows(const Page& page, int instance, QStringList& failed);
    RowResult ReadRow(const Bound& b);
    void DecodeRow(const Bound& b, const Words& words);
    void ClearRow(const Bound& b);
    // The row's words as its control shows them, or why it cannot be written.
    std::optional<Words> EncodeRow(const Bound& b, QString& problem) const;
    void Remember(const Bound& b, Words words);
    bool ShowsWhatWasRead(const Bound& b) const;
    QString RowName(const Bound& b) const;
    int Instance(PageId id) const;
    void LockPage(const Page& page, bool locked);
    // What the row's control shows, comparable with a remembered one; null for no control.
    QString Shown(const Bound& b) const;
    void SetBits(const QString& rowControl, std::uint16_t word);
    std::uint16_t BitsWord(const QString& rowControl) const;
    // The operation, or a note that another one is running.
    std::unique_ptr<ISubsetHost::Operation> Begin();
    // Every write request of a page, converted before any is sent; problems name the rows.
    struct WriteRequest {
        std::span<const Row> rows;
        Words words;
    };
    std::vector<WriteRequest> EncodePage(const Page& page, int instance, QStringList& problems) const;
    // False when the connection went meanwhile.
    bool Send(const Page& page, int instance, const WriteRequest& r, QStringList& failed);
    void ShowProtectionWarning();
    bool NotPresent(const Page& page, int instance) const;
    // The Modbus process inputs.
    void LockProcessInputs(bool locked);
    // Reads the four inputs; false when the connection went meanwhile.
    bool ReadInputs(QStringList& failed);
    // Sends the values of the used inputs and reads their status; false when a value was refused.
    bool SetValues();
    bool InputUsed(int n) const;
    QString InputName(const char* base, int n) const;
    void ApplyProtectionState(bool active);
    void ApplyMeasuringState(bool active);
    void ShowStates();
    // The configuration file's operations.
    Perform PerformRows();
    void LockSubset();
    // The user's answer to the differences: the protection code to unlock with (0 when the
    // meter is not protected), or nothing when cancelled or the code is no number.
    std::optional<std::uint32_t> ConfirmWrite(const Comparison& comparison);

    ISubsetHost& m_host;
    std::map<int, RowMemory> m_memory;  // by register, offsets included
    bool protection_active = false;
    bool measuring_active = false;

    QComboBox* ConfigurationSelect = nullptr;
    QPushButton* StartMeas = nullptr;
    QWidget* ConfigPhyChannel = nullptr;
    QWidget* ConfigVirtChannel = nullptr;
    QWidget* ConfigGlobalSettings = nullptr;
    QWidget* ConfigProcessIO = nullptr;
    QWidget* ModbusProcessInput = nullptr;
    QWidget* PanalPhyPipe = nullptr;
    QWidget* PanelPhyFluid = nullptr;
    QWidget* PanelPhyTransducer = nullptr;
    QWidget* PanelPhyMeasure = nullptr;
    QWidget* PanelPhyLinking = nullptr;
    QWidget* PanelProcessOutput = nullptr;
    QWidget* PanalProcessInput = nullptr;
    QComboBox* MeasuringValue = nullptr;
    QComboBox* CalculationMeasValue = nullptr;
    QComboBox* CurrentLoopMeasValue = nullptr;
    QComboBox* SelectCurrentLoop = nullptr;
    QComboBox* SelectProcessInput = nullptr;
    std::vector<QPushButton*> m_pageButtons;  // Get and Write of every page
    std::vector<QWidget*> m_processInputControls;  // enabled with the connection
    std::vector<QWidget*> m_processInputLock;      // disabled while an input operation runs
    std::vector<QLineEdit*> m_inputValues;
};

}  // namespace subset
