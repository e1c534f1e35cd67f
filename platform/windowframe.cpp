#include "platform/windowframe.h"

#include <xcb/xcb.h>
#include <QGuiApplication>
#include <QThread>
#include <QWidget>
#include <cstdlib>
#include <memory>

namespace platform {
namespace {

// The window manager answers a frame request in a few milliseconds; past this the window is
// placed without its frame rather than holding up the start.
constexpr int kFrameRequestPolls = 50;
constexpr unsigned long kFrameRequestPollMs = 2;

template <typename T>
using XcbReply = std::unique_ptr<T, decltype(&std::free)>;

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
    XcbReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, uint16_t(qstrlen(name)), name), nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

bool supportedByWindowManager(xcb_connection_t* connection, xcb_window_t root, xcb_atom_t what) {
    const xcb_atom_t supported = atom(connection, "_NET_SUPPORTED");
    // The list is long (a hundred atoms or so); 1024 covers any window manager.
    XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, root, supported, XCB_ATOM_ATOM, 0, 1024),
            nullptr),
        &std::free);
    if (!reply || reply->type != XCB_ATOM_ATOM || reply->format != 32) {
        return false;
    }
    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / int(sizeof(xcb_atom_t));
    for (int i = 0; i < count; ++i) {
        if (atoms[i] == what) {
            return true;
        }
    }
    return false;
}

// _NET_FRAME_EXTENTS as the window manager set it on the window: left, right, top, bottom.
bool readFrameExtents(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t extents,
                      QMargins& margins) {
    XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, window, extents, XCB_ATOM_CARDINAL, 0, 4),
            nullptr),
        &std::free);
    if (!reply || reply->type != XCB_ATOM_CARDINAL || reply->format != 32 ||
        xcb_get_property_value_length(reply.get()) != 16) {
        return false;
    }
    const auto* value = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    margins = QMargins(int(value[0]), int(value[2]), int(value[1]), int(value[3]));
    return true;
}

QMargins announcedFrameMargins(QWidget& window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
    if (connection == nullptr) {
        return {};
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const xcb_atom_t request = atom(connection, "_NET_REQUEST_FRAME_EXTENTS");
    const xcb_atom_t extents = atom(connection, "_NET_FRAME_EXTENTS");
    if (request == XCB_ATOM_NONE || extents == XCB_ATOM_NONE ||
        !supportedByWindowManager(connection, root, request)) {
        return {};
    }
    // The window manager answers by placing the window it is asked about, which would undo the
    // place the window is about to get; so a stand-in with the same flags and size hints is
    // asked. It is never mapped, so nothing shows.
    QWidget probe(nullptr, window.windowFlags());
    probe.setMinimumSize(window.minimumSize());
    probe.setMaximumSize(window.maximumSize());
    probe.resize(window.size());
    const auto id = xcb_window_t(probe.winId());
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = id;
    message.type = request;
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection);
    QMargins margins;
    for (int poll = 0; poll < kFrameRequestPolls; ++poll) {
        if (readFrameExtents(connection, id, extents, margins)) {
            return margins;
        }
        QThread::msleep(kFrameRequestPollMs);
    }
    return {};
}

}  // namespace

QMargins windowFrameMargins(QWidget& window) {
    if (window.isVisible()) {
        const QRect frame = window.frameGeometry();
        const QRect client = window.geometry();
        return QMargins(client.left() - frame.left(), client.top() - frame.top(),
                        frame.right() - client.right(), frame.bottom() - client.bottom());
    }
    return announcedFrameMargins(window);
}

}  // namespace platform
