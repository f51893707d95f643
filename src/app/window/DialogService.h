#pragma once

// Every modal question the main window asks goes through this interface, so that tests can
// answer it and see what was asked. The real implementation shows Qt's dialogs.

#include <QString>
#include <QUrl>

#include <deque>
#include <functional>
#include <vector>

class QDialog;
class QPrinter;
class QWidget;

namespace tarnwick {

class IDialogService {
public:
    enum class Icon { None, Information, Warning, Error, Question };
    // Combinable; MessageBox returns the one pressed.
    enum Button { Ok = 0x1, Cancel = 0x2, Yes = 0x4, No = 0x8 };

    virtual ~IDialogService() = default;

    virtual int MessageBox(QWidget* parent, const QString& caption, const QString& text, Icon icon,
                           int buttons) = 0;
    // The application's general error dialog: the text of an error that ended an action.
    virtual void ShowException(QWidget* parent, const QString& text) = 0;
    // Empty when cancelled.
    virtual QString SaveFileName(QWidget* parent, const QString& caption, const QString& fileName,
                                 const QString& filter) = 0;
    virtual QString OpenFileName(QWidget* parent, const QString& caption, const QString& filter) = 0;
    // True when the user chose to print.
    virtual bool Print(QWidget* parent, QPrinter& printer) = 0;
    // Shows a dialog of the program modally; returns QDialog::Accepted or Rejected.
    virtual int Exec(QDialog& dialog) = 0;
    // Hands a mailto: or web link to the user's default program.
    virtual void OpenUrl(const QUrl& url) = 0;
};

// A message text as the screen shows it: every line break of the tools' texts (CR LF, LF CR,
// a lone CR or LF) is one line break, so CR CR LF still makes a blank line.
QString DisplayText(const QString& text);

class QtDialogService final : public IDialogService {
public:
    int MessageBox(QWidget* parent, const QString& caption, const QString& text, Icon icon,
                   int buttons) override;
    void ShowException(QWidget* parent, const QString& text) override;
    QString SaveFileName(QWidget* parent, const QString& caption, const QString& fileName,
                         const QString& filter) override;
    QString OpenFileName(QWidget* parent, const QString& caption, const QString& filter) override;
    bool Print(QWidget* parent, QPrinter& printer) override;
    int Exec(QDialog& dialog) override;
    void OpenUrl(const QUrl& url) override;
};

// Records every question and answers from a script: the next queued answer, else the first
// button offered (OK before Cancel, Yes before No).
class RecordingDialogService final : public IDialogService {
public:
    struct Shown {
        enum class Kind { MessageBox, Exception, SaveFile, OpenFile, Print, Dialog } kind;
        QString caption;
        QString text;
        Icon icon = Icon::None;
        int buttons = 0;
        int answer = 0;
    };

    int MessageBox(QWidget* parent, const QString& caption, const QString& text, Icon icon,
                   int buttons) override;
    void ShowException(QWidget* parent, const QString& text) override;
    QString SaveFileName(QWidget* parent, const QString& caption, const QString& fileName,
                         const QString& filter) override;
    QString OpenFileName(QWidget* parent, const QString& caption, const QString& filter) override;
    bool Print(QWidget* parent, QPrinter& printer) override;
    int Exec(QDialog& dialog) override;
    void OpenUrl(const QUrl& url) override;

    std::vector<Shown> shown;
    std::vector<QUrl> openedUrls;
    std::deque<int> answers;           // for MessageBox
    std::deque<QString> fileNames;     // for SaveFileName and OpenFileName; empty queue: cancelled
    bool printAnswer = false;
    // Sets up the printer as the user's choice in the print dialog would (a PDF file, say).
    std::function<void(QPrinter&)> onPrint;
    // Plays the user inside a program dialog; without it the dialog is rejected.
    std::function<int(QDialog&)> onDialog;
    // Runs while a message box is "open", as a user would act while it is shown.
    std::function<void(const Shown&)> onMessage;
};

}  // namespace tarnwick
