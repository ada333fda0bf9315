#pragma once
// What a conversion asks of the programs it starts: a decoder, and an
// encoder that reads the decoder's output, and how each of them ended.
#include "system/supervisor.h"

#include <QByteArray>
#include <QString>

#include <functional>

struct PipelineEnd {
    ProgramEnd decoder;
    ProgramEnd encoder;
    QByteArray messages;  // what the tools wrote on their standard error
    int supervisorSignal = 0;  // the signal that ended their supervisor before it reported
};

// Starts decoder reading input (a descriptor that stays the caller's) in
// folder, its output piped into encoder when there is one, the last tool's
// standard output being output (likewise the caller's), and waits until
// both have ended.
using PipelineRunner = std::function<PipelineEnd(const ProgramCommand& decoder, const ProgramCommand* encoder,
                                                 int input, int output, const QString& folder)>;
