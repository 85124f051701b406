// Discover and identify: requests that a device answers with a reply, or with its own signal.

#include "flash/flash_commands.h"
#include "flash/flash_output.h"
#include "flash/flash_signals.h"
#include "loader/discovery_rows.h"
#include "loader/discovery_sink.h"

#include <QJsonObject>

#include <algorithm>

namespace {

// How long a request's echo may take: the bus interface returns it at once.
constexpr int kEchoWaitMs = 500;

// Collects the device rows of every reply, named or not.
class CReplyCollector final : public CDiscoverySink {
public:
    void ShowRssi(const std::uint8_t*) override {}
    void AddDiscoveryReply(const std::uint8_t* message) override {
        if (std::optional<DiscoveryRow> row = DecodeDiscoveryReply(message, true)) {
            rows.push_back(*row);
        }
    }
    std::vector<DiscoveryRow> rows;
};

std::string ProductText(const DiscoveryRow& row) {
    return row.device.empty() ? "unknown product " + std::to_string(row.productCode) : row.device;
}

// Waits for the echo of the request just written; true when it came.
bool AwaitEcho(CFlashLink& link) {
    RunEvents(kEchoWaitMs, [&] { return link.m_doc.m_bAwaitEcho == 0 || StopRequested(); });
    return link.m_doc.m_bAwaitEcho == 0;
}

// Sends a discover request with `product` as the filter and collects the replies that come
// within `waitMs`. Returns ExitDone, or the status to end with after saying why.
int Discover(CFlashLink& link, int product, int waitMs, std::vector<DiscoveryRow>& rows) {
    CReplyCollector collector;
    link.m_doc.m_pDiscoverDlg = &collector;
    int status = ExitDone;
    link.m_watch.Note("discover request, product " + std::to_string(product));
    if (link.m_doc.SendDiscover(product) != 1) {
        Say(link.PortProblem());
        status = ExitPortFailed;
    } else if (!AwaitEcho(link) && !StopRequested()) {
        Say("port " + link.PortName() + ": no echo from the bus interface to the discover request");
        status = ExitProgrammingFailed;
    } else {
        RunEvents(waitMs, [] { return StopRequested(); });
    }
    link.m_doc.m_pDiscoverDlg = nullptr;
    rows = collector.rows;
    if (status == ExitDone && StopRequested()) {
        Say("stopped");
        status = ExitProgrammingFailed;
    }
    return status;
}

QJsonObject DeviceObject(const std::string& port, const DiscoveryRow& row) {
    QJsonObject object{
        {QStringLiteral("port"), QString::fromStdString(port)},
        {QStringLiteral("product"), row.productCode},
        {QStringLiteral("name"), row.device.empty()
                                     ? QJsonValue(QJsonValue::Null)
                                     : QJsonValue(QString::fromStdString(row.device).trimmed())},
        {QStringLiteral("serial"), QString::fromStdString(SerialText(row.serial))},
        {QStringLiteral("software"), QString::fromStdString(row.software)},
        {QStringLiteral("hardware"), QString::fromStdString(row.hardware)},
        {QStringLiteral("ipl"), QString::fromStdString(row.bootLoader)},
    };
    if (row.secondarySerial != 0) {
        object.insert(QStringLiteral("secondSerial"),
                      QString::fromStdString(SerialText(row.secondarySerial, true)));
    }
    return object;
}

} // namespace

int RunDiscover(const FlashOptions& options, const PortChoice& port, const RateChoice& rate) {
    CFlashLink link(port, rate, options.verbose);
    if (!link.OpenPort()) {
        Say(link.PortProblem());
        return ExitPortFailed;
    }
    std::vector<DiscoveryRow> rows;
    if (const int status = Discover(link, options.product.value_or(0), options.waitMs, rows);
        status != ExitDone) {
        return status;
    }
    for (const DiscoveryRow& row : rows) {
        if (options.json) {
            PrintJson(DeviceObject(port.name, row));
            continue;
        }
        std::string line = ProductText(row) + "  serial " + SerialText(row.serial) + "  software " +
                           row.software + "  hardware " + row.hardware + "  IPL " + row.bootLoader;
        if (row.secondarySerial != 0) {
            line += "  second serial " + SerialText(row.secondarySerial, true);
        }
        PrintLine(line);
    }
    if (rows.empty()) {
        Say("no device answered on port " + port.name);
        return ExitProgrammingFailed;
    }
    if (!options.quiet) {
        Say(std::to_string(rows.size()) + (rows.size() == 1 ? " device" : " devices") +
            " answered");
    }
    return ExitDone;
}

int RunIdentify(const FlashOptions& options, const PortChoice& port, const RateChoice& rate) {
    CFlashLink link(port, rate, options.verbose);
    if (!link.OpenPort()) {
        Say(link.PortProblem());
        return ExitPortFailed;
    }
    const std::string serial = SerialText(options.serial);
    int product = options.product.value_or(0);
    if (!options.product) {
        std::vector<DiscoveryRow> rows;
        if (const int status = Discover(link, 0, options.waitMs, rows); status != ExitDone) {
            return status;
        }
        const auto found = std::find_if(rows.begin(), rows.end(), [&](const DiscoveryRow& row) {
            return row.serial == options.serial;
        });
        if (found == rows.end()) {
            Say("no device with serial number " + serial + " answered the discover request");
            return ExitProgrammingFailed;
        }
        product = found->productCode;
    }
    link.m_watch.Note("identify request, serial number " + serial);
    if (link.m_doc.SendIdentify(product, options.serial) != 1) {
        Say(link.PortProblem());
        return ExitPortFailed;
    }
    const bool echoed = AwaitEcho(link);
    if (options.json) {
        PrintJson({{QStringLiteral("port"), QString::fromStdString(port.name)},
                   {QStringLiteral("serial"), QString::fromStdString(serial)},
                   {QStringLiteral("product"), product},
                   {QStringLiteral("echoed"), echoed}});
    }
    if (!echoed) {
        Say("port " + port.name + ": no echo from the bus interface to the identify request");
        return ExitProgrammingFailed;
    }
    if (!options.quiet) {
        Say("identify request for serial number " + serial + " (product " +
            std::to_string(product) +
            ") went out on the bus; it has no reply: the device's own signal is the only proof");
    }
    return ExitDone;
}
