#include "wire/rkStationProtocol.h"

#include <cstring>

namespace rkwire {

namespace {

bool carriesNames(Kind kind) { return kind == Kind::Create || kind == Kind::Claim || kind == Kind::Find; }

const char* nameOrNull(const std::optional<std::string>& name) { return name ? name->c_str() : nullptr; }

} // namespace

Frame StationRequest::encode() const
{
    Frame frame;
    frame.header = makeHeader(kind, window, 0);
    uint16_t flags = topLevel ? flagTopLevel : 0;
    /* Create and Claim always name both, so only Find says which names it has. */
    if (kind == Kind::Find)
        flags |= (className ? flagHasClass : 0) | (windowName ? flagHasName : 0);
    frame.header.status = flags;
    if (carriesNames(kind))
        frame.payload = encodeNames(nameOrNull(className), nameOrNull(windowName));
    frame.header.length = static_cast<uint32_t>(frame.payload.size());
    return frame;
}

/* Requests without names are taken whatever their payload and flags; the station ignores both. */
bool StationRequest::decode(const Frame& frame)
{
    *this = StationRequest{};
    kind = static_cast<Kind>(frame.header.kind);
    window = frame.header.window;
    const uint16_t flags = frame.header.status;
    topLevel = flags & flagTopLevel;
    switch (kind) {
    case Kind::Destroy:
    case Kind::Resolve:
    case Kind::Snapshot:
        return true;
    case Kind::Create:
    case Kind::Claim:
    case Kind::Find:
        break;
    default:
        return false;
    }
    std::string first, second;
    if (!decodeNames(frame.payload, first, second))
        return false;
    const bool find = kind == Kind::Find;
    if (!find || (flags & flagHasClass))
        className = std::move(first);
    if (!find || (flags & flagHasName))
        windowName = std::move(second);
    return true;
}

Frame StationAnswer::encode(uint64_t sequence) const
{
    Frame frame;
    frame.header = makeHeader(Kind::StationReply, window, 0);
    frame.header.status = static_cast<uint16_t>(status);
    frame.header.sequence = sequence;
    frame.header.lParam = pid;
    for (const OwnedWindow& owned : snapshot) {
        const uint32_t pair[2] = {owned.handle, static_cast<uint32_t>(owned.pid)};
        const char* bytes = reinterpret_cast<const char*>(pair);
        frame.payload.insert(frame.payload.end(), bytes, bytes + sizeof pair);
    }
    frame.header.length = static_cast<uint32_t>(frame.payload.size());
    return frame;
}

/* Bytes short of a whole pair at the end of a snapshot are ignored. */
bool StationAnswer::decode(const Frame& frame)
{
    if (frame.header.kind != static_cast<uint16_t>(Kind::StationReply))
        return false;
    status = static_cast<Status>(frame.header.status);
    window = frame.header.window;
    pid = static_cast<pid_t>(frame.header.lParam);
    snapshot.clear();
    uint32_t pair[2];
    for (size_t at = 0; at + sizeof pair <= frame.payload.size(); at += sizeof pair) {
        std::memcpy(pair, frame.payload.data() + at, sizeof pair);
        snapshot.push_back({pair[0], static_cast<pid_t>(pair[1])});
    }
    return true;
}

std::vector<char> encodeNames(const char* first, const char* second)
{
    std::vector<char> payload;
    for (const char* name : {first, second}) {
        if (name)
            payload.insert(payload.end(), name, name + std::strlen(name));
        payload.push_back('\0');
    }
    return payload;
}

bool decodeNames(const std::vector<char>& payload, std::string& first, std::string& second)
{
    if (payload.empty())
        return false;
    const char* begin = payload.data();
    const char* end = begin + payload.size();
    const char* firstEnd = static_cast<const char*>(std::memchr(begin, '\0', payload.size()));
    if (!firstEnd)
        return false;
    const char* secondEnd = static_cast<const char*>(std::memchr(firstEnd + 1, '\0', end - firstEnd - 1));
    if (!secondEnd || secondEnd + 1 != end)
        return false;
    first.assign(begin, firstEnd);
    second.assign(firstEnd + 1, secondEnd);
    return true;
}

} // namespace rkwire
