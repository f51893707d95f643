#pragma once

// The parameter subset group of the main window: the configuration selection, the pages with
// their controls, and the one page transfer that reads and writes any page by its register
// table. Handlers keep the names of the window they belong to; they stay thin.

#include "RegisterMap.h"
#include "SubsetHost.h"

#include <QGroupBox>
#include <QString>

#include <map>
#include <optional>
#include <vector>

class QComboBox;
class QLineEdit;
class QPushButton;
class QWidget;

namespace subset {

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
    void MeasuringValueChange();
    void CalculationMeasValueChange();
    // Reads the device's write protection (29254) and its measuring state (29257).
    void CheckProtectionCode();
    void CheckMeasClick();

private:
    // What a row showed after its last good read or write, and the words behind it: a row
    // that still shows this is written back with exactly these words.
    struct RowMemory {
        Words words;
        int shownIndex = -1;
        QString shownText;
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
    void ApplyProtectionState(bool active);
    void ApplyMeasuringState(bool active);
    void ShowStates();

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
    std::vector<QPushButton*> m_pageButtons;  // Get and Write of every page
    std::vector<QWidget*> m_processInputControls;
};

}  // namespace subset
