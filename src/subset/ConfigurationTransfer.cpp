// The meter's configuration as a file, from the window: the same library steps as the command
// line, each request through the window's one request path while the operation is held.
// Loading shows what would change and writes only when the user says so.

#include "SubsetPanel.h"

#include "AtomicFile.h"
#include "Encodings.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTableWidget>
#include <QVBoxLayout>

namespace subset {

namespace {

constexpr int MessagePanel = 4;
const QString Filter = QStringLiteral("Configuration files (*.json);;All files (*)");
const QString NothingWritten = QStringLiteral("Nothing was written to the meter.\r\n\r\n");

QString Utf8(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

Perform TSubsetPanel::PerformRows()
{
    return [this](const modbus::Request& r) {
        m_host.ProcessEvents();
        return m_host.Transfer(r);
    };
}

void TSubsetPanel::LockSubset()
{
    // The whole subset is read or written: no page of it meanwhile. Timer3 frees it again.
    ConfigurationSelect->setEnabled(false);
    StartMeas->setEnabled(false);
    for (QPushButton* b : m_pageButtons)
        b->setEnabled(false);
}

void TSubsetPanel::SaveConfigurationClick()
{
    const QString path = m_host.SaveFileName(QStringLiteral("Save configuration"), QStringLiteral("configuration.json"), Filter);
    if (path.isEmpty())
        return;
    const std::unique_ptr<ISubsetHost::Operation> operation = Begin();
    if (!operation)
        return;
    LockSubset();
    m_host.SetPanelText(MessagePanel, QStringLiteral("Saving configuration ..."));
    try {
        const nlohmann::json file = ReadConfiguration(PerformRows(), *ConfigurationSlots(""));
        const std::string error = app::writeFileAtomically(path.toStdString(), file.dump(2) + "\n");
        if (!error.empty()) {
            m_host.SetPanelText(MessagePanel, QStringLiteral("Saving configuration failed"));
            m_host.ShowError(QStringLiteral("Writing %1 failed: %2").arg(path, Utf8(error)));
        } else {
            m_host.SetPanelText(MessagePanel, QStringLiteral("Saving configuration Ready"));
        }
    } catch (const std::runtime_error& e) {
        if (!m_host.Connected()) {
            m_host.SetPanelText(MessagePanel, QStringLiteral("Saving configuration aborted"));
            return;
        }
        m_host.SetPanelText(MessagePanel, QStringLiteral("Saving configuration failed"));
        m_host.ShowError(QStringLiteral("The configuration was not saved.\r\n\r\n") + Utf8(e.what()));
    }
    m_host.EnableTimer3();
}

void TSubsetPanel::LoadConfigurationClick()
{
    const QString path = m_host.OpenFileName(QStringLiteral("Load configuration"), Filter);
    if (path.isEmpty())
        return;
    // A file that cannot be restored is refused before the meter is asked anything.
    Loaded loaded;
    try {
        loaded = LoadConfigurationFile(path.toStdString());
    } catch (const std::invalid_argument& e) {
        m_host.ShowError(NothingWritten + Utf8(e.what()));
        return;
    }
    const std::unique_ptr<ISubsetHost::Operation> operation = Begin();
    if (!operation)
        return;
    LockSubset();
    m_host.SetPanelText(MessagePanel, QStringLiteral("Loading configuration ..."));
    const Perform perform = PerformRows();
    auto end = [this](const QString& panelText) {
        m_host.SetPanelText(MessagePanel, panelText);
        m_host.EnableTimer3();
    };
    Comparison comparison;
    try {
        comparison = CompareWithMeter(perform, loaded);
    } catch (const std::invalid_argument& e) {
        m_host.ShowError(NothingWritten + path + QStringLiteral(" refused: ") + Utf8(e.what()));
        return end(QStringLiteral("Loading configuration refused"));
    } catch (const std::runtime_error& e) {
        if (!m_host.Connected())
            return m_host.SetPanelText(MessagePanel, QStringLiteral("Loading configuration aborted"));
        m_host.ShowError(NothingWritten + Utf8(e.what()));
        return end(QStringLiteral("Loading configuration failed"));
    }
    if (comparison.differences.empty()) {
        m_host.MessageBox(QStringLiteral("Load configuration"), QStringLiteral("The meter already holds this configuration."),
                          ISubsetHost::Icon::None);
        return end(QStringLiteral("Loading configuration Ready"));
    }
    const std::optional<std::uint32_t> code = ConfirmWrite(comparison);
    if (!code)
        return end(QStringLiteral("Loading configuration cancelled"));

    const WriteReport report = WriteDifferences(perform, loaded, comparison,
                                                comparison.protectionActive ? code : std::nullopt);
    if (report.aborted && !m_host.Connected())
        return m_host.SetPanelText(MessagePanel, QStringLiteral("Loading configuration aborted"));
    if (report.unlockRefused) {
        m_host.ShowError(NothingWritten + QStringLiteral("The meter did not accept the protection code."));
        return end(QStringLiteral("Loading configuration failed"));
    }
    if (!report.Ok()) {
        QStringList lines;
        for (const std::string& f : report.failures)
            lines << Utf8(f);
        if (report.aborted)
            lines << QStringLiteral("The connection ended after %1 of the writes.").arg(report.requests);
        m_host.ShowError(QStringLiteral("Loading configuration FAILED: the meter does not hold the file's values.\r\n\r\n") +
                         lines.join(QStringLiteral("\r\n")));
        return end(QStringLiteral("Loading configuration failed"));
    }
    end(QStringLiteral("Loading configuration Ready: %1 written and verified").arg(comparison.differences.size()));
}

std::optional<std::uint32_t> TSubsetPanel::ConfirmWrite(const Comparison& comparison)
{
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("ConfigurationDifferences"));
    dialog.setWindowTitle(QStringLiteral("Load configuration"));
    auto* column = new QVBoxLayout(&dialog);
    const auto n = static_cast<int>(comparison.differences.size());
    column->addWidget(new QLabel(n == 1 ? QStringLiteral("1 parameter of the meter differs from the file:")
                                        : QStringLiteral("%1 parameters of the meter differ from the file:").arg(n)));
    auto* table = new QTableWidget(n, 3);
    table->setObjectName(QStringLiteral("Differences"));
    table->setAccessibleName(QStringLiteral("Differences between meter and file"));
    table->setHorizontalHeaderLabels({QStringLiteral("Parameter"), QStringLiteral("Meter"), QStringLiteral("File")});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->setVisible(false);
    for (int i = 0; i < n; ++i) {
        const Difference& d = comparison.differences[static_cast<std::size_t>(i)];
        table->setItem(i, 0, new QTableWidgetItem(Utf8(SlotName(d.entry.slot))));
        table->setItem(i, 1, new QTableWidgetItem(Utf8(d.meterText)));
        table->setItem(i, 2, new QTableWidgetItem(Utf8(d.fileText)));
    }
    table->resizeColumnsToContents();
    table->setMinimumWidth(640);
    column->addWidget(table);

    QLineEdit* code = nullptr;
    if (comparison.protectionActive) {
        // As on the global settings page: up to six digits.
        auto* label = new QLabel(QStringLiteral("The meter's write protection is active. Protection Code:"));
        code = new QLineEdit;
        code->setObjectName(QStringLiteral("ConfigurationProtectionCode"));
        code->setAccessibleName(QStringLiteral("Protection Code"));
        code->setMaxLength(6);
        code->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,6}")), code));
        label->setBuddy(code);
        column->addWidget(label);
        column->addWidget(code);
    }
    auto* buttons = new QDialogButtonBox;
    QPushButton* write = buttons->addButton(QStringLiteral("Write"), QDialogButtonBox::AcceptRole);
    write->setObjectName(QStringLiteral("ButtonWriteConfiguration"));
    QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    cancel->setObjectName(QStringLiteral("ButtonCancelConfiguration"));
    cancel->setDefault(true);  // Enter alone must not write to the meter
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    column->addWidget(buttons);

    if (m_host.Exec(dialog) != QDialog::Accepted)
        return std::nullopt;
    if (!code)
        return 0u;
    const std::optional<long long> value = ParseInteger(code->text().toStdString());
    if (!value || *value < 0 || *value > 999999) {
        m_host.ShowError(NothingWritten + QStringLiteral("'%1' is not a protection code.").arg(code->text()));
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*value);
}

}  // namespace subset
