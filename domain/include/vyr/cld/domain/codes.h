#pragma once

// The response codes every operation answers with, HTTP-like, whichever back end serves it.
namespace vyr::cld::domain {

enum Code : int {
    ok = 200,
    created = 201,
    accepted = 202,
    bad_request = 400,
    forbidden = 403,
    not_found = 404,
    timed_out = 408,
    conflict = 409,
    no_project = 412,
    held_open = 423, // another program holds the working copy open; tried again, see the sync rules

    failed = 500,
    no_space = 507,
};

// An operation ends early with this code; caught where the operation chooses its answer.
struct Refusal {
    int code;
};

} // namespace vyr::cld::domain
