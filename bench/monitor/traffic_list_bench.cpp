// Timing program for the traffic list: lines appended to a list of 1,000,000 lines shown in a
// list view, memory per line, and the cost of scrolling to the end and repainting.

#include "monitor/traffic/traffic_filter.h"
#include "monitor/traffic/traffic_finder.h"
#include "monitor/traffic/traffic_list.h"

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
        status.ignore(1 << 12, '\n');
    }
    return -1;
}

TrafficLine StampedMessage(int i) {
    const std::uint8_t msg[] = {0xA3, static_cast<std::uint8_t>(i & 0x7F),
                                static_cast<std::uint8_t>((i >> 7) & 0x7F), 0};
    std::uint8_t bytes[4] = {msg[0], msg[1], msg[2], 0};
    bytes[3] = static_cast<std::uint8_t>(~(bytes[0] ^ bytes[1] ^ bytes[2]) & 0x7F);
    TrafficLine line = TrafficLine::Message(bytes, 4);
    line.stamped = true;
    line.number = i + 1;
    line.time = StampTime{2026, 12, 6, 18, 48, 50, i % 100};
    return line;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int total = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int batch = 512; // lines per event-loop pass, as one 1024-byte read of 2-byte messages

    CTrafficList list;
    list.resize(600, 400);
    list.show();
    QApplication::processEvents();

    const long rssBefore = ResidentKiB();
    QElapsedTimer timer;
    timer.start();
    qint64 worstPassNs = 0;
    for (int i = 0; i < total;) {
        QElapsedTimer pass;
        pass.start();
        for (int k = 0; k < batch && i < total; ++k, ++i) {
            list.AddLine(StampedMessage(i));
            list.ScrollToEnd();
        }
        QApplication::processEvents();
        worstPassNs = std::max(worstPassNs, pass.nsecsElapsed());
    }
    const double appendNs = double(timer.nsecsElapsed()) / total;
    const long rssAfter = ResidentKiB();

    std::printf("lines                       %d\n", total);
    std::printf(
        "time per appended line      %.0f ns (batches of %d, the view publishing as it goes)\n",
        appendNs, batch);
    std::printf("worst event-loop pass       %.2f ms\n", worstPassNs / 1e6);
    std::printf("store bytes per line        %.1f\n",
                double(list.Model().Store().MemoryBytes()) / total);
    std::printf("resident growth per line    %.1f bytes\n",
                (rssAfter - rssBefore) * 1024.0 / total);

    // Scrolling to the end and painting the visible rows, as after each burst of lines.
    const int repaints = 200;
    timer.restart();
    for (int r = 0; r < repaints; ++r) {
        list.ReplaceLastLine(StampedMessage(r));
        list.ScrollToEnd();
        list.Publish();
        list.viewport()->repaint();
    }
    std::printf("scroll to end + repaint     %.2f ms\n",
                double(timer.nsecsElapsed()) / repaints / 1e6);

    timer.restart();
    for (int r = 0; r < repaints; ++r) {
        list.scrollTo(list.model()->index((r * 7919) % total, 0));
        list.viewport()->repaint();
    }
    std::printf("jump to a row + repaint     %.2f ms\n",
                double(timer.nsecsElapsed()) / repaints / 1e6);

    // Find: every line looked at once (as when the text to find changes), then the next match.
    const char* const patterns[] = {"A3 05 0A", "7F", "B0 01"};
    for (const char* pattern : patterns) {
        CTrafficFinder finder;
        finder.SetPattern(pattern);
        timer.restart();
        finder.Update(list.Model().Store());
        const std::int64_t row = finder.Next(total / 2);
        std::printf(
            "find \"%s\" in all lines   %.1f ms (%zu matches, next after the middle: %lld)\n",
            pattern, double(timer.nsecsElapsed()) / 1e6, finder.Matches().size(),
            static_cast<long long>(row));
    }

    // Filter: every line looked at once when the filter is set, then only the lines that come.
    struct Case {
        const char* name;
        FilterCriteria criteria;
    };
    const Case filters[] = {
        {"opcode A3 (all shown)", {std::nullopt, FilterCriteria::Mode::Only, 0xA3}},
        {"only IPL data (none)", {LineKind::IplData, FilterCriteria::Mode::Only, -1}},
        {"hide IPL data (all)", {LineKind::IplData, FilterCriteria::Mode::Hide, -1}},
    };
    for (const Case& c : filters) {
        CTrafficFilter filter;
        filter.SetCriteria(c.criteria);
        timer.restart();
        filter.Update(list.Model().Store());
        const double setMs = double(timer.nsecsElapsed()) / 1e6;
        for (int k = 0; k < batch; ++k)
            list.AddLine(StampedMessage(k));
        timer.restart();
        filter.Update(list.Model().Store());
        std::printf("filter %-22s set %.1f ms, %d new lines %.3f ms (%lld shown)\n", c.name, setMs,
                    batch, double(timer.nsecsElapsed()) / 1e6,
                    static_cast<long long>(filter.Count()));
    }

    // The same through the list, as the filter bar sets it: the view reset, the place kept.
    list.SelectRow(total / 2);
    for (const Case& c : filters) {
        timer.restart();
        list.SetFilter(c.criteria);
        QApplication::processEvents();
        std::printf("list filter %-17s %.1f ms (%d rows)\n", c.name,
                    double(timer.nsecsElapsed()) / 1e6, list.model()->rowCount());
    }
    timer.restart();
    list.SetFilter({});
    QApplication::processEvents();
    std::printf("list filter cleared         %.1f ms (%d rows)\n",
                double(timer.nsecsElapsed()) / 1e6, list.model()->rowCount());

    // Copy of every line (Ctrl+A, Ctrl+C), as text for the clipboard.
    list.selectAll();
    timer.restart();
    const std::string copied = list.SelectedText();
    std::printf("text of all lines selected  %.1f ms (%.1f MB)\n",
                double(timer.nsecsElapsed()) / 1e6, double(copied.size()) / 1e6);
    return 0;
}
