// GlobalShortcut over X11: passive key grabs on the root window through xcb.
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <QSocketNotifier>

#include <cstdlib>
#include <vector>

#include "base/log_file.h"
#include "capture/x11/global_shortcut.h"

namespace {

// X keysyms of the keys a shortcut may use (values of X11/keysymdef.h).
constexpr xcb_keysym_t kKeysymF1 = 0xffbe;
constexpr xcb_keysym_t kKeysymNumLock = 0xff7f;

xcb_keysym_t keysymOf(int qtKey) {
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F35) return kKeysymF1 + (qtKey - Qt::Key_F1);
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return xcb_keysym_t('a' + (qtKey - Qt::Key_A));
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return xcb_keysym_t('0' + (qtKey - Qt::Key_0));
    return 0;
}

uint16_t modifiersOf(Qt::KeyboardModifiers modifiers) {
    uint16_t mask = 0;
    if (modifiers & Qt::ShiftModifier) mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & Qt::ControlModifier) mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & Qt::AltModifier) mask |= XCB_MOD_MASK_1;
    if (modifiers & Qt::MetaModifier) mask |= XCB_MOD_MASK_4;
    return mask;
}

}  // namespace

struct GlobalShortcut::Grab {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
    xcb_key_symbols_t* symbols = nullptr;
    std::vector<xcb_keycode_t> keycodes;  // every keycode that produces the key
    uint16_t modifiers = 0;
    uint16_t lockModifiers = 0;  // Caps Lock and Num Lock: ignored when matching
    bool grabbed = false;
    std::unique_ptr<QSocketNotifier> notifier;

    ~Grab() {
        notifier.reset();
        if (grabbed) {
            for (xcb_keycode_t keycode : keycodes)
                xcb_ungrab_key(connection, keycode, root, XCB_MOD_MASK_ANY);
            xcb_flush(connection);
        }
        if (symbols) xcb_key_symbols_free(symbols);
        if (connection) xcb_disconnect(connection);
    }

    // The modifier bit that Num Lock sets on this display (usually Mod2).
    uint16_t numLockMask() {
        uint16_t mask = 0;
        xcb_keycode_t* numLock = xcb_key_symbols_get_keycode(symbols, kKeysymNumLock);
        xcb_get_modifier_mapping_reply_t* mapping = xcb_get_modifier_mapping_reply(
            connection, xcb_get_modifier_mapping(connection), nullptr);
        if (numLock && mapping) {
            const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mapping);
            const int perModifier = mapping->keycodes_per_modifier;
            for (int modifier = 0; modifier < 8; ++modifier)
                for (int i = 0; i < perModifier; ++i)
                    for (xcb_keycode_t* code = numLock; *code != XCB_NO_SYMBOL; ++code)
                        if (codes[modifier * perModifier + i] == *code)
                            mask = uint16_t(1 << modifier);
        }
        std::free(mapping);
        std::free(numLock);
        return mask;
    }
};

GlobalShortcut::GlobalShortcut(const QKeySequence& shortcut, QObject* parent) : QObject(parent) {
    setShortcut(shortcut);
}

GlobalShortcut::~GlobalShortcut() = default;

bool GlobalShortcut::isGrabbed() const {
    return m_grab && m_grab->grabbed;
}

bool GlobalShortcut::setShortcut(const QKeySequence& shortcut) {
    m_grab.reset();
    m_shortcut = shortcut;
    const QString name = shortcut.toString();
    if (shortcut.isEmpty()) return false;
    const QKeyCombination combination = shortcut[0];
    const xcb_keysym_t keysym = keysymOf(combination.key());
    if (!keysym) {
        gLog.warn("hot key %s: this key cannot be a hot key\n", qPrintable(name));
        return false;
    }

    auto grab = std::make_unique<Grab>();
    int screenNumber = 0;
    grab->connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(grab->connection)) {
        gLog.warn("hot key %s: no X display to grab it on\n", qPrintable(name));
        return false;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(grab->connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    grab->root = screens.data->root;
    grab->symbols = xcb_key_symbols_alloc(grab->connection);
    if (xcb_keycode_t* codes = xcb_key_symbols_get_keycode(grab->symbols, keysym)) {
        for (xcb_keycode_t* code = codes; *code != XCB_NO_SYMBOL; ++code)
            grab->keycodes.push_back(*code);
        std::free(codes);
    }
    if (grab->keycodes.empty()) {
        gLog.warn("hot key %s: the keyboard has no such key\n", qPrintable(name));
        return false;
    }
    grab->modifiers = modifiersOf(combination.keyboardModifiers());
    grab->lockModifiers = uint16_t(XCB_MOD_MASK_LOCK | grab->numLockMask());

    const uint16_t numLock = uint16_t(grab->lockModifiers & ~XCB_MOD_MASK_LOCK);
    const uint16_t variants[] = {0, XCB_MOD_MASK_LOCK, numLock,
                                 uint16_t(XCB_MOD_MASK_LOCK | numLock)};
    bool conflict = false;
    std::vector<xcb_void_cookie_t> cookies;
    for (xcb_keycode_t keycode : grab->keycodes)
        for (uint16_t variant : variants)
            cookies.push_back(xcb_grab_key_checked(grab->connection, 1, grab->root,
                                                   uint16_t(grab->modifiers | variant), keycode,
                                                   XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    for (xcb_void_cookie_t cookie : cookies) {
        if (xcb_generic_error_t* error = xcb_request_check(grab->connection, cookie)) {
            conflict = true;
            std::free(error);
        }
    }
    grab->grabbed = true;  // release whatever part of the grab succeeded
    if (conflict) {
        gLog.warn("hot key %s is held by another program; use the buttons instead\n",
                  qPrintable(name));
        return false;
    }

    grab->notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(grab->connection),
                                                       QSocketNotifier::Read);
    connect(grab->notifier.get(), &QSocketNotifier::activated, this, &GlobalShortcut::readEvents);
    m_grab = std::move(grab);
    // Events that arrived during the set-up would otherwise wait for the next one.
    readEvents();
    return true;
}

void GlobalShortcut::readEvents() {
    if (!m_grab) return;
    xcb_connection_t* connection = m_grab->connection;
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
        if ((event->response_type & 0x7f) == XCB_KEY_PRESS) {
            const auto* press = reinterpret_cast<xcb_key_press_event_t*>(event);
            const uint16_t state = uint16_t(press->state & ~m_grab->lockModifiers & 0xff);
            bool ours = false;
            for (xcb_keycode_t keycode : m_grab->keycodes)
                ours |= press->detail == keycode;
            if (ours && state == m_grab->modifiers) {
                std::free(event);
                emit activated();
                if (!m_grab) return;  // a receiver changed the shortcut
                continue;
            }
        }
        std::free(event);
    }
    if (xcb_connection_has_error(connection)) {
        gLog.warn("hot key %s: the display connection is lost\n",
                  qPrintable(m_shortcut.toString()));
        m_grab->notifier->setEnabled(false);
    }
}
