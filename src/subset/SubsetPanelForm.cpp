// The subset's controls: the configuration selection and every page, named as the window
// names them, and the wiring of their handlers.

#include "SubsetPanel.h"

#include "CodeTables.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <tuple>

namespace subset {

namespace {

QString Text(std::string_view s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

QStringList Items(Names names)
{
    QStringList list;
    for (std::string_view n : names)
        list << Text(n);
    return list;
}

template <typename W>
W* Named(W* w, const QString& name)
{
    w->setObjectName(name);
    return w;
}

QPushButton* Button(std::string_view name, const QString& caption)
{
    return Named(new QPushButton(caption), Text(name));
}

// Labelled controls in rows: caption, control, unit. A caption of two lines is given with "\n";
// the screen reader's name is the caption on one line, prefixed where captions repeat.
class FormGrid {
public:
    explicit FormGrid(QWidget* owner, QString prefix = {}) : grid_(new QGridLayout(owner)), prefix_(std::move(prefix)) {}

    // A row's list and unit come from the subset's table unless given.
    QComboBox* Combo(const QString& name, const QString& caption, const QStringList& items = {})
    {
        auto* box = Named(new QComboBox, name);
        box->addItems(items.isEmpty() ? Items(ItemsOf(name.toStdString())) : items);
        box->setCurrentIndex(-1);
        Place(box, caption, {});
        return box;
    }
    QComboBox* Combo(const char* name, const QString& caption, const QStringList& items = {})
    {
        return Combo(QString::fromLatin1(name), caption, items);
    }
    QLineEdit* Edit(const QString& name, const QString& caption, const QString& unit = {}, const QString& text = {})
    {
        auto* edit = Named(new QLineEdit(text), name);
        Place(edit, caption, unit.isEmpty() ? Text(UnitOf(name.toStdString())) : unit);
        return edit;
    }
    QLineEdit* Edit(const char* name, const QString& caption, const QString& unit = {}, const QString& text = {})
    {
        return Edit(QString::fromLatin1(name), caption, unit, text);
    }
    // A named unit label beside the control placed last.
    void UnitLabel(const char* name, const QString& text)
    {
        grid_->addWidget(Named(new QLabel(text), QString::fromLatin1(name)), row_ - 1, 2);
    }
    // Check boxes in a named holder of their own, under a caption.
    void Checks(const char* holder, const QString& caption, std::span<const Bit> bits)
    {
        auto* box = Named(new QWidget, QString::fromLatin1(holder));
        auto* column = new QVBoxLayout(box);
        column->setContentsMargins(0, 0, 0, 0);
        for (std::size_t i = 0; i < bits.size(); ++i)
            column->addWidget(Named(new QCheckBox(Text(bits[i].text)), Text(bits[i].control)));
        grid_->addWidget(new QLabel(caption), row_, 0, Qt::AlignTop);
        grid_->addWidget(box, row_++, 1);
    }
    void Add(QWidget* w, int columns = 3)
    {
        grid_->addWidget(w, row_++, 0, 1, columns);
    }
    QGridLayout* Grid() { return grid_; }

private:
    void Place(QWidget* control, const QString& caption, const QString& unit)
    {
        auto* label = new QLabel(caption);
        label->setBuddy(control);
        QString spoken = QString(caption).replace(QLatin1Char('\n'), QLatin1Char(' '));
        if (spoken.endsWith(QLatin1Char(':')))
            spoken.chop(1);
        if (!prefix_.isEmpty())
            spoken = prefix_ + QLatin1Char(' ') + spoken;
        control->setAccessibleName(spoken);
        grid_->addWidget(label, row_, 0);
        grid_->addWidget(control, row_, 1);
        if (!unit.isEmpty())
            grid_->addWidget(new QLabel(unit), row_, 2);
        ++row_;
    }

    QGridLayout* grid_;
    QString prefix_;
    int row_ = 0;
};

QGroupBox* Group(const QString& caption, const char* name = nullptr)
{
    auto* g = new QGroupBox(caption);
    if (name)
        g->setObjectName(QString::fromLatin1(name));
    return g;
}

// The page's Get and Write buttons in one row.
QHBoxLayout* PageButtons(const Page& page, const QString& get, const QString& write, std::vector<QPushButton*>& all)
{
    auto* row = new QHBoxLayout;
    for (auto [name, caption] : {std::pair{page.getButton, get}, std::pair{page.writeButton, write}}) {
        QPushButton* b = Button(name, caption);
        b->setEnabled(false);
        all.push_back(b);
        row->addWidget(b);
    }
    return row;
}

}  // namespace

TSubsetPanel::TSubsetPanel(ISubsetHost& host, QWidget* parent)
    : QGroupBox(QStringLiteral("Parameter Subset  "), parent), m_host(host)
{
    setObjectName(QStringLiteral("GroupSubset"));
    BuildControls();
    WireSignals();
}

void TSubsetPanel::BuildControls()
{
    auto* column = new QVBoxLayout(this);
    auto* selectRow = new QHBoxLayout;
    auto* label = Named(new QLabel(QStringLiteral("Select Configuration")), QStringLiteral("Label22"));
    selectRow->addWidget(label);
    ConfigurationSelect = Named(new QComboBox, QStringLiteral("ConfigurationSelect"));
    ConfigurationSelect->addItems({QStringLiteral("Channel A"), QStringLiteral("Channel B"), QStringLiteral("Channel Y"),
                                   QStringLiteral("Channel Z"), QStringLiteral("Global Settings"),
                                   QStringLiteral("Measuring Process  IO"), QStringLiteral("Modbus Process Input")});
    ConfigurationSelect->setAccessibleName(QStringLiteral("Select Configuration"));
    label->setBuddy(ConfigurationSelect);
    selectRow->addWidget(ConfigurationSelect, 1);
    StartMeas = Button("StartMeas", QStringLiteral("Start Measuring"));
    StartMeas->setEnabled(false);
    selectRow->addWidget(StartMeas);
    column->addLayout(selectRow);
    auto* fileRow = new QHBoxLayout;
    std::vector<QWidget*> order = {StartMeas};
    for (auto [name, caption, spoken] :
         {std::tuple{"ButtonSaveConfiguration", "Save configuration...", "Save configuration to a file"},
          std::tuple{"ButtonLoadConfiguration", "Load configuration...", "Load configuration from a file"}}) {
        QPushButton* b = Button(name, QString::fromLatin1(caption));
        b->setAccessibleName(QString::fromLatin1(spoken));
        b->setEnabled(false);
        m_pageButtons.push_back(b);
        fileRow->addWidget(b);
        order.push_back(b);
    }
    fileRow->addStretch(1);
    column->addLayout(fileRow);
    // Right after the selection row's own controls, before the pages below.
    for (std::size_t i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    column->addWidget(BuildPhysicalChannel());
    column->addWidget(BuildCalculationChannel());
    column->addWidget(BuildGlobalSettings());
    column->addWidget(BuildProcessIO());
    column->addWidget(BuildModbusProcessInput());
    column->addStretch(1);
    for (QWidget* g : {ConfigPhyChannel, ConfigVirtChannel, ConfigGlobalSettings, ConfigProcessIO, ModbusProcessInput})
        g->setVisible(false);
}

QWidget* TSubsetPanel::BuildPhysicalChannel()
{
    ConfigPhyChannel = Group(QStringLiteral("Physical Channel  "), "ConfigPhyChannel");
    auto* column = new QVBoxLayout(ConfigPhyChannel);
    auto* buttons = new QHBoxLayout;
    for (auto [name, caption] : {std::pair{"ShowPipe", "Pipe"}, std::pair{"ShowFluid", "Fluid"},
                                 std::pair{"ShowTransducer", "Transducer"}, std::pair{"ShowMeasure", "Measure"},
                                 std::pair{"ShowLinking", "Linking"}})
        buttons->addWidget(Button(name, QString::fromLatin1(caption)));
    column->addLayout(buttons);
    PanalPhyPipe = BuildPipePage();
    PanelPhyFluid = BuildFluidPage();
    PanelPhyTransducer = BuildTransducerPage();
    PanelPhyMeasure = BuildMeasuringPage();
    PanelPhyLinking = BuildLinkingPage();
    for (QWidget* p : {PanalPhyPipe, PanelPhyFluid, PanelPhyTransducer, PanelPhyMeasure, PanelPhyLinking}) {
        column->addWidget(p);
        p->setVisible(p == PanalPhyPipe);
    }
    return ConfigPhyChannel;
}

QWidget* TSubsetPanel::BuildPipePage()
{
    auto* page = Named(new QWidget, QStringLiteral("PanalPhyPipe"));
    auto* column = new QVBoxLayout(page);
    auto* enables = new QWidget;
    FormGrid inUse(enables);
    inUse.Combo("CoatingEnabled", QStringLiteral("Coating in Use"));
    inUse.Combo("WallEnabled", QStringLiteral("Wall in Use"));
    inUse.Combo("Lining1Enabled", QStringLiteral("Lining 1 in Use"));
    inUse.Combo("Lining2Enabled", QStringLiteral("Lining 2 in Use"));

    const QLocale locale;
    auto* pipe = Group(QStringLiteral("Pipe  "));
    FormGrid pipeForm(pipe, QStringLiteral("Pipe"));
    pipeForm.Edit("OuterDiameter", QStringLiteral("Outer Diameter"), {}, locale.toString(62.0, 'f', 1));
    pipeForm.Combo("UseUserRoughness", QStringLiteral("Use User\nRoughness"));
    pipeForm.Edit("UserRougness", QStringLiteral("Roughness"), {}, locale.toString(3.0, 'f', 1));

    auto* layers = new QGridLayout;
    layers->addWidget(enables, 0, 0);
    layers->addWidget(pipe, 0, 1);
    int n = 2;
    for (const char* layer : {"Coating", "Wall", "Lining1", "Lining2"}) {
        QString caption = QString::fromLatin1(layer);
        if (caption.startsWith(QLatin1String("Lining")))
            caption.insert(6, QLatin1Char(' '));
        auto* g = Group(caption + QStringLiteral("  "));
        FormGrid form(g, caption);
        const QByteArray base(layer);
        form.Combo((base + "Material").constData(), QStringLiteral("Material"), Items(MaterialNames));
        form.Edit((base + "Thickness").constData(), QStringLiteral("Thickness"), {}, QStringLiteral("0"));
        form.Edit((base + "Soundspeed").constData(), QStringLiteral("Soundspeed"), {}, QStringLiteral("5930"));
        layers->addWidget(g, n / 2, n % 2);
        ++n;
    }
    column->addLayout(layers);
    column->addLayout(PageButtons(PageOf(PageId::Pipe), QStringLiteral("Get Pipe Data"), QStringLiteral("Write Pipe Data"),
                                  m_pageButtons));
    return page;
}

QWidget* TSubsetPanel::BuildFluidPage()
{
    auto* page = Named(new QWidget, QStringLiteral("PanelPhyFluid"));
    auto* column = new QVBoxLayout(page);
    auto* top = new QWidget;
    FormGrid(top).Combo("Fluid", QStringLiteral("Fluid"), Items(FluidNames));
    column->addWidget(top);
    auto* other = Group(QStringLiteral("Other Fluid Settings  "));
    FormGrid form(other, QStringLiteral("Fluid"));
    form.Edit("FluidSoundspeedMin", QStringLiteral("Soundspeed\nMin"));
    form.Edit("FluidSoundspeedMax", QStringLiteral("Soundspeed\nMax"));
    form.Edit("FluidDensity", QStringLiteral("Density"));
    form.Edit("FluidViscosity", QStringLiteral("Viscosity"));
    form.Edit("FluidGasCompressFactor", QStringLiteral("Gas Compress\nFactor"));
    form.Edit("FluidTemperature", QStringLiteral("Temperature"));
    form.Edit("FluidTempeatureAux", QStringLiteral("Temerature Aux"));
    form.Edit("FluidPressure", QStringLiteral("Pressure"));
    form.Edit("FluidPressureAux", QStringLiteral("Pressure Aux"));
    column->addWidget(other);
    column->addLayout(PageButtons(PageOf(PageId::Fluid), QStringLiteral("Get Fluid Data"),
                                  QStringLiteral("Write Fluid Data"), m_pageButtons));
    column->addStretch(1);
    return page;
}

QWidget* TSubsetPanel::BuildTransducerPage()
{
    auto* page = Named(new QWidget, QStringLiteral("PanelPhyTransducer"));
    auto* column = new QVBoxLayout(page);
    auto* settings = Group(QStringLiteral("Transducer Settings  "));
    FormGrid form(settings);
    form.Combo("SelectTransducer", QStringLiteral("Transducer\nto Use"));
    form.Edit("TransducerSoundpathNumber", QStringLiteral("Soundpath\nNumber"));
    form.Edit("TransducerAddCable", QStringLiteral("Add Cable\nLenght"));
    form.Edit("TransducerDistance", QStringLiteral("Transducer\nDistance"));
    form.Edit("TransducerType", QStringLiteral("Transducer\nType"));
    auto* other = Group(QStringLiteral("Other Transducer Settings  "));
    FormGrid otherForm(other);
    otherForm.Edit("TransducerPiezoAngle", QStringLiteral("Piezo Angle"));
    otherForm.Edit("TransducerSoundspeedMin", QStringLiteral("Soundspeed Min"));
    otherForm.Edit("TransducerSoundspeedMax", QStringLiteral("Soundspeed Max"));
    otherForm.Edit("TransducerSoundpathLength", QStringLiteral("Soundpath\nLength"));
    otherForm.Edit("TransducerEdgeOffset", QStringLiteral("Edge Offset"));
    otherForm.Edit("TransducerTolerance", QStringLiteral("Tolerance"));
    column->addWidget(settings);
    column->addWidget(other);
    column->addLayout(PageButtons(PageOf(PageId::Transducer), QStringLiteral("Get Transducer Data"),
                                  QStringLiteral("Write Transducer Data"), m_pageButtons));
    column->addStretch(1);
    return page;
}

QWidget* TSubsetPanel::BuildMeasuringPage()
{
    auto* page = Named(new QWidget, QStringLiteral("PanelPhyMeasure"));
    auto* column = new QVBoxLayout(page);
    auto* settings = Group(QStringLiteral("Measuring Settings  "));
    FormGrid form(settings);
    form.Combo("MeasuringActivate", QStringLiteral("Activate\nMeasuring"));
    MeasuringValue = form.Combo("MeasuringValue", QStringLiteral("Measuring\nValue"));
    form.Combo("MeasuringUnit", QStringLiteral("Measuring Unit"));
    form.Edit("MeasuringDamping", QStringLiteral("Damping"));
    form.Edit("MeasuringErrorDelay", QStringLiteral("Proc Error\nDelay"));
    auto* options = Group(QStringLiteral("Options  "));
    FormGrid optionsForm(options);
    optionsForm.Combo("MeasuringTrdAtSupply", QStringLiteral("Transducer\nat Supply"));
    optionsForm.Combo("MeasuringCoolingSystem", QStringLiteral("Is Colling\nSystem"));
    optionsForm.Combo("MeasuringKeepSign", QStringLiteral("Keep Sign"));
    optionsForm.Combo("MeasuringGasMeasure", QStringLiteral("Gas Measuring"));
    auto* cutOff = Group(QStringLiteral("Cut Off Flow  "));
    FormGrid cutOffForm(cutOff);
    cutOffForm.Combo("MeasuringLowCutEnabled", QStringLiteral("Cut off Flow"));
    cutOffForm.Edit("MeasuringLowCutPos", QStringLiteral("Low Cut Pos."));
    cutOffForm.Edit("MeasuringLowCutNeg", QStringLiteral("Low Cut Neg."));
    column->addWidget(settings);
    column->addWidget(options);
    column->addWidget(cutOff);
    column->addLayout(PageButtons(PageOf(PageId::Measuring), QStringLiteral("Get Measuring Data"),
                                  QStringLiteral("Write Measuring Data"), m_pageButtons));
    return page;
}

QWidget* TSubsetPanel::BuildLinkingPage()
{
    auto* page = Named(new QWidget, QStringLiteral("PanelPhyLinking"));
    auto* column = new QVBoxLayout(page);
    auto* settings = Group(QStringLiteral("Linking Settings  "));
    FormGrid form(settings, QStringLiteral("Linking"));
    form.Combo("LinkingTemperature", QStringLiteral("Temperatrue"), Items(LinkageNames));
    form.Combo("LinkingTemperatureAux", QStringLiteral("Temperature\nAux."), Items(LinkageNames));
    column->addWidget(settings);
    column->addLayout(PageButtons(PageOf(PageId::Linking), QStringLiteral("Get Linking Data"),
                                  QStringLiteral("Write Linking Data"), m_pageButtons));
    column->addStretch(1);
    return page;
}

QWidget* TSubsetPanel::BuildCalculationChannel()
{
    ConfigVirtChannel = Group(QStringLiteral("Calculation Channel  "), "ConfigVirtChannel");
    auto* column = new QVBoxLayout(ConfigVirtChannel);
    auto* channel = Group(QString(), "ChannelConfguration");
    FormGrid channelForm(channel, QStringLiteral("Calculation"));
    channelForm.Combo("CalulationChannelActiv", QStringLiteral("Activate\nCalculation"));
    channelForm.Combo("CalculationMethod", QStringLiteral("Calculation"));
    channelForm.Combo("CalculationInput1", QStringLiteral("Input 1"));
    channelForm.Combo("CalculationInput2", QStringLiteral("Input 2"));
    auto* values = Group(QString(), "GroupBox7");
    FormGrid form(values, QStringLiteral("Calculation"));
    CalculationMeasValue = form.Combo("CalculationMeasValue", QStringLiteral("Measuring\nValue"));
    form.Combo("CalculationMeasUnit", QStringLiteral("Measuring\nUnit"));
    form.Edit("CalculationDamping", QStringLiteral("Damping"), {}, QStringLiteral("0"));
    form.Edit("CalculationErrorDelay", QStringLiteral("Proc Error\nDelay"), {}, QStringLiteral("0"));
    auto* lowCut = Group(QStringLiteral("Low Cut  "));
    FormGrid lowCutForm(lowCut, QStringLiteral("Low Cut"));
    lowCutForm.Edit("CalculationLowCutPositive", QStringLiteral("Positive"), {}, QStringLiteral("0"));
    lowCutForm.Edit("CalculationLowCutNegative", QStringLiteral("Negative"), {}, QStringLiteral("0"));
    column->addWidget(channel);
    column->addWidget(values);
    column->addWidget(lowCut);
    column->addLayout(PageButtons(PageOf(PageId::Calculation), QStringLiteral("Get Calculation Channel"),
                                  QStringLiteral("Write Calculation Channel"), m_pageButtons));
    return ConfigVirtChannel;
}

QWidget* TSubsetPanel::BuildGlobalSettings()
{
    ConfigGlobalSettings = Group(QStringLiteral("Global Settings  "), "ConfigGlobalSettings");
    auto* column = new QVBoxLayout(ConfigGlobalSettings);
    auto* logger = Group(QStringLiteral("Data Logger Settings  "));
    FormGrid loggerForm(logger, QStringLiteral("Logger"));
    loggerForm.Checks("LoggerChannel", QStringLiteral("Logger\nChannel"), LoggerChannelBits);
    loggerForm.Edit("LoggerRate", QStringLiteral("Logger Rate"), {}, QStringLiteral("10"));
    loggerForm.Checks("LoggerOptions", QStringLiteral("Logger\nOptions"), LoggerOptionBits);
    auto* protection = Group(QStringLiteral("Write Protection Code  "));
    FormGrid protectionForm(protection);
    protectionForm.Combo("ProtectionEnable", QStringLiteral("Activate\nProtection"));
    QLineEdit* code = protectionForm.Edit("ProtectionCode", QStringLiteral("Protection\nCode"),
                                          QStringLiteral("[xxxxxx]"), QStringLiteral("0"));
    code->setMaxLength(6);
    column->addWidget(logger);
    column->addWidget(protection);
    column->addLayout(PageButtons(PageOf(PageId::Global), QStringLiteral("Get Global Settings"),
                                  QStringLiteral("Write Global Settings"), m_pageButtons));
    column->addStretch(1);
    return ConfigGlobalSettings;
}

QWidget* TSubsetPanel::BuildProcessIO()
{
    ConfigProcessIO = Group(QStringLiteral("Measuring Process IO"), "ConfigProcessIO");
    auto* column = new QVBoxLayout(ConfigProcessIO);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Button("ShowProcessOutput", QStringLiteral(" Output")));
    buttons->addWidget(Button("ShowProcessInput", QStringLiteral("Input")));
    column->addLayout(buttons);

    PanelProcessOutput = Named(new QWidget, QStringLiteral("PanelProcessOutput"));
    auto* output = new QVBoxLayout(PanelProcessOutput);
    auto* select = new QWidget;
    SelectCurrentLoop = FormGrid(select).Combo("SelectCurrentLoop", QStringLiteral("Select\nProcess Output"),
                                               {QStringLiteral("Current Loop 1"), QStringLiteral("Current Loop 2")});
    SelectCurrentLoop->setCurrentIndex(0);
    auto* value = Group(QStringLiteral("Measuring Value  "));
    FormGrid valueForm(value, QStringLiteral("Current Loop"));
    valueForm.Combo("CurrentLoopActivate", QStringLiteral("Activate\nOutput"));
    valueForm.Combo("CurrentLoopChannel", QStringLiteral("Channel"), Items(OutputChannelNames));
    CurrentLoopMeasValue = valueForm.Combo("CurrentLoopMeasValue", QStringLiteral("Measuring\nValue"),
                                           Items(OutputQuantityNames));
    valueForm.Combo("CurrentLoopValueStatus", QStringLiteral("Value / Status"));
    auto* scaling = Group(QStringLiteral("Source Scaling  "));
    FormGrid form(scaling, QStringLiteral("Current Loop"));
    form.Combo("CurrentLoopAbsolute", QStringLiteral("Absolute of\nSource Value"));
    form.Edit("CurrentLoopLowScale", QStringLiteral("Low Scale\nValue"));
    form.UnitLabel("Label136", QStringLiteral("m\u00B3/s"));
    form.Edit("CurrentLoopFullScale", QStringLiteral("Full Scale\nValue"));
    form.UnitLabel("Label139", QStringLiteral("m\u00B3/s"));
    form.Combo("CurrentLoopOnError", QStringLiteral("On Error"));
    auto* range = Group(QStringLiteral("Output Range  "));
    FormGrid rangeForm(range, QStringLiteral("Current Loop"));
    rangeForm.Edit("CurrentLoopMinValue", QStringLiteral("Min Value"));
    rangeForm.Edit("CurrentLoopMaxValue", QStringLiteral("Max Value"));
    rangeForm.Edit("CurrentLoopErrorValue", QStringLiteral("Error Value"));
    for (QWidget* w : {select, static_cast<QWidget*>(value), static_cast<QWidget*>(scaling), static_cast<QWidget*>(range)})
        output->addWidget(w);
    output->addLayout(PageButtons(PageOf(PageId::CurrentLoop), QStringLiteral("Get Process Output Data"),
                                  QStringLiteral("Write Process Output Data"), m_pageButtons));
    column->addWidget(PanelProcessOutput);

    PanalProcessInput = Named(new QWidget, QStringLiteral("PanalProcessInput"));
    auto* input = new QVBoxLayout(PanalProcessInput);
    auto* selectInput = new QWidget;
    SelectProcessInput = FormGrid(selectInput).Combo("SelectProcessInput", QStringLiteral("Select\nProcess Input"),
                                                     {QStringLiteral("Temperature T1"), QStringLiteral("Temperature T2")});
    SelectProcessInput->setCurrentIndex(0);
    auto* temperature = Group(QStringLiteral("Configuration Temperature Input   "));
    FormGrid temperatureForm(temperature, QStringLiteral("Temperature"));
    temperatureForm.Combo("ProcessInputActivate", QStringLiteral("Activate\nInput"));
    temperatureForm.Combo("ProcessInputSensor", QStringLiteral("Connected\nSensor"));
    input->addWidget(selectInput);
    input->addWidget(temperature);
    input->addLayout(PageButtons(PageOf(PageId::TemperatureInput), QStringLiteral("Get Process Input Data"),
                                 QStringLiteral("Write Process Input Data"), m_pageButtons));
    input->addStretch(1);
    column->addWidget(PanalProcessInput);
    PanalProcessInput->setVisible(false);
    return ConfigProcessIO;
}

QWidget* TSubsetPanel::BuildModbusProcessInput()
{
    ModbusProcessInput = Group(QStringLiteral("Modbus - Process Input  "), "ModbusProcessInput");
    auto* grid = new QGridLayout(ModbusProcessInput);
    std::vector<QWidget*> uses;
    for (int n = 1; n <= 4; ++n) {
        const QString digit = QString::number(n);
        auto* use = Named(new QCheckBox(QStringLiteral("Use Process Input  ") + digit), QStringLiteral("UseInput") + digit);
        auto* group = Group(QStringLiteral("Process Input %1  ").arg(n));
        group->setObjectName(QStringLiteral("GroupBoxInput") + digit);
        FormGrid form(group, QStringLiteral("Input ") + digit);
        form.Combo(QStringLiteral("ProcessInputChannel") + digit, QStringLiteral("Channel:"), Items(InputChannelNames));
        form.Combo(QStringLiteral("ProcessInputMeas") + digit, QStringLiteral("Measuring\nQuantity:"),
                   Items(ProcessQuantityNames));
        form.Combo(QStringLiteral("ProcessInputUnit") + digit, QStringLiteral("Unit:"), {});
        QLineEdit* value = form.Edit(QStringLiteral("ProcessInputValue") + digit, QStringLiteral("Input Value:"));
        value->installEventFilter(this);
        m_inputValues.push_back(value);
        form.Edit(QStringLiteral("ProcessInputStatus") + digit, QStringLiteral("Status:"))->setReadOnly(true);
        if (n == 1) {
            use->setChecked(true);
            use->setEnabled(false);
        } else {
            group->setVisible(false);
            uses.push_back(use);
        }
        grid->addWidget(use, 0, n - 1);
        grid->addWidget(group, 1, n - 1);
        m_processInputLock.push_back(group);
    }
    auto* configure = Button("ConfigMBProcessInputAll", QStringLiteral("Configure All"));
    auto* setValue = Button("SetValueReadStatus", QStringLiteral("Set Value / Read Status"));
    auto* reload = Button("ProcessInputsReload", QStringLiteral("Reload"));
    auto* asLoop = Named(new QCheckBox(QStringLiteral("As Loop (Input Value+Status)")), QStringLiteral("InputsAsLoop"));
    auto* interval = Named(new QLineEdit(QStringLiteral("1000")), QStringLiteral("InputsTime"));
    interval->setAccessibleName(QStringLiteral("Loop interval in ms"));
    interval->setMaximumWidth(60);
    grid->addWidget(asLoop, 2, 0);
    auto* intervalRow = new QHBoxLayout;
    intervalRow->addWidget(interval);
    intervalRow->addWidget(new QLabel(QStringLiteral("ms")));
    intervalRow->addStretch(1);
    grid->addLayout(intervalRow, 2, 1);
    grid->addWidget(configure, 3, 0);
    grid->addWidget(setValue, 3, 1, 1, 2);
    grid->addWidget(reload, 3, 3);
    m_processInputControls = {configure, setValue, reload, asLoop};
    for (QWidget* w : m_processInputControls)
        w->setEnabled(false);
    m_processInputLock.insert(m_processInputLock.end(), {setValue, configure, StartMeas, reload});
    return ModbusProcessInput;
}

void TSubsetPanel::WireSignals()
{
    // User choices only (activated): a box set by a read does not run its handler.
    connect(ConfigurationSelect, &QComboBox::activated, this, &TSubsetPanel::ConfigurationSelectChange);
    connect(MeasuringValue, &QComboBox::activated, this, &TSubsetPanel::MeasuringValueChange);
    connect(CalculationMeasValue, &QComboBox::activated, this, &TSubsetPanel::CalculationMeasValueChange);
    connect(CurrentLoopMeasValue, &QComboBox::activated, this, &TSubsetPanel::CurrentLoopMeasValueChange);
    for (int n = 1; n <= 4; ++n) {
        connect(findChild<QComboBox*>(InputName("ProcessInputMeas", n)), &QComboBox::activated, this,
                [this, n] { ProcessInputMeas1Change(n); });
        if (n > 1)
            connect(findChild<QCheckBox*>(InputName("UseInput", n)), &QCheckBox::clicked, this, [this, n] { UseInputClick(n); });
    }
    connect(findChild<QCheckBox*>(QStringLiteral("InputsAsLoop")), &QCheckBox::clicked, this, &TSubsetPanel::InputsAsLoopClick);
    connect(&m_host.InputsIntervalTimer(), &QTimer::timeout, this, &TSubsetPanel::TimerInputsIntervalTimer);
    const std::pair<const char*, void (TSubsetPanel::*)()> clicks[] = {
        {"ShowPipe", &TSubsetPanel::ShowPipeClick},
        {"ShowFluid", &TSubsetPanel::ShowFluidClick},
        {"ShowTransducer", &TSubsetPanel::ShowTransducerClick},
        {"ShowMeasure", &TSubsetPanel::ShowMeasureClick},
        {"ShowLinking", &TSubsetPanel::ShowLinkingClick},
        {"ShowProcessOutput", &TSubsetPanel::ShowProcessOutputClick},
        {"ShowProcessInput", &TSubsetPanel::ShowProcessInputClick},
        {"GetDataPipe", &TSubsetPanel::GetDataPipeClick},
        {"WritePipeData", &TSubsetPanel::WritePipeDataClick},
        {"GetFluidData", &TSubsetPanel::GetFluidDataClick},
        {"WriteFluidData", &TSubsetPanel::WriteFluidDataClick},
        {"GetTransducerData", &TSubsetPanel::GetTransducerDataClick},
        {"WriteTransducerData", &TSubsetPanel::WriteTransducerDataClick},
        {"GetMeasuringData", &TSubsetPanel::GetMeasuringDataClick},
        {"WriteMeasuringData", &TSubsetPanel::WriteMeasuringDataClick},
        {"GetLinkingData", &TSubsetPanel::GetLinkingDataClick},
        {"WriteLinkingData", &TSubsetPanel::WriteLinkingDataClick},
        {"GetCalcChannel", &TSubsetPanel::GetCalcChannelClick},
        {"WriteCalcChannel", &TSubsetPanel::WriteCalcChannelClick},
        {"GetGlobalSettings", &TSubsetPanel::GetGlobalSettingsClick},
        {"WriteGlobalSettings", &TSubsetPanel::WriteGlobalSettingsClick},
        {"GetProcessOutputData", &TSubsetPanel::GetProcessOutputDataClick},
        {"WriteProcessOutputData", &TSubsetPanel::WriteProcessOutputDataClick},
        {"GetProcessInputData", &TSubsetPanel::GetProcessInputDataClick},
        {"WriteProcessInputData", &TSubsetPanel::WriteProcessInputDataClick},
        {"StartMeas", &TSubsetPanel::StartMeasClick},
        {"ButtonSaveConfiguration", &TSubsetPanel::SaveConfigurationClick},
        {"ButtonLoadConfiguration", &TSubsetPanel::LoadConfigurationClick},
        {"ConfigMBProcessInputAll", &TSubsetPanel::ConfigMBProcessInputAllClick},
        {"SetValueReadStatus", &TSubsetPanel::SetValueReadStatusClick},
        {"ProcessInputsReload", &TSubsetPanel::ProcessInputsReloadClick},
    };
    for (const auto& [name, handler] : clicks)
        connect(findChild<QPushButton*>(QString::fromLatin1(name)), &QPushButton::clicked, this, handler);
}

void TSubsetPanel::SetConnected(bool on)
{
    // A page cut short by a disconnection left the selection locked; a new connection frees it.
    ConfigurationSelect->setEnabled(true);
    StartMeas->setEnabled(on);
    for (QPushButton* b : m_pageButtons)
        b->setEnabled(on);
    for (QWidget* w : m_processInputControls)
        w->setEnabled(on);
    // The window stops the loop's timer with the connection; the box says so too.
    if (!on)
        findChild<QCheckBox*>(QStringLiteral("InputsAsLoop"))->setChecked(false);
}

void TSubsetPanel::EnablePageControls()
{
    ConfigurationSelect->setEnabled(true);
    StartMeas->setEnabled(true);
    for (QPushButton* b : m_pageButtons)
        b->setEnabled(true);
}

void TSubsetPanel::ShowFirstConfiguration()
{
    ConfigPhyChannel->setVisible(true);
    ConfigurationSelect->setCurrentIndex(0);
}

void TSubsetPanel::ShowConfiguration(QWidget* group)
{
    for (QWidget* g : {ConfigPhyChannel, ConfigVirtChannel, ConfigGlobalSettings, ConfigProcessIO, ModbusProcessInput})
        g->setVisible(g == group);
}

void TSubsetPanel::ConfigurationSelectChange()
{
    switch (ConfigurationSelect->currentIndex()) {
    case 0:
    case 1: ShowConfiguration(ConfigPhyChannel); break;
    case 2:
    case 3:
        ShowConfiguration(ConfigVirtChannel);
        SetSubsetCalcChannelInputValues(1);
        SetSubsetCalcChannelInputValues(2);
        break;
    case 4: ShowConfiguration(ConfigGlobalSettings); break;
    case 5:
        ShowConfiguration(ConfigProcessIO);
        SelectCurrentLoop->setCurrentIndex(0);
        break;
    case 6:
        ShowConfiguration(ModbusProcessInput);
        ReadAllProcessInputs();
        break;
    default: break;
    }
}

void TSubsetPanel::ShowPanel(QWidget* panel)
{
    for (QWidget* p : {PanalPhyPipe, PanelPhyFluid, PanelPhyTransducer, PanelPhyMeasure, PanelPhyLinking})
        p->setVisible(p == panel);
}

void TSubsetPanel::ShowPipeClick() { ShowPanel(PanalPhyPipe); }
void TSubsetPanel::ShowFluidClick() { ShowPanel(PanelPhyFluid); }
void TSubsetPanel::ShowTransducerClick() { ShowPanel(PanelPhyTransducer); }
void TSubsetPanel::ShowMeasureClick() { ShowPanel(PanelPhyMeasure); }
void TSubsetPanel::ShowLinkingClick() { ShowPanel(PanelPhyLinking); }

void TSubsetPanel::ShowProcessOutputClick()
{
    PanelProcessOutput->setVisible(true);
    PanalProcessInput->setVisible(false);
    SelectCurrentLoop->setCurrentIndex(0);
}

void TSubsetPanel::ShowProcessInputClick()
{
    PanalProcessInput->setVisible(true);
    PanelProcessOutput->setVisible(false);
    SelectProcessInput->setCurrentIndex(0);
}

void TSubsetPanel::CurrentLoopMeasValueChange()
{
    m_host.SetCurrentLoopMeasValueUnit(ItemIndexToOutputMeasValue(CurrentLoopMeasValue->currentIndex()));
}

void TSubsetPanel::SetSubsetCalcChannelInputValues(int input)
{
    const int configuration = ConfigurationSelect->currentIndex();
    if (configuration != 2 && configuration != 3)
        return;
    auto* box = findChild<QComboBox*>(QStringLiteral("CalculationInput%1").arg(input));
    if (!box)
        return;
    box->clear();
    box->addItems(Items(CalcInputNames(configuration == 2 ? 'Z' : 'Y')));
    box->setCurrentIndex(-1);
}

void TSubsetPanel::MeasuringValueChange()
{
    m_host.SetMeasUnitID(QStringLiteral("MeasuringValue"), QStringLiteral("MeasuringUnit"));
    if (auto* unit = findChild<QComboBox*>(QStringLiteral("MeasuringUnit")); unit && unit->count() > 0)
        unit->setCurrentIndex(0);
}

void TSubsetPanel::CalculationMeasValueChange()
{
    m_host.SetMeasUnitID(QStringLiteral("CalculationMeasValue"), QStringLiteral("CalculationMeasUnit"));
    if (auto* unit = findChild<QComboBox*>(QStringLiteral("CalculationMeasUnit")); unit && unit->count() > 0)
        unit->setCurrentIndex(0);
}

}  // namespace subset
