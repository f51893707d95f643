// The window as the parameter subset's host: its requests go through the window's one request
// path as the subset kind, its operations hold the window's operation guard.

#include "FormTarnwick.h"

#include "StatusPanels.h"
#include "SubsetPanel.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace tarnwick {

namespace {

constexpr int SubsetClosedWidth = 760;
constexpr int SubsetOpenWidth = 1350;

}  // namespace

modbus::Outcome TFormTarnwick::Transfer(const modbus::Request& r) { return Transfer(RequestKind::Subset, r); }

std::unique_ptr<subset::ISubsetHost::Operation> TFormTarnwick::BeginOperation()
{
    // Keeps the window's guard for as long as the subset holds the operation.
    struct Held final : Operation {
        explicit Held(TFormTarnwick& w) : guard(w) {}
        OperationGuard guard;
    };
    auto held = std::make_unique<Held>(*this);
    if (!held->guard)
        return nullptr;
    return held;
}

void TFormTarnwick::ProcessEvents() { QCoreApplication::processEvents(); }

void TFormTarnwick::SetPanelText(int panel, const QString& text) { StatusBar1->SetText(panel, text); }

void TFormTarnwick::EnableTimer3()
{
    if (!Timer3->isActive())
        Timer3->start();
}

void TFormTarnwick::MessageBox(const QString& caption, const QString& text, Icon icon)
{
    const IDialogService::Icon shown = icon == Icon::Warning ? IDialogService::Icon::Warning
                                       : icon == Icon::Error ? IDialogService::Icon::Error
                                                             : IDialogService::Icon::None;
    m_dialogs.MessageBox(this, caption, text, shown, IDialogService::Ok);
}

bool TFormTarnwick::SerialLine() const { return Opt_RTU->isChecked(); }

void TFormTarnwick::PauseReplyTimeout()
{
    // The meter's time to take a protection change; the operation guard keeps other
    // operations out meanwhile.
    WaitMs(Timer2->interval());
}

QString TFormTarnwick::SaveFileName(const QString& caption, const QString& fileName, const QString& filter)
{
    return m_dialogs.SaveFileName(this, caption, fileName, filter);
}

QString TFormTarnwick::OpenFileName(const QString& caption, const QString& filter)
{
    return m_dialogs.OpenFileName(this, caption, filter);
}

int TFormTarnwick::Exec(QDialog& dialog) { return m_dialogs.Exec(dialog); }

void TFormTarnwick::ReadSubsetStateAfterConnect()
{
    if (!connected)
        return;
    GroupSubset->CheckMeasClick();
    GroupSubset->CheckProtectionCode();
}

void TFormTarnwick::SubsetViewClick()
{
    if (SubsetView->text() == QStringLiteral("<<")) {
        resize(SubsetClosedWidth, height());
        SubsetView->setText(QStringLiteral(">>"));
    } else {
        resize(SubsetOpenWidth, height());
        SubsetView->setText(QStringLiteral("<<"));
        GroupSubset->ShowFirstConfiguration();
    }
    CentreWindow(true);
}

}  // namespace tarnwick
