// libdbus, loaded only when the desktop portal is first needed: a capture
// served by another screen never loads it, and the library does not name it
// among its dependencies. The few functions used are resolved once into a
// table; the headers come from libdbus-1-dev at build time.
#pragma once

#include <dbus/dbus.h>

namespace kplat {
namespace portal {

#define KESTREL_DBUS_CALLS(X)          \
  X(address_entries_free)              \
  X(address_entry_get_method)          \
  X(address_entry_get_value)           \
  X(bus_get_unique_name)               \
  X(bus_set_unique_name)               \
  X(connection_close)                  \
  X(connection_get_unix_fd)            \
  X(connection_has_messages_to_send)   \
  X(connection_open_private)           \
  X(connection_pop_message)            \
  X(connection_read_write)             \
  X(connection_send)                   \
  X(connection_set_change_sigpipe)     \
  X(connection_set_exit_on_disconnect) \
  X(connection_unref)                  \
  X(error_free)                        \
  X(error_init)                        \
  X(message_append_args)               \
  X(message_get_args)                  \
  X(message_get_reply_serial)          \
  X(message_get_sender)                \
  X(message_get_type)                  \
  X(message_has_path)                  \
  X(message_has_signature)             \
  X(message_is_signal)                 \
  X(message_iter_append_basic)         \
  X(message_iter_close_container)      \
  X(message_iter_get_arg_type)         \
  X(message_iter_get_basic)            \
  X(message_iter_init)                 \
  X(message_iter_init_append)          \
  X(message_iter_next)                 \
  X(message_iter_open_container)       \
  X(message_iter_recurse)              \
  X(message_new_method_call)           \
  X(message_set_no_reply)              \
  X(message_unref)                     \
  X(parse_address)

// dbus_NAME as the field NAME, typed from libdbus's own declaration.
struct DBusCalls {
#define KESTREL_DBUS_FIELD(name) decltype(&::dbus_##name) name;
  KESTREL_DBUS_CALLS(KESTREL_DBUS_FIELD)
#undef KESTREL_DBUS_FIELD
};

// Loads libdbus-1.so.3 at the first call (it stays loaded: libdbus keeps
// process-wide state); NULL when it or one of its functions is missing.
const DBusCalls *LoadDBus();

// The loaded table, for code that runs only once LoadDBus has succeeded
// (it holds a connection or a message made through it).
const DBusCalls &Dbus();

}  // namespace portal
}  // namespace kplat
