// Brenvale: converts Windows Media Audio files to MP3 or WAV.
#include "app/dialogs.h"
#include "app/form1.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QtDialogs dialogs;
    Form1 form(dialogs, QCoreApplication::applicationDirPath());
    dialogs.setOwner(&form);
    form.Form_Load();
    form.show();
    return app.exec();
}
