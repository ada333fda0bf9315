// The window's start: everything `brenvale` does but the batch mode. It is
// a module that the program loads from its own folder, so that the batch
// mode starts without loading the libraries of windows and the desktop.
#include "app/dialogs.h"
#include "app/form1.h"
#include "launch/commandline.h"
#include "launch/instance.h"
#include "launch/openfiles.h"

#include <QApplication>

extern "C" __attribute__((visibility("default"))) int BrenvaleWindowMain(int argc, char* argv[]) {
    const CommandLine command = ParseCommandLine(ArgumentsOf(argc, argv), CurrentFolder());
    if (command.action != CommandLine::OpenWindow)
        return AnswerWithoutWindow(command);
    PrintProblems(command);

    // A later start hands its files to the user's running window and ends.
    const InstanceClaim instance(command.namedFiles, command.paths);
    if (instance.state() == InstanceClaim::HandedOver)
        return 0;
    if (instance.state() == InstanceClaim::Unconfirmed)
        return 1;

    QtArgumentVector qtArguments(argc > 0 ? argv[0] : "brenvale", command.qtArguments);
    QApplication app(qtArguments.argc(), qtArguments.argv());
    // Every window stays left to right, also when -reverse asks for right to
    // left: the texts are English (Qt mirrors a window for a right-to-left
    // translation, and Brenvale has none), and mirrored they would read wrong,
    // the punctuation at the other end (":Save results to this folder") and
    // a path's leading "/" at its end.
    QGuiApplication::setLayoutDirection(Qt::LeftToRight);
    QGuiApplication::setDesktopFileName(QStringLiteral("org.brenvale.Brenvale"));
    InstanceServer server;
    const bool serving = instance.state() == InstanceClaim::Running && server.listen(instance.socketPath());

    QtDialogs dialogs;
    Form1 form(dialogs, QCoreApplication::applicationDirPath());
    dialogs.setOwner(&form);
    form.Form_Load();
    form.show();
    OpenOnStart(form, command.paths, serving ? &server : nullptr);
    return app.exec();
}
