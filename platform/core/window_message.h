#pragma once
// Window messages between threads, over QtCore.
//
// A WindowMessageReceiver is a QObject that stands for a window: it has a WindowHandle, and
// messages posted to that handle from any thread are handled, in order, on the receiver's own
// thread by the handler mapped to the message number. A message whose receiver is destroyed
// before it is handled is dropped.
//
// A view, which as a QWidget cannot also be the receiver, owns one and passes it as the
// window object of CSerialMFC::OpenForWindow:
//
//   class CMyView : public QWidget {
//       platform::WindowMessageReceiver m_messages; // declared before the port, so that the
//       CSerialMFC m_serial;                        // port and its event thread go first
//   public:
//       CMyView() {
//           m_messages.MapMessage(CSerialWnd::defaultComMessage,
//                                 [this](platform::WParam w, platform::LParam l) {
//                                     OnSerialNotify(w, l);
//                                 });
//       }
//       void OpenPort() { m_serial.OpenForWindow("\\\\.\\COM3", &m_messages, 0, 12, 512, 512); }
//   };

#include <QObject>
#include <cstdint>
#include <functional>
#include <string_view>
#include <unordered_map>

namespace platform {

using WParam = std::uint32_t;
using LParam = std::int32_t;

// Names a receiver without pointing at it, so that a stale handle can do no harm.
class WindowHandle {
public:
    constexpr WindowHandle() = default;
    constexpr explicit WindowHandle(std::uint64_t id) : id_(id) {}
    constexpr std::uint64_t Id() const { return id_; }
    constexpr bool IsNull() const { return id_ == 0; }
    friend constexpr bool operator==(WindowHandle, WindowHandle) = default;

private:
    std::uint64_t id_ = 0;
};

// The message number for a name: the same number for the same name within the process, from
// 0xC000 on. Returns 0 for an empty name or when the numbers are used up. Thread-safe.
std::uint32_t RegisterWindowMessage(std::string_view name);

// Queues a message for the receiver named by window and returns at once. Returns false when no
// such receiver exists (a null or stale handle). Safe from any thread.
bool PostMessage(WindowHandle window, std::uint32_t message, WParam wParam, LParam lParam);

class WindowMessageReceiver : public QObject {
public:
    using Handler = std::function<void(WParam, LParam)>;

    explicit WindowMessageReceiver(QObject* parent = nullptr);
    ~WindowMessageReceiver() override;

    WindowHandle Handle() const { return handle_; }

    // Maps a message number to its handler (replacing an earlier one). Call on the receiver's
    // thread. Messages without a handler are ignored.
    void MapMessage(std::uint32_t message, Handler handler);

protected:
    bool event(QEvent* event) override;

private:
    WindowHandle handle_;
    std::unordered_map<std::uint32_t, Handler> handlers_;
};

} // namespace platform
