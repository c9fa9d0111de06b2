#include "hubOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace {

// Decimal, or hexadecimal after 0x; the whole text must be the number.
bool parseLong(const std::string& text, long& value)
{
    if (text.empty())
        return false;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    errno = 0;
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, hex ? 16 : 10);
    return errno == 0 && end != text.c_str() && *end == '\0';
}

bool parseSeconds(const std::string& text, double& value)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(value) && value >= 0 && value < 1e7;
}

bool parseAnswer(const std::string& text, hubOptions& options)
{
    const auto equals = text.find('=');
    long message = 0;
    long value = 0;
    if (equals == std::string::npos || !parseLong(text.substr(0, equals), message) ||
        !parseLong(text.substr(equals + 1), value) || message < 0 || message > 0xffff)
        return false;
    options.answers[static_cast<unsigned>(message)] = value;
    return true;
}

using valueSetter = std::function<bool(const std::string&, hubOptions&)>;

const std::map<std::string, valueSetter>& valueOptions()
{
    static const std::map<std::string, valueSetter> table = {
        {"--devices", [](const std::string& v, hubOptions& o) {
             long n = 0;
             if (!parseLong(v, n) || n < 0)
                 return false;
             o.deviceLimit = static_cast<unsigned long>(n);
             return true;
         }},
        {"--driver-mode", [](const std::string& v, hubOptions& o) {
             if (v != "off" && v != "on")
                 return false;
             o.driverModeOff = v == "off";
             return true;
         }},
        {"--register-reply", [](const std::string& v, hubOptions& o) {
             long n = 0;
             if (!parseLong(v, n))
                 return false;
             o.registerReply = n;
             return true;
         }},
        {"--state", [](const std::string& v, hubOptions& o) {
             long n = 0;
             if (!parseLong(v, n))
                 return false;
             o.state = n;
             return true;
         }},
        {"--answer", parseAnswer},
        {"--seconds", [](const std::string& v, hubOptions& o) {
             double s = 0;
             if (!parseSeconds(v, s))
                 return false;
             o.seconds = s;
             return true;
         }},
        {"--grace", [](const std::string& v, hubOptions& o) { return parseSeconds(v, o.graceSeconds); }},
        {"--summary", [](const std::string& v, hubOptions& o) { o.summaryFile = v; return !v.empty(); }},
        {"--capture", [](const std::string& v, hubOptions& o) { o.captureFile = v; return !v.empty(); }},
        {"--series", [](const std::string& v, hubOptions& o) { o.seriesFile = v; return !v.empty(); }},
        {"--ready", [](const std::string& v, hubOptions& o) { o.readyFile = v; return !v.empty(); }},
    };
    return table;
}

bool setFlag(const std::string& name, hubOptions& options)
{
    if (name == "--fail-identity")
        options.failIdentity = true;
    else if (name == "--no-broadcast")
        options.noBroadcast = true;
    else if (name == "--close-on-register")
        options.closeOnRegister = true;
    else if (name == "--quiet")
        options.quiet = true;
    else if (name == "--help" || name == "-h")
        options.help = true;
    else
        return false;
    return true;
}

} // namespace

std::string parseHubOptions(int argc, const char* const* argv, hubOptions& options)
{
    for (int i = 0; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        bool inlineValue = false;
        const auto equals = name.find('=');
        if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
            inlineValue = true;
        }
        if (!inlineValue && setFlag(name, options))
            continue;
        const auto setter = valueOptions().find(name);
        if (setter == valueOptions().end())
            return "unknown option " + name;
        if (!inlineValue) {
            if (i + 1 >= argc)
                return "option " + name + " needs a value";
            value = argv[++i];
        }
        if (!setter->second(value, options))
            return "bad value for " + name + ": " + value;
    }
    return {};
}

const char* hubHelpText()
{
    return R"(kivstandin - a stand-in for the KIV hub, for testing drivers without a live system.
It is not KIV: it only answers the hub interface and counts the traffic it sees.

Usage: kivstandin [options]

Options:
  --devices N          device limit: registering a device outside 1..N answers 1
                       (default 4094); also the answer to 49245
  --driver-mode off    every registration answers 3 (--driver-mode on: the default)
  --register-reply V   every registration answers V, overriding the rules (e.g. 7);
                       a driver is recorded unless V is 1, 2 or 3
  --fail-identity      answer 0 to the identity check 49552 (broadcasts still answered)
  --no-broadcast       do not answer the broadcasts 2031/49153 (dravik still finds it)
  --state V            answer V to 2214 (default: the state held for the device,
                       2 after registration, as set by 2215; 0 for an unknown device)
  --answer MSG=VALUE   answer VALUE to message MSG, repeatable; defaults: 49238 -> 1,
                       49245 -> the device limit, 49233/49234 -> 4096, 49243 -> 10,
                       49244/49860 -> 1, command texts 2123/2124/2159/2187 -> 1
                       (0 for a malformed IR text)
  --seconds N          announce closing (2175 to every driver) after N seconds, then exit
                       once every driver has gone, or after the grace time
  --grace N            seconds to wait for drivers after announcing closing (default 5)
  --close-on-register  announce closing as soon as a driver has registered, before its
                       registration is answered, then exit as with --seconds
  --summary FILE       write the summary as JSON on exit (keys below)
  --capture FILE       write every command text received, one per line, flushed per line
                       (control characters inside a text are written as '?')
  --series FILE        write commands and bytes per device and second as CSV: the header
                       "second,device,commands,bytes", then, once each second of the run
                       has passed, one row per device that sent anything in it (a device
                       with nothing in a second has no row), appended and flushed; the
                       seconds are the wall clock's, second 1 being the one the hub
                       started in (its part after the start), and the last, partial
                       second is written on exit, so the rows add up to the summary's
                       "devices"
  --quiet              no live status line
  --ready FILE         write the hub window's handle (decimal) to FILE once the window
                       exists and the loop runs
  --help               this text

The live status line goes to stderr once a second (devices, messages/s, bytes/s,
malformed IR texts, bad frames). The human summary goes to stdout on exit.
SIGINT/SIGTERM announce closing at once, then exit as with --seconds.

Commands on standard input, one per line; each prints one line starting with
"ok" or "error" on stdout:
  ns DEVICE TEXT...           message 2121 with TEXT (as it stands) through the relay
  text DEVICE WPARAM TEXT...  message 2189 with that wParam and TEXT through the relay
  db DEVICE INDEX DATABASE    message 2174 (wParam DEVICE, lParam INDEX | DATABASE<<16)
  db32 DEVICE INDEX DATABASE  message 49854 through the relay (three 32-bit numbers)
  ask DEVICE MSG              send MSG (2179, 2180, 2181 or 2190) and print
                              "answer DEVICE MSG VALUE" before the ok line
  close                       announce closing (2175) to every driver now
  goodbye DEVICE              send closing (2175) to the driver of DEVICE alone, which
                              ends it as closing does (it unregisters by itself); the
                              hub goes on
  status                      one line per driver: "driver DEVICE WINDOW MODE STATE",
                              then "run started_utc=S" (as in the summary: where
                              the series' seconds lie, while the run goes) and
                              "counts messages=M malformed=N bad_frames=B" (the
                              totals so far, as in the summary)
  quit                        exit at once (the summary is still written)
Replies: "ok ns DEVICE RESULT", "ok text DEVICE RESULT" (RESULT is the relay reply,
or "none" when the driver took the request without replying), "ok db DEVICE",
"ok db32 DEVICE RESULT", "ok ask DEVICE MSG VALUE", "ok close COUNT", "ok goodbye DEVICE",
"ok status COUNT", "ok quit"; "error ..." tells what went wrong.

Carriers: value messages (2174, 2175, 2179, 2180, 2181, 2190) go to a mode-1
driver directly and to a mode-2 driver wrapped in message 2074, whose wParam
holds the message number in bits 0-15 and the message's own wParam from bit 16
up (so 2174's device survives the wrap; a device too wide for the bits left is
refused with an error). Texts go through the WM_COPYDATA relay in both modes.
telmif32 ordinal 2 frames reach the hub as WM_COPYDATA with dwData 0xf32a.

Unregistering: 2185 frees the device in lParam, 2186 every device of the window
in wParam. Only the window that holds a device may free it: a 2185 whose wParam
names another window, or a 2186 whose lParam names a device of another window,
is refused (answer 1) and reported on stderr. A 2185 with wParam 0 names no
window and is taken as it stands.

Counting: per command word (IR, NS, RM, RD, other) and per device (field 1 of
the text), in messages and bytes (characters of the text, without its
terminator). Each IR text must read "IR DEVICE SLOT 'TEXT' 0" with a registered
device and no apostrophe or percent sign inside TEXT; others count as malformed.

Summary JSON keys: "messages", "bytes", "seconds", "started_utc" (Unix seconds, to
the millisecond, when the run began; the series' second N is the wall clock's
second floor(started_utc)+N-1), "workstation" (this workstation's number
from the configuration library, 0 when none is configured), "rate" (messages
per second),
"byte_rate", "malformed", "bad_frames" (relay or telmif32 frames refused), "values"
(device values taken: 49244, 49860),
"slot_min", "slot_max", "size_min", "size_max" (of well-formed IR texts; null
when there were none), "words" (object: word -> {"messages", "bytes"}),
"devices" (object: device -> {"messages", "bytes"}; "unknown" when field 1 is
no device number from 1 to the device limit), "malformed_devices" (object:
device -> malformed IR texts, for every key of "devices"), "registrations" (list
of every registration asked for, in order: {"device", "window" (the handle as a
number), "mode" (1 or 2), "reply" (as answered; 1, 2 and 3 refuse), "time"
(seconds since the run began)}; the first 10000 only), "registrations_dropped"
(registrations beyond those), "drivers" (drivers still registered at exit).
The figures per second are in the --series file only.
)";
}
