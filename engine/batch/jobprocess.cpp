#include "batch/jobprocess.h"

JobProcesses::JobProcesses(int jobs) : running_(static_cast<size_t>(jobs), nullptr) {}

bool JobProcesses::Stopping() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return stopping_;
}

void JobProcesses::StopAll() {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
    for (SupervisedPipeline* pipeline : running_) {
        if (pipeline)
            pipeline->Stop();
    }
}

PipelineEnd JobProcesses::Run(int slot, const ProgramCommand& decoder, const ProgramCommand* encoder, int input, int output,
                              const QString& folder) {
    PipelineCommand command;
    command.programs.push_back(decoder);
    if (encoder)
        command.programs.push_back(*encoder);
    command.folder = folder;
    command.input = input;
    command.output = output;
    command.captureMessages = true;

    PipelineEnd end;
    SupervisedPipeline pipeline;
    {
        // Made known under the lock, so that StopAll either reaches it or
        // has already kept it from starting.
        std::lock_guard<std::mutex> hold(mutex_);
        if (stopping_)
            return end;
        running_[static_cast<size_t>(slot)] = &pipeline;
    }
    if (pipeline.Start(command)) {
        const std::vector<ProgramEnd> ends = pipeline.Wait();
        end.decoder = ends.front();
        if (encoder)
            end.encoder = ends.back();
        end.messages = pipeline.messages();
        end.supervisorSignal = pipeline.watchdogSignal();
    }
    std::lock_guard<std::mutex> hold(mutex_);
    running_[static_cast<size_t>(slot)] = nullptr;
    return end;
}
