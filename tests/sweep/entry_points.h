#pragma once

#include "support/allocation_faults.h"
#include "sweep/scripted_service.h"

#include <vyr/cld/enums.h>

#include <functional>
#include <string_view>
#include <vector>

namespace sweep {

namespace cld = vyr::cld;

// How a call came back, judged by the entry itself against its valid answer and its failure
// value (and, where it has them, against what its out-parameters must then hold).
enum class Outcome { Success, FailureValue, Void, Wrong };

template <class T> Outcome classify(const T& actual, const T& success, const T& failure = T{})
{
    if (actual == success) {
        return Outcome::Success;
    }
    return actual == failure ? Outcome::FailureValue : Outcome::Wrong;
}

// A defective answer of the service and how the entry point must come back from it.
struct BadAnswer {
    std::string_view what;
    Script script;
    Outcome expected = Outcome::FailureValue;
    // Where the defined result is neither the valid one nor the failure value, a call that
    // judges it instead of the entry's own.
    std::function<Outcome(int& responsecode)> call = nullptr;
};

// Runs the library call `call` with the allocation fault that the sweep armed; the arguments and
// expected values around it are built outside, so that only the library's allocations count.
template <class Call> decltype(auto) library(Call&& call)
{
    const vyr::cld::test::allocation::Armed armed;
    return call();
}

// A script whose answer is `answer`.
template <class T> Script answering(T answer, std::vector<String> outputs = {})
{
    return Script{nullptr, std::any(std::move(answer)), std::move(outputs)};
}

// One exported entry point: how to call it with valid arguments, and what the service answers.
struct EntryPoint {
    std::string_view name;      // as the shared library exports it
    std::string_view operation; // the service operation it must call; empty for none
    bool responsecode = false;  // whether it takes one
    Script valid;               // a valid answer (the sweep sets the effect)
    std::function<Outcome(int& responsecode)> call;
    std::vector<BadAnswer> bad_answers = {};
};

// The entries of each family; `all_entry_points` joins them.
std::vector<EntryPoint> session_entry_points();
std::vector<EntryPoint> file_entry_points();
std::vector<EntryPoint> project_entry_points();
std::vector<EntryPoint> ui_entry_points();
const std::vector<EntryPoint>& all_entry_points();

} // namespace sweep
