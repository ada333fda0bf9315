#pragma once
// A main window for window tests, with everything it touches kept private to
// the test: settings store, HOME and work folder, a temporary program folder,
// and dialogs answered from a script.
#include "app/form1.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"

#include <QTemporaryDir>

#include <memory>

struct WindowFixture {
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<QTemporaryDir> program;
    std::unique_ptr<ScriptedDialogs> dialogs;
    std::unique_ptr<Form1> form;

    // A fresh environment, program folder and dialogs; no window yet.
    void start() {
        form.reset();
        env = std::make_unique<TestEnvironment>();
        program = std::make_unique<QTemporaryDir>();
        dialogs = std::make_unique<ScriptedDialogs>();
    }

    // A loaded window on programFolder (the temporary one by default); what
    // start-up showed is forgotten.
    void load(const QString& programFolder = QString()) {
        form = std::make_unique<Form1>(*dialogs, programFolder.isNull() ? program->path() : programFolder);
        form->Form_Load();
        dialogs->clear();
    }

    void stop() {
        form.reset();
        dialogs.reset();
    }
};
