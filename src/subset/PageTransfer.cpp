// The one page transfer: a page's Get reads its rows one request each, in table order, at the
// selected instance's registers; its Write checks the device's protection, converts every row
// first and only then sends them. Each row keeps the words it last read or wrote, and a row
// whose control still shows them is written back with exactly those words, so a value the
// lists or the three decimals cannot show is never altered by a write of its page.

#include "SubsetPanel.h"

#include "CodeTables.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>

#include <algorithm>

namespace subset {

namespace {

constexpr int MessagePanel = 4;
constexpr int MeasuringPanel = 2;
constexpr int MeasuringStateRegister = 29257;
const QString ProtectionWarningCaption = QStringLiteral("Warning ...");
const QString ProtectionWarningText = QStringLiteral("Protection Code Activ\r\n\r\nUse Global Settings to unlock.");

QString Text(std::string_view s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

// "Getting Pipe Data ..." -> "Getting Pipe Data"
QString Activity(std::string_view startText)
{
    QString t = Text(startText);
    if (t.endsWith(QLatin1String(" ...")))
        t.chop(4);
    return t;
}

QLocale DisplayLocale()
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale;
}

QString FloatText(float v, int decimals = 3)
{
    return DisplayLocale().toString(RoundSignificant(static_cast<double>(v), 7), 'f', decimals);
}


int PositionOfCode(CodeTable table, int code, int instance)
{
    switch (table) {
    case CodeTable::Material: return MaterialValueToItemIndex(code);
    case CodeTable::Fluid: return FluidValueToItemIndex(code);
    case CodeTable::OutputChannel: return OutputChannelToItemIndex(code);
    case CodeTable::CalcInput: return CalcInputToInteger(code, instance == 0 ? 'Z' : 'Y');
    case CodeTable::Linkage: return LinkageIDToItemIndex(code);
    case CodeTable::InputChannel: return InputChannelToItemIndex(code);
    case CodeTable::OutputQuantity:
    case CodeTable::InputStatus:
    case CodeTable::None: break;
    }
    return -1;
}

int CodeOfPosition(CodeTable table, const QComboBox& box)
{
    const int position = box.currentIndex();
    switch (table) {
    case CodeTable::Material: return MaterialItemIndexToValue(position);
    case CodeTable::Fluid: return FluidItemIndexToValue(position);
    case CodeTable::OutputChannel: return ItemIndexToOutputChannel(position);
    case CodeTable::CalcInput: return position < 0 ? -1 : InputItemIndexToChar(box.currentText().toStdString());
    case CodeTable::Linkage: return ItemIndexToLinkageID(position);
    case CodeTable::InputChannel: return ItemIndexToInputChannel(position);
    case CodeTable::OutputQuantity:
    case CodeTable::InputStatus:
    case CodeTable::None: break;
    }
    return -1;
}

}  // namespace

std::optional<double> ParseLocaleFloat(const QString& text)
{
    bool ok = false;
    const double v = QLocale().toDouble(text.trimmed(), &ok);
    if (ok)
        return v;
    // A point typed where the locale has a comma still means a decimal point.
    const double c = QLocale::c().toDouble(text.trimmed(), &ok);
    return ok ? std::optional<double>(c) : std::nullopt;
}

int TSubsetPanel::Instance(PageId id) const
{
    const int configuration = ConfigurationSelect->currentIndex();
    switch (id) {
    case PageId::Pipe:
    case PageId::Fluid:
    case PageId::Transducer:
    case PageId::Measuring:
    case PageId::Linking: return configuration == 1 ? 1 : 0;
    case PageId::Calculation: return configuration == 3 ? 1 : 0;
    case PageId::CurrentLoop:
        if (auto* loop = findChild<QComboBox*>(QStringLiteral("SelectCurrentLoop")))
            return loop->currentIndex() == 1 ? 1 : 0;
        return 0;
    case PageId::TemperatureInput:
        if (auto* input = findChild<QComboBox*>(QStringLiteral("SelectProcessInput")))
            return input->currentIndex() == 1 ? 1 : 0;
        return 0;
    case PageId::Global:
    case PageId::ModbusProcessInput: return 0;
    }
    return 0;
}

TSubsetPanel::Bound TSubsetPanel::Bind(const Page& page, const Row& row, int instance) const
{
    QString name = Text(row.control);
    if (page.numberedControls)
        name += QString::number(instance + 1);
    return {&row, row.reg + InstanceOffset(page.id, instance), findChild<QWidget*>(name), instance};
}

QString TSubsetPanel::RowName(const Bound& b) const
{
    QString name = b.control && !b.control->accessibleName().isEmpty() ? b.control->accessibleName() : Text(b.row->control);
    return name + QStringLiteral(" (%1)").arg(b.reg);
}

void TSubsetPanel::LockPage(const Page& page, bool locked)
{
    for (QWidget* w : {static_cast<QWidget*>(StartMeas), static_cast<QWidget*>(ConfigurationSelect),
                       findChild<QWidget*>(Text(page.getButton)), findChild<QWidget*>(Text(page.writeButton))})
        if (w)
            w->setEnabled(!locked);
}

std::unique_ptr<ISubsetHost::Operation> TSubsetPanel::Begin()
{
    std::unique_ptr<ISubsetHost::Operation> operation = m_host.BeginOperation();
    if (!operation)
        m_host.SetPanelText(MessagePanel, QStringLiteral("Busy: wait for the running operation to end"));
    return operation;
}

void TSubsetPanel::PageRead(PageId id)
{
    const std::unique_ptr<ISubsetHost::Operation> operation = Begin();
    if (!operation)
        return;
    const Page& page = PageOf(id);
    LockPage(page, true);
    QStringList failed;
    if (!ReadRows(page, Instance(id), failed))
        return;
    if (!failed.isEmpty())
        m_host.SetPanelText(MessagePanel, Activity(page.getStart) + QStringLiteral(" failed: ") + failed.join(QStringLiteral(", ")));
    m_host.EnableTimer3();
}

bool TSubsetPanel::ReadRows(const Page& page, int instance, QStringList& failed)
{
    m_host.SetPanelText(MessagePanel, Text(page.getStart));
    for (const Row& row : page.rows) {
        const Bound b = Bind(page, row, instance);
        switch (ReadRow(b)) {
        case RowResult::Done:
            if (page.presenceFirst && &row == &page.rows.front() && NotPresent(page, instance)) {
                m_host.SetPanelText(MessagePanel, Text(page.getEnd));
                return true;
            }
            break;
        case RowResult::Failed: failed << RowName(b); break;
        case RowResult::Aborted:
            m_host.SetPanelText(MessagePanel, Activity(page.getStart) + QStringLiteral(" aborted"));
            return false;
        }
    }
    m_host.SetPanelText(MessagePanel, Text(page.getEnd));
    return true;
}

TSubsetPanel::RowResult TSubsetPanel::ReadRow(const Bound& b)
{
    m_host.ProcessEvents();
    const modbus::Outcome o = m_host.Transfer(modbus::Request::Read(static_cast<std::uint16_t>(b.reg), b.row->count));
    if (o.aborted && !m_host.Connected())
        return RowResult::Aborted;
    if (!o.Ok() || o.values.size() < b.row->count) {
        // Whatever the control showed belongs to another read, maybe of another channel.
        ClearRow(b);
        return RowResult::Failed;
    }
    DecodeRow(b, o.values);
    return RowResult::Done;
}

void TSubsetPanel::DecodeRow(const Bound& b, const Words& words)
{
    const Row& row = *b.row;
    auto* box = qobject_cast<QComboBox*>(b.control);
    auto* edit = qobject_cast<QLineEdit*>(b.control);
    auto select = [box](int position) {
        if (box)
            box->setCurrentIndex(position >= 0 && position < box->count() ? position : -1);
    };
    switch (row.encoding) {
    case Encoding::Index:
        // A unit's list follows the quantity read just before it.
        if (row.joinsPrevious && box) {
            const Row* quantity = &row - 1;
            m_host.SetMeasUnitID(Text(quantity->control), Text(row.control));
        }
        select(words[0]);
        if (row.control == "ProcessInputMeas")
            ProcessInputMeas1Change(b.instance + 1);
        break;
    case Encoding::Code:
        if (row.table == CodeTable::CalcInput)
            SetSubsetCalcChannelInputValues(row.control.back() - '0');
        select(PositionOfCode(row.table, words[0], b.instance));
        break;
    case Encoding::Code32:
        select(CurrentLoopMeasValueToIndex(DecodeU32(words)));
        m_host.SetCurrentLoopMeasValueUnit(DecodeU32(words));
        break;
    case Encoding::U16:
        if (edit)
            edit->setText(row.table == CodeTable::InputStatus
                              ? QString::fromStdString(ProcessInputStatusText(words[0]))
                              : QString::number(words[0]));
        break;
    case Encoding::U32:
        if (edit)
            edit->setText(QString::number(DecodeU32(words)));
        break;
    case Encoding::F32:
        if (edit)
            edit->setText(FloatText(DecodeF32(words), row.decimals));
        break;
    case Encoding::Chars7: {
        const std::string type = TransducerIntegerToType(words);
        if (edit)
            edit->setText(QString::fromLatin1(type.data(), static_cast<qsizetype>(type.size())));
        break;
    }
    case Encoding::Bits: SetBits(Text(row.control), words[0]); break;
    }
    if (b.reg == ProtectionRegister)
        ApplyProtectionState(words[0] == 1);
    else if (b.reg == MeasuringStateRegister)
        ApplyMeasuringState(words[0] == 1);
    Remember(b, Words(words.begin(), words.begin() + row.count));
}

void TSubsetPanel::ClearRow(const Bound& b)
{
    m_memory.erase(b.reg);
    if (auto* box = qobject_cast<QComboBox*>(b.control))
        box->setCurrentIndex(-1);
    else if (auto* edit = qobject_cast<QLineEdit*>(b.control))
        edit->clear();
    else if (b.row->encoding == Encoding::Bits)
        SetBits(Text(b.row->control), 0);
}

QString TSubsetPanel::Shown(const Bound& b) const
{
    if (auto* box = qobject_cast<QComboBox*>(b.control))
        return QStringLiteral("#%1").arg(box->currentIndex());
    if (auto* edit = qobject_cast<QLineEdit*>(b.control))
        return QStringLiteral("=") + edit->text();
    if (b.control && b.row->encoding == Encoding::Bits)
        return QStringLiteral("bits %1").arg(BitsWord(Text(b.row->control)));
    return {};
}

void TSubsetPanel::SetBits(const QString& rowControl, std::uint16_t word)
{
    for (const Bit& bit : BitsOf(rowControl.toStdString()))
        if (auto* check = findChild<QCheckBox*>(Text(bit.control)))
            check->setChecked((word & bit.value) != 0);
}

std::uint16_t TSubsetPanel::BitsWord(const QString& rowControl) const
{
    const std::string name = rowControl.toStdString();
    const std::span<const Bit> bits = BitsOf(name);
    bool checked[16] = {};
    for (std::size_t i = 0; i < bits.size() && i < std::size(checked); ++i)
        if (auto* check = findChild<QCheckBox*>(Text(bits[i].control)))
            checked[i] = check->isChecked();
    return WordOfBits(bits, std::span<const bool>(checked, std::min(bits.size(), std::size(checked))));
}

void TSubsetPanel::Remember(const Bound& b, Words words)
{
    m_memory[b.reg] = RowMemory{std::move(words), Shown(b)};
}

bool TSubsetPanel::ShowsWhatWasRead(const Bound& b) const
{
    const auto it = m_memory.find(b.reg);
    if (it == m_memory.end() || it->second.words.size() != b.row->count)
        return false;
    const QString shown = Shown(b);
    return !shown.isNull() && shown == it->second.shown;
}

std::optional<Words> TSubsetPanel::EncodeRow(const Bound& b, QString& problem) const
{
    if (ShowsWhatWasRead(b))
        return m_memory.at(b.reg).words;
    const Row& row = *b.row;
    if (row.encoding == Encoding::Bits && b.control)
        return Words{BitsWord(Text(row.control))};
    auto* box = qobject_cast<QComboBox*>(b.control);
    auto* edit = qobject_cast<QLineEdit*>(b.control);
    if (!box && !edit) {
        problem = QStringLiteral("not on this page");
        return std::nullopt;
    }
    if (box && box->currentIndex() < 0) {
        problem = QStringLiteral("nothing selected");
        return std::nullopt;
    }
    const QString text = edit ? edit->text() : QString();
    if (edit && text.trimmed().isEmpty()) {
        problem = QStringLiteral("empty");
        return std::nullopt;
    }
    auto integer = [&]() -> std::optional<long long> {
        const std::optional<long long> v = ParseInteger(text.toStdString());
        if (!v)
            problem = QStringLiteral("'%1' is not a valid integer value").arg(text);
        return v;
    };
    std::optional<Words> words;
    switch (row.encoding) {
    case Encoding::Index: return Words{static_cast<std::uint16_t>(box ? box->currentIndex() : 0)};
    case Encoding::Code: {
        const int code = box ? CodeOfPosition(row.table, *box) : -1;
        if (code < 0) {
            problem = QStringLiteral("nothing selected");
            return std::nullopt;
        }
        return Words{static_cast<std::uint16_t>(code)};
    }
    case Encoding::Code32: {
        const std::uint32_t code = ItemIndexToOutputMeasValue(box ? box->currentIndex() : -1);
        return Words{static_cast<std::uint16_t>(code & 0xFFFF), static_cast<std::uint16_t>(code >> 16)};
    }
    case Encoding::U16:
        if (const auto v = integer(); v && !(words = EncodeU16(*v)))
            problem = QStringLiteral("'%1' is out of range (0 .. 65535)").arg(text);
        return words;
    case Encoding::U32:
        if (const auto v = integer(); v && !(words = EncodeU32(*v)))
            problem = QStringLiteral("'%1' is out of range (-2147483648 .. 4294967295)").arg(text);
        return words;
    case Encoding::F32: {
        const std::optional<double> v = ParseLocaleFloat(text);
        if (!v)
            problem = QStringLiteral("'%1' is not a valid floating point value").arg(text);
        else if (!(words = EncodeF32(*v)))
            problem = QStringLiteral("'%1' is out of range (single precision)").arg(text);
        return words;
    }
    case Encoding::Chars7: {
        const QByteArray latin1 = text.toLatin1();
        if (latin1.size() > static_cast<qsizetype>(Chars7Length))
            problem = QStringLiteral("'%1' is longer than 7 characters").arg(text);
        else if (QString::fromLatin1(latin1) != text)
            problem = QStringLiteral("'%1' has characters the meter cannot store").arg(text);
        else
            words = EncodeChars7(std::string_view(latin1.constData(), static_cast<std::size_t>(latin1.size())));
        return words;
    }
    case Encoding::Bits: problem = QStringLiteral("not on this page"); return std::nullopt;
    }
    return std::nullopt;
}

std::vector<TSubsetPanel::WriteRequest> TSubsetPanel::EncodePage(const Page& page, int instance,
                                                                  QStringList& problems) const
{
    std::vector<WriteRequest> requests;
    for (const std::span<const Row> group : WriteGroups(page)) {
        WriteRequest r{group, {}};
        for (const Row& row : group) {
            QString problem;
            const Bound b = Bind(page, row, instance);
            const std::optional<Words> w = EncodeRow(b, problem);
            if (w)
                r.words.insert(r.words.end(), w->begin(), w->end());
            else
                problems << RowName(b) + QStringLiteral(": ") + problem;
        }
        requests.push_back(std::move(r));
    }
    return requests;
}

bool TSubsetPanel::Send(const Page& page, int instance, const WriteRequest& r, QStringList& failed)
{
    m_host.ProcessEvents();
    const Bound first = Bind(page, r.rows.front(), instance);
    const modbus::Outcome o = m_host.Transfer(modbus::Request::WriteMultiple(static_cast<std::uint16_t>(first.reg), r.words));
    if (o.aborted && !m_host.Connected()) {
        m_host.SetPanelText(MessagePanel, Activity(page.writeStart) + QStringLiteral(" aborted"));
        return false;
    }
    std::size_t at = 0;
    for (const Row& row : r.rows) {
        const Bound b = Bind(page, row, instance);
        if (o.Ok()) {
            Remember(b, Words(r.words.begin() + static_cast<std::ptrdiff_t>(at),
                              r.words.begin() + static_cast<std::ptrdiff_t>(at + row.count)));
        } else {
            // What the meter holds now is unknown: no longer a read to write back.
            m_memory.erase(b.reg);
            failed << RowName(b);
        }
        at += row.count;
    }
    return true;
}

void TSubsetPanel::ShowProtectionWarning()
{
    m_host.MessageBox(ProtectionWarningCaption, ProtectionWarningText, ISubsetHost::Icon::Warning);
    m_host.EnableTimer3();
}

bool TSubsetPanel::NotPresent(const Page& page, int instance) const
{
    auto* box = qobject_cast<QComboBox*>(Bind(page, page.rows.front(), instance).control);
    return box && box->currentIndex() == NotPresentPosition;
}

void TSubsetPanel::PageWrite(PageId id)
{
    const std::unique_ptr<ISubsetHost::Operation> operation = Begin();
    if (!operation)
        return;
    const Page& page = PageOf(id);
    const int instance = Instance(id);
    CheckProtectionCode();
    if (!m_host.Connected())
        return;
    if (protection_active) {
        if (id == PageId::CurrentLoop)
            m_host.SetPanelText(MessagePanel, Text(page.writeEnd));
        ShowProtectionWarning();
        return;
    }
    LockPage(page, true);
    // An output or input the meter does not have is never written.
    if (page.presenceFirst && NotPresent(page, instance)) {
        m_host.SetPanelText(MessagePanel, QStringLiteral("Not Present!"));
        m_host.EnableTimer3();
        return;
    }

    // Every row is converted before the first is sent: a page is written whole or not at all.
    QStringList problems;
    const std::vector<WriteRequest> requests = EncodePage(page, instance, problems);
    if (!problems.isEmpty()) {
        LockPage(page, false);
        m_host.ShowError(QStringLiteral("Nothing was written to the meter.\r\n\r\n") + problems.join(QStringLiteral("\r\n")));
        return;
    }

    m_host.SetPanelText(MessagePanel, Text(page.writeStart));
    QStringList failed;
    for (const WriteRequest& r : requests)
        if (!Send(page, instance, r, failed))
            return;
    if (page.readBackAfterWrite) {
        QStringList unread;
        if (!ReadRows(page, instance, unread))
            return;
        failed << unread;
    }
    m_host.SetPanelText(MessagePanel, failed.isEmpty() ? Text(page.writeEnd)
                                                       : Activity(page.writeStart) + QStringLiteral(" failed: ") +
                                                             failed.join(QStringLiteral(", ")));
    m_host.EnableTimer3();
}

void TSubsetPanel::WriteGlobalSettingsClick()
{
    const std::unique_ptr<ISubsetHost::Operation> operation = Begin();
    if (!operation)
        return;
    const Page& page = PageOf(PageId::Global);
    // The one write a protected meter takes: switching the protection off with its code.
    auto* enable = findChild<QComboBox*>(QStringLiteral("ProtectionEnable"));
    if (protection_active && enable && enable->currentIndex() != 0) {
        ShowProtectionWarning();
        return;
    }
    LockPage(page, true);
    QStringList problems;
    std::vector<WriteRequest> requests = EncodePage(page, 0, problems);
    if (!problems.isEmpty()) {
        LockPage(page, false);
        m_host.ShowError(QStringLiteral("Nothing was written to the meter.\r\n\r\n") + problems.join(QStringLiteral("\r\n")));
        return;
    }
    // The protection goes first, and the meter gets a reply time-out to take it before the rest.
    std::stable_partition(requests.begin(), requests.end(),
                          [](const WriteRequest& r) { return r.rows.front().reg == ProtectionRegister; });
    m_host.SetPanelText(MessagePanel, Text(page.writeStart));
    QStringList failed;
    for (const WriteRequest& r : requests) {
        if (!Send(page, 0, r, failed))
            return;
        if (r.rows.front().reg == ProtectionRegister)
            m_host.PauseReplyTimeout();
        if (!m_host.Connected()) {
            m_host.SetPanelText(MessagePanel, Activity(page.writeStart) + QStringLiteral(" aborted"));
            return;
        }
    }
    CheckProtectionCode();
    m_host.SetPanelText(MessagePanel, failed.isEmpty() ? Text(page.writeEnd)
                                                       : Activity(page.writeStart) + QStringLiteral(" failed: ") +
                                                             failed.join(QStringLiteral(", ")));
    m_host.EnableTimer3();
}

void TSubsetPanel::StartMeasClick()
{
    const std::unique_ptr<ISubsetHost::Operation> operation = Begin();
    if (!operation)
        return;
    CheckProtectionCode();
    if (!m_host.Connected())
        return;
    if (protection_active) {
        m_host.MessageBox(ProtectionWarningCaption, ProtectionWarningText, ISubsetHost::Icon::Warning);
        return;
    }
    StartMeas->setEnabled(false);
    const std::uint16_t value = StartMeas->text() == QStringLiteral("Start Measuring") ? 1 : 0;
    m_host.ProcessEvents();
    const modbus::Outcome o =
        m_host.Transfer(modbus::Request::WriteMultiple(static_cast<std::uint16_t>(MeasuringStateRegister), {value}));
    if (o.Ok()) {
        m_host.SetPanelText(MessagePanel, QStringLiteral("Measuring will be started..."));
        m_host.EnableTimer3();
        return;
    }
    if (!m_host.Connected())
        return;
    // Say so and leave the button usable: the state on the meter did not change.
    m_host.SetPanelText(MessagePanel, QStringLiteral("Writing Measuring State failed (%1)").arg(MeasuringStateRegister));
    StartMeas->setEnabled(true);
}

void TSubsetPanel::CheckProtectionCode()
{
    ReadRow(Bind(PageOf(PageId::Global), ProtectionRow(), 0));
}

void TSubsetPanel::CheckMeasClick()
{
    StartMeas->setEnabled(false);
    ReadRow({&MeasuringStateRow(), MeasuringStateRow().reg, nullptr, 0});
    StartMeas->setEnabled(m_host.Connected());
}

void TSubsetPanel::ApplyProtectionState(bool active)
{
    protection_active = active;
    ShowStates();
}

void TSubsetPanel::ApplyMeasuringState(bool active)
{
    measuring_active = active;
    StartMeas->setText(active ? QStringLiteral("Stop Measuring") : QStringLiteral("Start Measuring"));
    ShowStates();
}

void TSubsetPanel::ShowStates()
{
    QString text = measuring_active ? QStringLiteral("Activ Measuring") : QStringLiteral("No Measuring");
    if (protection_active)
        text += QStringLiteral(" / Protection Code Activ");
    m_host.SetPanelText(MeasuringPanel, text);
}

}  // namespace subset
