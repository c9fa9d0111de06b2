/*
 * The requests a client makes of the window station and the station's
 * answers, as both sides see them. Only this unit puts them into frames
 * and takes them out, so the two sides cannot read the bytes differently.
 *
 * On the wire a request's flags travel in the header's status field, its
 * names as the payload; an answer's owner pid travels in lParam and a
 * snapshot as pairs of 32-bit handle and pid.
 */
#ifndef RKSTATIONPROTOCOL_H
#define RKSTATIONPROTOCOL_H

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "wire/rkFrame.h"

namespace rkwire {

/*
 * Create and Claim always carry both names; Find carries the ones it
 * matches by and leaves the others out. The other kinds carry none.
 * Every field has a default, so that {Kind::Resolve, handle} is a whole
 * request.
 */
struct StationRequest {
    Kind kind{};
    uint32_t window = 0; /* the handle claimed, destroyed or resolved */
    bool topLevel = false;
    std::optional<std::string> className = std::nullopt;
    std::optional<std::string> windowName = std::nullopt;

    /* The header (without its sequence) and payload of the request. */
    Frame encode() const;
    /* False for a request the station does not know or whose names do not decode. */
    bool decode(const Frame& frame);
};

/* A window of a snapshot and the process it lives in. */
struct OwnedWindow {
    uint32_t handle;
    pid_t pid;
};

struct StationAnswer {
    Status status = Status::Ok;
    uint32_t window = 0; /* the handle created, claimed, resolved or found */
    pid_t pid = 0;       /* the owner of a window resolved or found */
    std::vector<OwnedWindow> snapshot{}; /* the top-level windows, in slot order */

    /* The answer to the request with this sequence number. */
    Frame encode(uint64_t sequence) const;
    /* False for a frame that is no answer of the station. */
    bool decode(const Frame& frame);
};

/* The names of a request's payload: each ends in a NUL, a missing one is empty. */
std::vector<char> encodeNames(const char* first, const char* second);
bool decodeNames(const std::vector<char>& payload, std::string& first, std::string& second);

} // namespace rkwire

#endif
