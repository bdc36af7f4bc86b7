#include "platform/mpris.h"

#include <dbus/dbus.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {
namespace {

constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";
constexpr const char* kRootInterface = "org.mpris.MediaPlayer2";
constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";
constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";
constexpr const char* kIntrospectableInterface = "org.freedesktop.DBus.Introspectable";
constexpr const char* kNoTrack = "/org/mpris/MediaPlayer2/TrackList/NoTrack";
constexpr double kMicroseconds = 1e6;  // MPRIS times are in microseconds

constexpr const char* kIntrospection =
    "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n"
    "<node>\n"
    " <interface name=\"org.freedesktop.DBus.Introspectable\">\n"
    "  <method name=\"Introspect\"><arg name=\"xml\" type=\"s\" direction=\"out\"/></method>\n"
    " </interface>\n"
    " <interface name=\"org.freedesktop.DBus.Properties\">\n"
    "  <method name=\"Get\"><arg type=\"s\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
    "<arg type=\"v\" direction=\"out\"/></method>\n"
    "  <method name=\"GetAll\"><arg type=\"s\" direction=\"in\"/><arg type=\"a{sv}\" "
    "direction=\"out\"/></method>\n"
    "  <method name=\"Set\"><arg type=\"s\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
    "<arg type=\"v\" direction=\"in\"/></method>\n"
    "  <signal name=\"PropertiesChanged\"><arg type=\"s\"/><arg type=\"a{sv}\"/><arg type=\"as\"/></signal>\n"
    " </interface>\n"
    " <interface name=\"org.mpris.MediaPlayer2\">\n"
    "  <method name=\"Raise\"/><method name=\"Quit\"/>\n"
    "  <property name=\"CanQuit\" type=\"b\" access=\"read\"/>\n"
    "  <property name=\"CanRaise\" type=\"b\" access=\"read\"/>\n"
    "  <property name=\"HasTrackList\" type=\"b\" access=\"read\"/>\n"
    "  <property name=\"Identity\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"DesktopEntry\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"SupportedUriSchemes\" type=\"as\" access=\"read\"/>\n"
    "  <property name=\"SupportedMimeTypes\" type=\"as\" access=\"read\"/>\n"
    " </interface>\n"
    " <interface name=\"org.mpris.MediaPlayer2.Player\">\n"
    "  <method name=\"Next\"/><method name=\"Previous\"/><method name=\"Pause\"/>\n"
    "  <method name=\"PlayPause\"/><method name=\"Stop\"/><method name=\"Play\"/>\n"
    "  <method name=\"Seek\"><arg name=\"Offset\" type=\"x\" direction=\"in\"/></method>\n"
    "  <method name=\"SetPosition\"><arg name=\"TrackId\" type=\"o\" direction=\"in\"/>"
    "<arg name=\"Position\" type=\"x\" direction=\"in\"/></method>\n"
    "  <method name=\"OpenUri\"><arg name=\"Uri\" type=\"s\" direction=\"in\"/></method>\n"
    "  <signal name=\"Seeked\"><arg name=\"Position\" type=\"x\"/></signal>\n"
    "  <property name=\"PlaybackStatus\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"Rate\" type=\"d\" access=\"readwrite\"/>\n"
    "  <property name=\"Metadata\" type=\"a{sv}\" access=\"read\"/>\n"
    "  <property name=\"Volume\" type=\"d\" access=\"readwrite\"/>\n"
    "  <property name=\"Position\" type=\"x\" access=\"read\"/>\n"
    "  <property name=\"MinimumRate\" type=\"d\" access=\"read\"/>\n"
    "  <property name=\"MaximumRate\" type=\"d\" access=\"read\"/>\n"
    "  <property name=\"CanGoNext\" type=\"b\" access=\"read\"/>\n"
    "  <property name=\"CanGoPrevious\" type=\"b\" access=\"read\"/>\n"
    "  <property name=\"CanPlay\" type=\"b\" access=\"read\"/>\n"
    "  <property name=\"CanPause\" type=\"b\" access=\"read\"/>\n"
    "  <property name=\"CanSeek\" type=\"b\" access=\"read\"/>\n"
    "  <property name=\"CanControl\" type=\"b\" access=\"read\"/>\n"
    " </interface>\n"
    "</node>\n";

struct ConnectionCloser {
    void operator()(DBusConnection* c) const {
        dbus_connection_close(c);
        dbus_connection_unref(c);
    }
};
using ConnectionPtr = std::unique_ptr<DBusConnection, ConnectionCloser>;

struct MessageUnref {
    void operator()(DBusMessage* m) const { dbus_message_unref(m); }
};
using MessagePtr = std::unique_ptr<DBusMessage, MessageUnref>;

// A DBusError that frees itself.
struct BusError {
    DBusError e;
    BusError() { dbus_error_init(&e); }
    ~BusError() { dbus_error_free(&e); }
    BusError(const BusError&) = delete;
    BusError& operator=(const BusError&) = delete;
    [[nodiscard]] bool Set() const { return dbus_error_is_set(&e) != 0; }
};

const char* PlaybackWord(MprisPlayback playback) {
    switch (playback) {
        case MprisPlayback::Playing:
            return "Playing";
        case MprisPlayback::Paused:
            return "Paused";
        case MprisPlayback::Stopped:
            break;
    }
    return "Stopped";
}

int64_t Micro(double seconds) {
    return std::isfinite(seconds) && seconds > 0 ? static_cast<int64_t>(std::llround(seconds * kMicroseconds))
                                                 : 0;
}

// A local path as a file:// URL: every byte but the unreserved ones and the slashes escaped.
std::string FileUrl(const std::string& path) {
    std::error_code error;
    const std::string absolute = std::filesystem::absolute(path, error).lexically_normal().string();
    std::string url = "file://";
    for (const char ch : error ? path : absolute) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
            c == '-' || c == '_' || c == '.' || c == '~') {
            url.push_back(ch);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            url += escaped;
        }
    }
    return url;
}

// The local path a file:// URL names; "" for any other URL, or one that is not well formed.
std::string PathOfFileUrl(const std::string& url) {
    constexpr std::string_view kScheme = "file://";
    if (url.compare(0, kScheme.size(), kScheme) != 0) return {};
    std::string rest = url.substr(kScheme.size());
    // "file://localhost/x" and "file:///x" both name /x; another host is not this machine's.
    if (rest.compare(0, 9, "localhost") == 0) rest.erase(0, 9);
    if (rest.empty() || rest[0] != '/') return {};
    std::string path;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != '%') {
            path.push_back(rest[i]);
            continue;
        }
        unsigned value = 0;
        if (i + 2 >= rest.size() || std::sscanf(rest.substr(i + 1, 2).c_str(), "%2x", &value) != 1 ||
            !std::isxdigit(static_cast<unsigned char>(rest[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(rest[i + 2])) || value == 0)
            return {};
        path.push_back(static_cast<char>(value));
        i += 2;
    }
    return path;
}

// An a{sv} dictionary being appended to `parent`; closed when it goes.
class Dict {
  public:
    explicit Dict(DBusMessageIter& parent) : parent_(parent) {
        dbus_message_iter_open_container(&parent_, DBUS_TYPE_ARRAY, "{sv}", &dict_);
    }
    ~Dict() { dbus_message_iter_close_container(&parent_, &dict_); }
    Dict(const Dict&) = delete;
    Dict& operator=(const Dict&) = delete;

    // One entry: `append` adds its value, as a variant, to the entry it is given.
    template <typename Append>
    void Add(const char* key, Append&& append) {
        DBusMessageIter entry;
        dbus_message_iter_open_container(&dict_, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
        dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
        append(entry);
        dbus_message_iter_close_container(&dict_, &entry);
    }

  private:
    DBusMessageIter& parent_;
    DBusMessageIter dict_{};
};

}  // namespace

struct MprisService::Impl {
    ConnectionPtr connection;
    std::string busName, identity, desktopEntry;
    MprisHandlers handlers;
    MprisState state;      // as last reported
    MprisState announced;  // as the controls were last told
    bool reported = false;
    uint64_t track = 0;  // counts the songs reported, for the track ids
    bool alive = true;

    [[nodiscard]] std::string TrackId() const {
        if (state.path.empty()) return kNoTrack;
        return "/org/mpris/MediaPlayer2/Track/" + std::to_string(track);
    }

    // One property's value, as the variant it goes in. False for a property the interface has not.
    bool AppendProperty(const std::string& interface, const std::string& name, DBusMessageIter& out) const;
    void AppendAll(const std::string& interface, DBusMessageIter& out) const;
    void AppendMetadata(DBusMessageIter& out) const;

    DBusHandlerResult Handle(DBusMessage* message);
    void HandlePlayer(const std::string& member, DBusMessage* message, MessagePtr& reply);
    void HandleProperties(const std::string& member, DBusMessage* message, MessagePtr& reply);
    void Announce();
    void Send(DBusMessage* message) {
        if (message != nullptr) dbus_connection_send(connection.get(), message, nullptr);
    }
};

namespace {

void AppendBool(DBusMessageIter& it, bool value) {
    DBusMessageIter v;
    dbus_message_iter_open_container(&it, DBUS_TYPE_VARIANT, "b", &v);
    const dbus_bool_t b = value ? TRUE : FALSE;
    dbus_message_iter_append_basic(&v, DBUS_TYPE_BOOLEAN, &b);
    dbus_message_iter_close_container(&it, &v);
}

void AppendString(DBusMessageIter& it, const std::string& value, int type = DBUS_TYPE_STRING) {
    DBusMessageIter v;
    dbus_message_iter_open_container(&it, DBUS_TYPE_VARIANT, type == DBUS_TYPE_STRING ? "s" : "o", &v);
    const char* text = value.c_str();
    dbus_message_iter_append_basic(&v, type, &text);
    dbus_message_iter_close_container(&it, &v);
}

void AppendDouble(DBusMessageIter& it, double value) {
    DBusMessageIter v;
    dbus_message_iter_open_container(&it, DBUS_TYPE_VARIANT, "d", &v);
    dbus_message_iter_append_basic(&v, DBUS_TYPE_DOUBLE, &value);
    dbus_message_iter_close_container(&it, &v);
}

void AppendInt64(DBusMessageIter& it, int64_t value) {
    DBusMessageIter v;
    dbus_message_iter_open_container(&it, DBUS_TYPE_VARIANT, "x", &v);
    const dbus_int64_t x = value;
    dbus_message_iter_append_basic(&v, DBUS_TYPE_INT64, &x);
    dbus_message_iter_close_container(&it, &v);
}

void AppendStrings(DBusMessageIter& it, std::initializer_list<const char*> values) {
    DBusMessageIter v, array;
    dbus_message_iter_open_container(&it, DBUS_TYPE_VARIANT, "as", &v);
    dbus_message_iter_open_container(&v, DBUS_TYPE_ARRAY, "s", &array);
    for (const char* value : values) dbus_message_iter_append_basic(&array, DBUS_TYPE_STRING, &value);
    dbus_message_iter_close_container(&v, &array);
    dbus_message_iter_close_container(&it, &v);
}

constexpr const char* kRootProperties[] = {"CanQuit",           "CanRaise",     "HasTrackList",
                                           "Identity",          "DesktopEntry", "SupportedUriSchemes",
                                           "SupportedMimeTypes"};
constexpr const char* kPlayerProperties[] = {
    "PlaybackStatus", "Rate",          "Metadata", "Volume",   "Position", "MinimumRate", "MaximumRate",
    "CanGoNext",      "CanGoPrevious", "CanPlay",  "CanPause", "CanSeek",  "CanControl"};

}  // namespace

void MprisService::Impl::AppendMetadata(DBusMessageIter& out) const {
    DBusMessageIter v;
    dbus_message_iter_open_container(&out, DBUS_TYPE_VARIANT, "a{sv}", &v);
    {
        Dict dict(v);
        dict.Add("mpris:trackid",
                 [&](DBusMessageIter& e) { AppendString(e, TrackId(), DBUS_TYPE_OBJECT_PATH); });
        if (!state.path.empty()) {
            dict.Add("xesam:url", [&](DBusMessageIter& e) { AppendString(e, FileUrl(state.path)); });
            if (!state.title.empty())
                dict.Add("xesam:title", [&](DBusMessageIter& e) { AppendString(e, state.title); });
            if (state.lengthSeconds > 0)
                dict.Add("mpris:length",
                         [&](DBusMessageIter& e) { AppendInt64(e, Micro(state.lengthSeconds)); });
        }
    }
    dbus_message_iter_close_container(&out, &v);
}

void MprisService::Impl::AppendAll(const std::string& interface, DBusMessageIter& out) const {
    Dict dict(out);
    if (interface == kRootInterface) {
        for (const char* name : kRootProperties)
            dict.Add(name, [&](DBusMessageIter& e) { (void)AppendProperty(interface, name, e); });
    } else if (interface == kPlayerInterface) {
        for (const char* name : kPlayerProperties)
            dict.Add(name, [&](DBusMessageIter& e) { (void)AppendProperty(interface, name, e); });
    }
}

bool MprisService::Impl::AppendProperty(const std::string& interface, const std::string& name,
                                        DBusMessageIter& out) const {
    const bool control = handlers.command != nullptr;
    if (interface == kRootInterface) {
        if (name == "CanQuit" || name == "CanRaise") {
            AppendBool(out, control);
        } else if (name == "HasTrackList") {
            AppendBool(out, false);
        } else if (name == "Identity") {
            AppendString(out, identity);
        } else if (name == "DesktopEntry") {
            AppendString(out, desktopEntry);
        } else if (name == "SupportedUriSchemes") {
            AppendStrings(out, {"file"});
        } else if (name == "SupportedMimeTypes") {
            AppendStrings(out, {"audio/midi", "audio/x-midi"});
        } else {
            return false;
        }
        return true;
    }
    if (interface != kPlayerInterface) return false;
    if (name == "PlaybackStatus") {
        AppendString(out, PlaybackWord(state.playback));
    } else if (name == "Rate" || name == "MinimumRate" || name == "MaximumRate") {
        AppendDouble(out, 1.0);
    } else if (name == "Metadata") {
        AppendMetadata(out);
    } else if (name == "Volume") {
        AppendDouble(out, state.volume);
    } else if (name == "Position") {
        AppendInt64(out, Micro(state.positionSeconds));
    } else if (name == "CanGoNext") {
        AppendBool(out, control && state.canGoNext);
    } else if (name == "CanGoPrevious") {
        AppendBool(out, control && state.canGoPrevious);
    } else if (name == "CanPlay" || name == "CanPause") {
        AppendBool(out, control && state.canPlay);
    } else if (name == "CanSeek") {
        AppendBool(out, handlers.seek != nullptr && state.canSeek);
    } else if (name == "CanControl") {
        AppendBool(out, true);
    } else {
        return false;
    }
    return true;
}

void MprisService::Impl::HandlePlayer(const std::string& member, DBusMessage* message, MessagePtr& reply) {
    static constexpr std::pair<const char*, MprisCommand> kCommands[] = {
        {"Play", MprisCommand::Play}, {"Pause", MprisCommand::Pause}, {"PlayPause", MprisCommand::PlayPause},
        {"Stop", MprisCommand::Stop}, {"Next", MprisCommand::Next},   {"Previous", MprisCommand::Previous},
    };
    for (const auto& [name, command] : kCommands) {
        if (member != name) continue;
        if (handlers.command) handlers.command(command);
        reply.reset(dbus_message_new_method_return(message));
        return;
    }
    BusError error;
    const double length = state.lengthSeconds > 0 ? state.lengthSeconds : 0.0;
    if (member == "Seek") {
        dbus_int64_t offset = 0;
        if (!dbus_message_get_args(message, &error.e, DBUS_TYPE_INT64, &offset, DBUS_TYPE_INVALID)) {
            reply.reset(dbus_message_new_error(message, DBUS_ERROR_INVALID_ARGS, error.e.message));
            return;
        }
        const double target = state.positionSeconds + static_cast<double>(offset) / kMicroseconds;
        // Past the end is the next song, as the controls expect; before the start is the start.
        if (length > 0 && target > length && state.canGoNext) {
            if (handlers.command) handlers.command(MprisCommand::Next);
        } else if (handlers.seek && state.canSeek) {
            handlers.seek(std::clamp(target, 0.0, length > 0 ? length : std::max(target, 0.0)));
        }
        reply.reset(dbus_message_new_method_return(message));
        return;
    }
    if (member == "SetPosition") {
        const char* track = nullptr;
        dbus_int64_t position = 0;
        if (!dbus_message_get_args(message, &error.e, DBUS_TYPE_OBJECT_PATH, &track, DBUS_TYPE_INT64,
                                   &position, DBUS_TYPE_INVALID)) {
            reply.reset(dbus_message_new_error(message, DBUS_ERROR_INVALID_ARGS, error.e.message));
            return;
        }
        // A request for another song than the one loaded, or for a place outside it, is stale and
        // ignored, as the convention asks.
        const double seconds = static_cast<double>(position) / kMicroseconds;
        if (TrackId() == track && seconds >= 0 && (length <= 0 || seconds <= length) && handlers.seek &&
            state.canSeek)
            handlers.seek(seconds);
        reply.reset(dbus_message_new_method_return(message));
        return;
    }
    if (member == "OpenUri") {
        const char* uri = nullptr;
        if (!dbus_message_get_args(message, &error.e, DBUS_TYPE_STRING, &uri, DBUS_TYPE_INVALID)) {
            reply.reset(dbus_message_new_error(message, DBUS_ERROR_INVALID_ARGS, error.e.message));
            return;
        }
        const std::string path = PathOfFileUrl(uri);
        if (path.empty() || !handlers.open) {
            reply.reset(
                dbus_message_new_error(message, DBUS_ERROR_NOT_SUPPORTED, "Only local files can be opened"));
            return;
        }
        handlers.open(path);
        reply.reset(dbus_message_new_method_return(message));
        return;
    }
    reply.reset(dbus_message_new_error(message, DBUS_ERROR_UNKNOWN_METHOD, member.c_str()));
}

void MprisService::Impl::HandleProperties(const std::string& member, DBusMessage* message,
                                          MessagePtr& reply) {
    BusError error;
    const char* interface = nullptr;
    const char* name = nullptr;
    if (member == "Get") {
        if (!dbus_message_get_args(message, &error.e, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &name,
                                   DBUS_TYPE_INVALID)) {
            reply.reset(dbus_message_new_error(message, DBUS_ERROR_INVALID_ARGS, error.e.message));
            return;
        }
        reply.reset(dbus_message_new_method_return(message));
        if (reply == nullptr) return;
        DBusMessageIter out;
        dbus_message_iter_init_append(reply.get(), &out);
        if (!AppendProperty(interface, name, out))
            reply.reset(dbus_message_new_error(message, DBUS_ERROR_UNKNOWN_PROPERTY, name));
        return;
    }
    if (member == "GetAll") {
        if (!dbus_message_get_args(message, &error.e, DBUS_TYPE_STRING, &interface, DBUS_TYPE_INVALID)) {
            reply.reset(dbus_message_new_error(message, DBUS_ERROR_INVALID_ARGS, error.e.message));
            return;
        }
        reply.reset(dbus_message_new_method_return(message));
        if (reply == nullptr) return;
        DBusMessageIter out;
        dbus_message_iter_init_append(reply.get(), &out);
        AppendAll(interface, out);
        return;
    }
    if (member != "Set") {
        reply.reset(dbus_message_new_error(message, DBUS_ERROR_UNKNOWN_METHOD, member.c_str()));
        return;
    }
    // Set(s interface, s name, v value): only the volume can be set; the rate stays at 1.
    DBusMessageIter in, value;
    if (!dbus_message_iter_init(message, &in) || dbus_message_iter_get_arg_type(&in) != DBUS_TYPE_STRING) {
        reply.reset(dbus_message_new_error(message, DBUS_ERROR_INVALID_ARGS, "Set takes (ssv)"));
        return;
    }
    dbus_message_iter_get_basic(&in, &interface);
    if (!dbus_message_iter_next(&in) || dbus_message_iter_get_arg_type(&in) != DBUS_TYPE_STRING) {
        reply.reset(dbus_message_new_error(message, DBUS_ERROR_INVALID_ARGS, "Set takes (ssv)"));
        return;
    }
    dbus_message_iter_get_basic(&in, &name);
    if (!dbus_message_iter_next(&in) || dbus_message_iter_get_arg_type(&in) != DBUS_TYPE_VARIANT) {
        reply.reset(dbus_message_new_error(message, DBUS_ERROR_INVALID_ARGS, "Set takes (ssv)"));
        return;
    }
    dbus_message_iter_recurse(&in, &value);
    const std::string property = name;
    if (std::string(interface) != kPlayerInterface || (property != "Volume" && property != "Rate")) {
        reply.reset(dbus_message_new_error(message, DBUS_ERROR_PROPERTY_READ_ONLY, name));
        return;
    }
    if (dbus_message_iter_get_arg_type(&value) != DBUS_TYPE_DOUBLE) {
        reply.reset(dbus_message_new_error(message, DBUS_ERROR_INVALID_ARGS, "a double is expected"));
        return;
    }
    double number = 0;
    dbus_message_iter_get_basic(&value, &number);
    if (property == "Volume" && std::isfinite(number) && handlers.setVolume)
        handlers.setVolume(std::clamp(number, 0.0, 1.0));
    reply.reset(dbus_message_new_method_return(message));
}

DBusHandlerResult MprisService::Impl::Handle(DBusMessage* message) {
    if (dbus_message_get_type(message) != DBUS_MESSAGE_TYPE_METHOD_CALL)
        return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    const char* interfaceText = dbus_message_get_interface(message);
    const std::string interface = interfaceText != nullptr ? interfaceText : "";
    const std::string member = dbus_message_get_member(message);
    MessagePtr reply;
    if (interface == kPlayerInterface) {
        HandlePlayer(member, message, reply);
    } else if (interface == kPropertiesInterface) {
        HandleProperties(member, message, reply);
    } else if (interface == kRootInterface && (member == "Raise" || member == "Quit")) {
        if (handlers.command) handlers.command(member == "Raise" ? MprisCommand::Raise : MprisCommand::Quit);
        reply.reset(dbus_message_new_method_return(message));
    } else if (interface == kIntrospectableInterface && member == "Introspect") {
        reply.reset(dbus_message_new_method_return(message));
        if (reply != nullptr)
            dbus_message_append_args(reply.get(), DBUS_TYPE_STRING, &kIntrospection, DBUS_TYPE_INVALID);
    } else {
        reply.reset(dbus_message_new_error(message, DBUS_ERROR_UNKNOWN_METHOD, member.c_str()));
    }
    if (!dbus_message_get_no_reply(message)) Send(reply.get());
    return DBUS_HANDLER_RESULT_HANDLED;
}

// Tells the controls what changed since they were last told: the properties they cache, in one
// PropertiesChanged signal, and a jump of the position as Seeked.
void MprisService::Impl::Announce() {
    const MprisState& was = announced;
    std::vector<const char*> changed;
    if (state.playback != was.playback) changed.push_back("PlaybackStatus");
    if (state.path != was.path || state.title != was.title || state.lengthSeconds != was.lengthSeconds)
        changed.push_back("Metadata");
    if (state.volume != was.volume) changed.push_back("Volume");
    if (state.canGoNext != was.canGoNext) changed.push_back("CanGoNext");
    if (state.canGoPrevious != was.canGoPrevious) changed.push_back("CanGoPrevious");
    if (state.canPlay != was.canPlay) {
        changed.push_back("CanPlay");
        changed.push_back("CanPause");
    }
    if (state.canSeek != was.canSeek) changed.push_back("CanSeek");
    if (!changed.empty()) {
        MessagePtr signal(dbus_message_new_signal(kObjectPath, kPropertiesInterface, "PropertiesChanged"));
        if (signal != nullptr) {
            DBusMessageIter out, invalidated;
            dbus_message_iter_init_append(signal.get(), &out);
            const char* interface = kPlayerInterface;
            dbus_message_iter_append_basic(&out, DBUS_TYPE_STRING, &interface);
            {
                Dict dict(out);
                for (const char* name : changed)
                    dict.Add(name,
                             [&](DBusMessageIter& e) { (void)AppendProperty(kPlayerInterface, name, e); });
            }
            dbus_message_iter_open_container(&out, DBUS_TYPE_ARRAY, "s", &invalidated);
            dbus_message_iter_close_container(&out, &invalidated);
            Send(signal.get());
        }
    }
    if (state.jumps != was.jumps) {
        MessagePtr signal(dbus_message_new_signal(kObjectPath, kPlayerInterface, "Seeked"));
        const dbus_int64_t position = Micro(state.positionSeconds);
        if (signal != nullptr &&
            dbus_message_append_args(signal.get(), DBUS_TYPE_INT64, &position, DBUS_TYPE_INVALID))
            Send(signal.get());
    }
    announced = state;
}

namespace {

DBusHandlerResult OnMessage(DBusConnection*, DBusMessage* message, void* data) {
    return static_cast<MprisService::Impl*>(data)->Handle(message);
}

}  // namespace

Made<MprisService> MprisService::Start(const std::string& name, const std::string& identity,
                                       const std::string& desktopEntry, MprisHandlers handlers) {
    auto unavailable = [](std::string why) {
        return Made<MprisService>::Not(FailureKind::TargetOpen, std::move(why));
    };
    BusError error;
    // A connection of its own, so that closing it here leaves any other user of the bus alone.
    ConnectionPtr connection(dbus_bus_get_private(DBUS_BUS_SESSION, &error.e));
    if (connection == nullptr) {
        return unavailable(error.Set() ? error.e.message : "no session bus");
    }
    // Losing the bus must never end the player.
    dbus_connection_set_exit_on_disconnect(connection.get(), FALSE);
    auto impl = std::make_unique<Impl>();
    impl->identity = identity;
    impl->desktopEntry = desktopEntry;
    impl->handlers = std::move(handlers);
    const std::string base = std::string(kRootInterface) + "." + name;
    for (const std::string& candidate : {base, base + ".instance" + std::to_string(::getpid())}) {
        const int got =
            dbus_bus_request_name(connection.get(), candidate.c_str(), DBUS_NAME_FLAG_DO_NOT_QUEUE, &error.e);
        if (error.Set()) {
            return unavailable(std::string("cannot take the name ") + candidate + ": " + error.e.message);
        }
        if (got == DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER || got == DBUS_REQUEST_NAME_REPLY_ALREADY_OWNER) {
            impl->busName = candidate;
            break;
        }
    }
    if (impl->busName.empty()) {
        return unavailable("another player holds the name " + base);
    }
    static const DBusObjectPathVTable kTable = {nullptr, OnMessage, nullptr, nullptr, nullptr, nullptr};
    if (!dbus_connection_try_register_object_path(connection.get(), kObjectPath, &kTable, impl.get(),
                                                  &error.e)) {
        return unavailable(error.Set() ? error.e.message : "cannot register the player's object");
    }
    impl->connection = std::move(connection);
    return Made<MprisService>::Of(std::unique_ptr<MprisService>(new MprisService(std::move(impl))));
}

MprisService::MprisService(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

MprisService::~MprisService() {
    if (impl_->connection != nullptr)
        dbus_connection_unregister_object_path(impl_->connection.get(), kObjectPath);
}

const std::string& MprisService::BusName() const {
    return impl_->busName;
}

void MprisService::Poll(const MprisState& state) {
    Impl& m = *impl_;
    if (!m.alive) return;
    if (state.path != m.state.path) ++m.track;
    m.state = state;
    if (!m.reported) {
        // Nobody has been told anything yet: there is nothing to compare with.
        m.announced = state;
        m.reported = true;
    } else {
        m.Announce();
    }
    DBusConnection* c = m.connection.get();
    // One look at the socket, without waiting: what has come is read and what is queued written.
    if (!dbus_connection_read_write(c, 0)) {
        m.alive = false;
        return;
    }
    while (dbus_connection_dispatch(c) == DBUS_DISPATCH_DATA_REMAINS) {
    }
    // The replies just made go out now rather than a frame later.
    if (!dbus_connection_read_write(c, 0)) m.alive = false;
}

}  // namespace platform
