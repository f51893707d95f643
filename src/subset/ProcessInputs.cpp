// The Modbus process inputs: values fed into the meter once or in a loop, and the status it
// reports for each. Reads go row by row through the same page transfer as every page; the
// configuration and the values are written register by register as the meter expects them.

#include "SubsetPanel.h"

#include "CodeTables.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <climits>

namespace subset {

namespace {

constexpr int MessagePanel = 4;
const QString NoStatus = QStringLiteral("---");

enum InputRow { ChannelRow, QuantityRow, UnitRow, ValueRow, StatusRow };

QString Finished(const QString& activity, const QStringList& failed)
{
    return failed.isEmpty() ? activity + QStringLiteral(" Ready")
                            : activity + QStringLiteral(" failed: ") + failed.join(QStringLiteral(", "));
}

}  // namespace

QString TSubsetPanel::InputName(const char* base, int n) const { return QString::fromLatin1(base) + QString::number(n); }

bool TSubsetPanel::InputUsed(int n) const
{
    auto* use = findChild<QCheckBox*>(InputName("UseInput", n));
    return n == 1 || (use && use->isChecked());
}

void TSubsetPanel::LockProcessInputs(bool locked)
{
    const bool connected = m_host.Connected();
    const bool looping = findChild<QCheckBox*>(QStringLiteral("InputsAsLoop"))->isChecked();
    for (QWidget* w : m_processInputLock) {
        bool on = !locked;
        if (qobject_cast<QPushButton*>(w))
            on = on && connected;
        // The loop sends the configuration's values; changing the configuration waits for its end.
        if (w->objectName() == QLatin1String("ConfigMBProcessInputAll"))
            on = on && !looping;
        w->setEnabled(on);
    }
}

void TSubsetPanel::ProcessInputMeas1Change(int n)
{
    auto* quantity = findChild<QComboBox*>(InputName("ProcessInputMeas", n));
    auto* unit = findChild<QComboBox*>(InputName("ProcessInputUnit", n));
    if (!quantity || !unit)
        return;
    const Names units = ProcessInputUnitNames(quantity->currentIndex());
    // "Unused" keeps the list it had.
    if (units.empty())
        return;
    unit->clear();
    for (std::string_view u : units)
        unit->addItem(QString::fromLatin1(u.data(), static_cast<qsizetype>(u.size())));
    unit->setCurrentIndex(-1);
}

void TSubsetPanel::UseInputClick(int n)
{
    if (auto* group = findChild<QWidget*>(InputName("GroupBoxInput", n)))
        group->setVisible(InputUsed(n));
}

void TSubsetPanel::ReadAllProcessInputs()
{
    m_host.SetPanelText(MessagePanel, QStringLiteral("Getting Modbus Process Input Data ..."));
    m_host.ProcessEvents();
    QStringList failed;
    if (m_host.Connected()) {
        const std::unique_ptr<ISubsetHost::Operation> operation = Begin();
        if (!operation)
            return;
        if (!ReadInputs(failed))
            return;
    }
    m_host.SetPanelText(MessagePanel, Finished(QStringLiteral("Getting Modbus Process Input Data"), failed));
    m_host.EnableTimer3();
}

bool TSubsetPanel::ReadInputs(QStringList& failed)
{
    const Page& page = PageOf(PageId::ModbusProcessInput);
    LockProcessInputs(true);
    for (int instance = 0; instance < 4; ++instance) {
        for (const Row& row : page.rows) {
            const Bound b = Bind(page, row, instance);
            const RowResult result = ReadRow(b);
            if (result == RowResult::Aborted) {
                m_host.SetPanelText(MessagePanel, QStringLiteral("Getting Modbus Process Input Data aborted"));
                LockProcessInputs(false);
                return false;
            }
            if (result == RowResult::Failed)
                failed << RowName(b);
        }
    }
    LockProcessInputs(false);
    return true;
}

void TSubsetPanel::ConfigMBProcessInputAllClick()
{
    const std::unique_ptr<ISubsetHost::Operation> operation = Begin();
    if (!operation)
        return;
    const Page& page = PageOf(PageId::ModbusProcessInput);
    const QString activity = QStringLiteral("Configure Modbus Process Input Data");
    m_host.SetPanelText(MessagePanel, activity + QStringLiteral(" ..."));
    LockProcessInputs(true);
    QStringList failed;
    for (int n = 1; n <= 4; ++n) {
        if (!InputUsed(n))
            continue;
        const int instance = n - 1;
        auto* channel = qobject_cast<QComboBox*>(Bind(page, page.rows[ChannelRow], instance).control);
        auto* quantity = qobject_cast<QComboBox*>(Bind(page, page.rows[QuantityRow], instance).control);
        auto* unit = qobject_cast<QComboBox*>(Bind(page, page.rows[UnitRow], instance).control);
        // Without a quantity the input would be configured as something nobody chose.
        if (!quantity || quantity->currentIndex() < 0) {
            failed << RowName(Bind(page, page.rows[QuantityRow], instance)) + QStringLiteral(": nothing selected");
            continue;
        }
        const int channelCode = channel && channel->currentIndex() >= 0 ? ItemIndexToInputChannel(channel->currentIndex()) : 'A';
        const std::uint16_t words[] = {static_cast<std::uint16_t>(channelCode),
                                       static_cast<std::uint16_t>(quantity->currentIndex()),
                                       static_cast<std::uint16_t>(unit && unit->currentIndex() >= 0 ? unit->currentIndex() : 0)};
        for (int r = ChannelRow; r <= UnitRow; ++r) {
            const Bound b = Bind(page, page.rows[r], instance);
            const auto reg = static_cast<std::uint16_t>(b.reg);
            m_host.ProcessEvents();
            const modbus::Outcome o = m_host.Transfer(m_host.SerialLine() ? modbus::Request::WriteSingle(reg, words[r])
                                                                          : modbus::Request::WriteMultiple(reg, {words[r]}));
            if (o.aborted && !m_host.Connected()) {
                m_host.SetPanelText(MessagePanel, activity + QStringLiteral(" aborted"));
                return;
            }
            if (!o.Ok())
                failed << RowName(b);
        }
        const Bound status = Bind(page, page.rows[StatusRow], instance);
        const RowResult result = ReadRow(status);
        if (result == RowResult::Aborted) {
            m_host.SetPanelText(MessagePanel, activity + QStringLiteral(" aborted"));
            return;
        }
        if (result == RowResult::Failed)
            failed << RowName(status);
    }
    LockProcessInputs(false);
    m_host.SetPanelText(MessagePanel, Finished(activity, failed));
    m_host.EnableTimer3();
}

void TSubsetPanel::SetValueReadStatusClick()
{
    const std::unique_ptr<ISubsetHost::Operation> operation = Begin();
    if (operation)
        SetValues();
}

bool TSubsetPanel::SetValues()
{
    const Page& page = PageOf(PageId::ModbusProcessInput);
    // Every value is converted before the first is sent; one the meter cannot take stops them all.
    std::vector<std::pair<int, Words>> values;
    QStringList problems;
    for (int n = 1; n <= 4; ++n) {
        const Bound b = Bind(page, page.rows[ValueRow], n - 1);
        auto* edit = qobject_cast<QLineEdit*>(b.control);
        if (!InputUsed(n) || !edit || edit->text().trimmed().isEmpty())
            continue;
        const std::optional<double> v = ParseLocaleFloat(edit->text());
        std::optional<Words> words;
        if (!v)
            problems << RowName(b) + QStringLiteral(": '%1' is not a valid floating point value").arg(edit->text());
        else if (!(words = EncodeF32(*v)))
            problems << RowName(b) + QStringLiteral(": '%1' is out of range (single precision)").arg(edit->text());
        else
            values.emplace_back(n - 1, std::move(*words));
    }
    if (!problems.isEmpty()) {
        m_host.ShowError(QStringLiteral("Nothing was sent to the meter.\r\n\r\n") + problems.join(QStringLiteral("\r\n")));
        return false;
    }

    const QString activity = QStringLiteral("Set Modbus Process Input Data");
    m_host.SetPanelText(MessagePanel, activity + QStringLiteral(" ..."));
    LockProcessInputs(true);
    for (int n = 1; n <= 4; ++n)
        if (auto* status = findChild<QLineEdit*>(InputName("ProcessInputStatus", n)))
            status->setText(NoStatus);
    QStringList failed;
    for (const auto& [instance, words] : values) {
        const Bound value = Bind(page, page.rows[ValueRow], instance);
        m_host.ProcessEvents();
        const modbus::Outcome o = m_host.Transfer(modbus::Request::WriteMultiple(static_cast<std::uint16_t>(value.reg), words));
        if (o.aborted && !m_host.Connected()) {
            m_host.SetPanelText(MessagePanel, activity + QStringLiteral(" aborted"));
            return true;
        }
        if (!o.Ok())
            failed << RowName(value);
        const Bound status = Bind(page, page.rows[StatusRow], instance);
        const RowResult result = ReadRow(status);
        if (result == RowResult::Aborted) {
            m_host.SetPanelText(MessagePanel, activity + QStringLiteral(" aborted"));
            return true;
        }
        if (result == RowResult::Failed) {
            failed << RowName(status);
            qobject_cast<QLineEdit*>(status.control)->setText(NoStatus);
        }
    }
    LockProcessInputs(false);
    m_host.SetPanelText(MessagePanel, Finished(activity, failed));
    return true;
}

void TSubsetPanel::ProcessInputsReloadClick()
{
    const std::unique_ptr<ISubsetHost::Operation> operation = Begin();
    if (!operation)
        return;
    const QString activity = QStringLiteral("Reload Modbus Process Input Data");
    LockProcessInputs(true);
    m_host.SetPanelText(MessagePanel, activity + QStringLiteral(" ..."));
    for (int n = 1; n <= 4; ++n) {
        for (const char* list : {"ProcessInputChannel", "ProcessInputMeas", "ProcessInputUnit"})
            findChild<QComboBox*>(InputName(list, n))->setCurrentIndex(-1);
        for (const char* edit : {"ProcessInputValue", "ProcessInputStatus"})
            findChild<QLineEdit*>(InputName(edit, n))->clear();
    }
    QStringList failed;
    if (m_host.Connected() && !ReadInputs(failed))
        return;
    LockProcessInputs(false);
    m_host.SetPanelText(MessagePanel, Finished(activity, failed));
    m_host.EnableTimer3();
}

void TSubsetPanel::InputsAsLoopClick()
{
    auto* asLoop = findChild<QCheckBox*>(QStringLiteral("InputsAsLoop"));
    auto* configure = findChild<QPushButton*>(QStringLiteral("ConfigMBProcessInputAll"));
    QTimer& timer = m_host.InputsIntervalTimer();
    if (!asLoop->isChecked()) {
        timer.stop();
        configure->setEnabled(m_host.Connected());
        return;
    }
    // 0 would send without pause and flood the line.
    const QString text = findChild<QLineEdit*>(QStringLiteral("InputsTime"))->text();
    const std::optional<long long> ms = ParseInteger(text.toStdString());
    if (!ms || *ms < 1 || *ms > INT_MAX) {
        asLoop->setChecked(false);
        m_host.ShowError(QStringLiteral("'%1' is not a valid loop interval: give the milliseconds between two "
                                        "exchanges as a whole number from 1 to %2.")
                             .arg(text)
                             .arg(INT_MAX));
        return;
    }
    timer.setInterval(static_cast<int>(*ms));
    timer.start();
    configure->setEnabled(false);
}

void TSubsetPanel::TimerInputsIntervalTimer()
{
    QTimer& timer = m_host.InputsIntervalTimer();
    timer.stop();
    auto* asLoop = findChild<QCheckBox*>(QStringLiteral("InputsAsLoop"));
    if (m_host.Connected()) {
        const std::unique_ptr<ISubsetHost::Operation> operation = m_host.BeginOperation();
        // A page operation is running: the values follow once it has ended.
        if (!operation) {
            timer.start();
            return;
        }
        if (!SetValues()) {
            // A value the meter cannot take ends the loop instead of failing every interval.
            if (asLoop->isChecked()) {
                asLoop->setChecked(false);
                InputsAsLoopClick();
            }
            return;
        }
    }
    if (asLoop->isChecked())
        timer.start();
}

void TSubsetPanel::ProcessInputValue1Enter() { m_host.InputsIntervalTimer().stop(); }

void TSubsetPanel::ProcessInputValue1Exit() { m_host.InputsIntervalTimer().start(); }

bool TSubsetPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (std::find(m_inputValues.begin(), m_inputValues.end(), watched) != m_inputValues.end()) {
        // Nothing is sent while a value is being typed; leaving it or Enter sends it.
        switch (event->type()) {
        case QEvent::FocusIn: ProcessInputValue1Enter(); break;
        case QEvent::FocusOut: ProcessInputValue1Exit(); break;
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter)
                ProcessInputValue1Exit();
            break;
        }
        default: break;
        }
    }
    return QGroupBox::eventFilter(watched, event);
}

}  // namespace subset
