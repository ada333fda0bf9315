// Brenvale: converts Windows Media Audio files to MP3 or WAV.
#include "app/dialogs.h"
#include "app/form1.h"
#include "batch/batchoptions.h"
#include "batch/batchrun.h"
#include "launch/commandline.h"
#include "launch/instance.h"
#include "launch/openfiles.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    // The batch mode is told apart before any application object exists: it
    // never connects to a display.
    if (IsBatchCommand(ArgumentsOf(argc, argv)))
        return RunBatchCommand(argc, argv);
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
