#include "monitor/traffic/traffic_receiver.h"

CTrafficReceiver::CTrafficReceiver(ITrafficOutput& output) : m_output(output) {}

void CTrafficReceiver::Receive(const std::uint8_t* data, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) {
        if (m_DisplayModeGrp == DisplayTrakbus)
            ReceiveByte(data[i]);
        else
            ReceiveRawByte(data[i]);
    }
}

void CTrafficReceiver::ReceiveByte(std::uint8_t b) {
    if (!m_rx.Step(b))
        return;
    TrafficLine line = TrafficLine::Message(m_rx.m_rxBuf, m_rx.m_nRxCount);
    // Counted with wrap-around: a run of days at full load passes 2^31 messages.
    m_nMessageCount = static_cast<std::int32_t>(static_cast<std::uint32_t>(m_nMessageCount) + 1u);
    if (m_UseTimeStamp) {
        line.stamped = true;
        line.number = m_nMessageCount;
        line.time = m_clock();
    }
    if (m_bPaused) {
        m_nMessageCount = 0;
        return;
    }
    m_output.AddLine(line);
    m_output.ScrollToEnd();
    m_output.CaptureLine(line);
}

void CTrafficReceiver::ReceiveRawByte(std::uint8_t b) {
    m_strRawLine.bytes[m_nRawCount] = b;
    m_strRawLine.length = ++m_nRawCount;
    if (m_nRawCount < TrafficLine::kRawLineBytes) {
        m_nRawCountdown = 2;
        return;
    }
    // The line is full: it takes the place of the last line, which showed it unfinished.
    m_output.ReplaceLastLine(m_strRawLine);
    m_output.CaptureLine(m_strRawLine);
    m_strRawLine = TrafficLine::Raw(nullptr, 0);
    m_output.AddLine(m_strRawLine); // stands for the next line under construction
    m_nRawCount = 0;
    m_nRawShown = 0;
    m_nRawCountdown = 0;
    m_output.ScrollToEnd();
}

void CTrafficReceiver::ShowRawLine() {
    m_output.ReplaceLastLine(m_strRawLine);
    m_output.ScrollToEnd();
    m_nRawShown = m_nRawCount;
}

void CTrafficReceiver::OnTimer(bool portOpen) {
    if (!portOpen)
        m_bPaused = 0;
    if (m_nRawCountdown != 0 && m_DisplayModeGrp == DisplayRaw) {
        if (--m_nRawCountdown == 0 && m_nRawCount != m_nRawShown) {
            ShowRawLine();
            m_nRawCountdown = 2;
        }
    } else {
        m_nRawCountdown = 2;
    }
}

void CTrafficReceiver::Restart() {
    m_bPaused = 0;
    m_strRawLine = TrafficLine::Raw(nullptr, 0);
    m_nRawCount = 0;
    m_nRawShown = 0;
    m_nMessageCount = 0;
}

bool CTrafficReceiver::TogglePause() {
    if (m_bPaused) {
        m_bPaused = 0;
    } else {
        m_bPaused = 1;
        m_nMessageCount = 0;
    }
    return m_bPaused != 0;
}

void CTrafficReceiver::SelectRawData() {
    // Coming from message lines, an empty line keeps the last message line from being taken
    // for the raw line that the next refresh replaces.
    if (m_DisplayModeGrp != DisplayRaw && m_output.LineCount() > 0)
        m_output.AddLine(TrafficLine::Raw(nullptr, 0));
    m_DisplayModeGrp = DisplayRaw;
    m_strRawLine = TrafficLine::Raw(nullptr, 0);
    m_nRawCount = 0;
    m_nRawShown = 0;
    m_nMessageCount = 0;
}

QString PortStatusText(bool portOpen, bool paused, int port) {
    if (!portOpen)
        return QStringLiteral("COM Port Closed");
    if (paused)
        return QStringLiteral("COM Port Paused");
    return QStringLiteral("COM Port %1 Open").arg(port);
}
