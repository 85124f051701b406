// A download of one file to one or more ports at once, each on its own link and transfer
// engine, all watched from this thread's event loop.

#include "busproto/messages.h"
#include "flash/flash_commands.h"
#include "flash/flash_output.h"
#include "flash/flash_progress.h"
#include "flash/flash_signals.h"
#include "loader/precise_delay.h"
#include "loader/transfer_engine.h"

#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

constexpr int kPollMs = 50;
constexpr int kBarRedrawMs = 250;

struct PortRun {
    std::unique_ptr<CFlashLink> link;
    std::unique_ptr<CTransferEngine> engine;
    bool started = false;
    std::int64_t startNs = 0;
    int status = ExitDone;
    std::string result; // "done", "stopped", "failed", "port failed"
    std::string reason;
    DownloadProgress last;
};

// The file's fault as one line: the system's error, or the KFW reason and its line.
std::string FileProblem(const std::string& path) {
    kfw::FirmwareHeader header;
    std::string info;
    int length = 0;
    const auto image = std::make_unique<std::uint8_t[]>(kfw::kImageBufferSize);
    kfw::LoadProblem problem;
    if (kfw::LoadFirmwareFile(path, {header, info, image.get(), length}, &problem) == 0) {
        return path + ": not a valid KFW file";
    }
    if (problem.unreadable) {
        return "cannot read " + path + ": " + problem.reason;
    }
    return path + (problem.line > 0 ? ":" + std::to_string(problem.line) : "") +
           ": not a valid KFW file: " + problem.reason;
}

// The outcome of a run that has ended.
void Judge(PortRun& run, bool stopping) {
    CFlashLink& link = *run.link;
    CTransferEngine& engine = *run.engine;
    run.last = engine.Progress();
    const std::optional<MessageFailure> failure = link.m_watch.Failure();
    const std::string at = failure ? " at message " + std::to_string(failure->index) + " of " +
                                         std::to_string(run.last.messagesTotal) + " (" +
                                         failure->kind + ")"
                                   : std::string();
    if (engine.m_bPortFailed == 1) {
        run.status = ExitPortFailed;
        run.result = "port failed";
        run.reason = link.PortProblem();
    } else if (engine.m_bFailed == 0) {
        run.status = ExitDone;
        run.result = "done";
    } else if (stopping) {
        run.status = ExitProgrammingFailed;
        run.result = "stopped";
        run.reason = "stopped at a record boundary after " + std::to_string(run.last.messagesSent) +
                     " of " + std::to_string(run.last.messagesTotal) +
                     " messages, the end message sent" +
                     (failure && failure->kind == std::string(IplMessageKindName(IplEnd))
                          ? " but not echoed: " + failure->reason
                          : std::string());
    } else if (link.PortLost()) {
        // A port that went away during the run is a port failure, not the device's.
        run.status = ExitPortFailed;
        run.result = "port failed";
        run.reason = "port " + link.PortName() + " was lost during the download" + at;
    } else {
        run.status = ExitProgrammingFailed;
        run.result = "failed";
        run.reason = "programming failed" + at + ": " +
                     (failure ? failure->reason : "the image has no end record");
    }
}

QJsonObject ResultObject(const PortRun& run, const std::string& file) {
    const serial::PortInfo info = run.link->Describe();
    const std::int64_t endNs = run.last.endNs > 0 ? run.last.endNs : run.startNs;
    QJsonObject object{
        {QStringLiteral("port"), QString::fromStdString(run.link->PortName())},
        {QStringLiteral("device"), QString::fromStdString(info.device)},
        {QStringLiteral("byId"), QString::fromStdString(info.byId)},
        {QStringLiteral("rate"), static_cast<qint64>(run.link->BitRate())},
        {QStringLiteral("file"), QString::fromStdString(file)},
        {QStringLiteral("messages"), run.last.messagesSent},
        {QStringLiteral("messagesTotal"), run.last.messagesTotal},
        {QStringLiteral("duration"),
         run.started ? static_cast<double>(endNs - run.startNs) / 1e9 : 0.0},
        {QStringLiteral("result"), QString::fromStdString(run.result)},
        {QStringLiteral("status"), run.status},
        {QStringLiteral("reason"), QString::fromStdString(run.reason)},
    };
    return object;
}

void PrintSummary(const std::vector<PortRun>& runs) {
    std::size_t width = 4;
    for (const PortRun& run : runs) {
        width = std::max(width, run.link->PortName().size());
    }
    char line[512];
    std::snprintf(line, sizeof line, "%-*s  %-11s  %6s  %8s  %s", static_cast<int>(width), "port",
                  "result", "status", "time", "reason");
    Say(line);
    for (const PortRun& run : runs) {
        const std::int64_t endNs = run.last.endNs > 0 ? run.last.endNs : run.startNs;
        char time[32];
        std::snprintf(time, sizeof time, "%.1f s",
                      run.started ? static_cast<double>(endNs - run.startNs) / 1e9 : 0.0);
        std::snprintf(line, sizeof line, "%-*s  %-11s  %6d  %8s  %s", static_cast<int>(width),
                      run.link->PortName().c_str(), run.result.c_str(), run.status, time,
                      run.reason.c_str());
        std::string text = line;
        text.erase(text.find_last_not_of(' ') + 1);
        Say(text);
    }
}

} // namespace

int RunDownload(const FlashOptions& options, const std::vector<PortChoice>& ports,
                const RateChoice& rate) {
    std::vector<PortRun> runs(ports.size());
    std::vector<std::string> labels;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        runs[i].link = std::make_unique<CFlashLink>(ports[i], rate, options.verbose);
        runs[i].engine =
            std::make_unique<CTransferEngine>(&runs[i].link->m_doc, &runs[i].link->m_notify);
        labels.push_back(ports[i].name);
    }
    std::string info;
    if (runs[0].engine->LoadFirmwareFile(options.file, info) != 0) {
        const std::string problem = FileProblem(options.file);
        Say(problem);
        for (PortRun& run : runs) {
            run.status = ExitFileNotValid;
            run.result = "file not valid";
            run.reason = problem;
            if (options.json) {
                PrintJson(ResultObject(run, options.file));
            }
        }
        return ExitFileNotValid;
    }
    const bool terminal = ErrorsOnTerminal() && options.verbose == 0;
    CProgressOutput output(labels, terminal, options.quiet, TerminalColumns());
    for (PortRun& run : runs) {
        if (StopRequested()) {
            run.result = "stopped";
            run.status = ExitProgrammingFailed;
            run.reason = "stopped before the download started";
            continue;
        }
        if (!run.link->PortPresent()) {
            run.status = ExitPortFailed;
            run.result = "port failed";
            run.reason = run.link->PortProblem();
            continue;
        }
        run.startNs = MonotonicNowNs();
        if (run.engine->StartStop(options.file, info) != 1) {
            Say(FileProblem(options.file)); // changed on disk since it was read
            return ExitFileNotValid;
        }
        run.started = true;
    }

    bool stopping = false;
    const auto anyRunning = [&] {
        return std::any_of(runs.begin(), runs.end(),
                           [](const PortRun& run) { return run.engine->IsWorkerRunning(); });
    };
    QTimer redraw;
    QObject::connect(&redraw, &QTimer::timeout, [&] {
        if (StopRequested() && !stopping) {
            stopping = true;
            output.Break();
            Say("stopping after the record under way");
            for (PortRun& run : runs) {
                if (run.engine->IsWorkerRunning()) {
                    run.engine->StartStop({}, info);
                }
            }
        }
        for (std::size_t i = 0; i < runs.size(); ++i) {
            if (runs[i].started) {
                output.Update(i, runs[i].engine->Progress());
            }
        }
        output.Redraw();
    });
    redraw.start(terminal ? kBarRedrawMs : kPollMs);
    RunEvents(-1, [&] { return !anyRunning(); });
    redraw.stop();

    int status = ExitDone;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        PortRun& run = runs[i];
        if (run.started) {
            run.engine->StopAndWait();
            Judge(run, stopping);
            output.Update(i, run.last);
        }
        status = std::max(status, run.status);
    }
    output.Redraw();
    output.Break();
    for (const PortRun& run : runs) {
        const std::string prefix = runs.size() > 1 ? run.link->PortName() + ": " : "";
        if (run.status != ExitDone) {
            Say(prefix + run.reason);
        } else if (!options.quiet) {
            Say(prefix + "done");
        }
        if (options.json) {
            PrintJson(ResultObject(run, options.file));
        }
    }
    if (runs.size() > 1 && !options.quiet) {
        PrintSummary(runs);
    }
    return status;
}
