// The Tarnwick program: one main window.

#include "DialogService.h"
#include "FormTarnwick.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnwick"));
    QStringList args = QApplication::arguments();
    args.removeFirst();
    tarnwick::QtDialogService dialogs;
    tarnwick::TFormTarnwick window(args, dialogs);
    window.show();
    return QApplication::exec();
}
