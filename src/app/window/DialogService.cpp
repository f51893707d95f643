#include "DialogService.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>

namespace tarnwick {

namespace {

QMessageBox::Icon ToQt(IDialogService::Icon icon)
{
    switch (icon) {
    case IDialogService::Icon::Information: return QMessageBox::Information;
    case IDialogService::Icon::Warning: return QMessageBox::Warning;
    case IDialogService::Icon::Error: return QMessageBox::Critical;
    case IDialogService::Icon::Question: return QMessageBox::Question;
    case IDialogService::Icon::None: break;
    }
    return QMessageBox::NoIcon;
}

int FirstButton(int buttons)
{
    for (int b : {IDialogService::Ok, IDialogService::Yes, IDialogService::No, IDialogService::Cancel})
        if (buttons & b)
            return b;
    return IDialogService::Ok;
}

}  // namespace

QString DisplayText(const QString& text)
{
    // The texts keep the line ends the meter's tools always used; Qt wants plain LF.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

int QtDialogService::MessageBox(QWidget* parent, const QString& caption, const QString& text,
                                Icon icon, int buttons)
{
    QMessageBox box(ToQt(icon), caption, DisplayText(text), QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    const std::pair<Button, QMessageBox::StandardButton> map[] = {
        {Ok, QMessageBox::Ok}, {Cancel, QMessageBox::Cancel}, {Yes, QMessageBox::Yes}, {No, QMessageBox::No}};
    for (const auto& [ours, qt] : map)
        if (buttons & ours)
            box.addButton(qt);
    if (buttons == 0)
        box.addButton(QMessageBox::Ok);
    const int pressed = box.exec();
    for (const auto& [ours, qt] : map)
        if (pressed == qt)
            return ours;
    return buttons & Cancel ? Cancel : FirstButton(buttons);
}

void QtDialogService::ShowException(QWidget* parent, const QString& text)
{
    QMessageBox::critical(parent, QApplication::applicationName(), text);
}

QString QtDialogService::SaveFileName(QWidget* parent, const QString& caption, const QString& fileName,
                                      const QString& filter)
{
    return QFileDialog::getSaveFileName(parent, caption, fileName, filter);
}

QString QtDialogService::OpenFileName(QWidget* parent, const QString& caption, const QString& filter)
{
    return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
}

bool QtDialogService::Print(QWidget* parent, QPrinter& printer)
{
    QPrintDialog dialog(&printer, parent);
    return dialog.exec() == QDialog::Accepted;
}

int QtDialogService::Exec(QDialog& dialog) { return dialog.exec(); }

void QtDialogService::OpenUrl(const QUrl& url) { QDesktopServices::openUrl(url); }

int RecordingDialogService::MessageBox(QWidget*, const QString& caption, const QString& text,
                                       Icon icon, int buttons)
{
    int answer = FirstButton(buttons);
    if (!answers.empty()) {
        answer = answers.front();
        answers.pop_front();
    }
    shown.push_back({Shown::Kind::MessageBox, caption, text, icon, buttons, answer});
    if (onMessage)
        onMessage(shown.back());
    return answer;
}

void RecordingDialogService::ShowException(QWidget*, const QString& text)
{
    shown.push_back({Shown::Kind::Exception, QApplication::applicationName(), text, Icon::Error, Ok, Ok});
    if (onMessage)
        onMessage(shown.back());
}

QString RecordingDialogService::SaveFileName(QWidget*, const QString& caption, const QString& fileName,
                                             const QString&)
{
    QString answer;
    if (!fileNames.empty()) {
        answer = fileNames.front();
        fileNames.pop_front();
    }
    shown.push_back({Shown::Kind::SaveFile, caption, fileName, Icon::None, 0, answer.isEmpty() ? Cancel : Ok});
    return answer;
}

QString RecordingDialogService::OpenFileName(QWidget*, const QString& caption, const QString&)
{
    QString answer;
    if (!fileNames.empty()) {
        answer = fileNames.front();
        fileNames.pop_front();
    }
    shown.push_back({Shown::Kind::OpenFile, caption, answer, Icon::None, 0, answer.isEmpty() ? Cancel : Ok});
    return answer;
}

bool RecordingDialogService::Print(QWidget*, QPrinter& printer)
{
    if (printAnswer && onPrint)
        onPrint(printer);
    shown.push_back({Shown::Kind::Print, QString(), QString(), Icon::None, 0, printAnswer ? Ok : Cancel});
    return printAnswer;
}

int RecordingDialogService::Exec(QDialog& dialog)
{
    const int result = onDialog ? onDialog(dialog) : QDialog::Rejected;
    shown.push_back({Shown::Kind::Dialog, dialog.windowTitle(), QString(), Icon::None, 0, result});
    return result;
}

void RecordingDialogService::OpenUrl(const QUrl& url) { openedUrls.push_back(url); }

}  // namespace tarnwick
