#include <vyr/cld/ui.h>

#include "frame/contain.h"
#include "frame/enums.h"
#include "frame/text.h"
#include "via/delegate.h"

#include <VyrCldapi/Cld_Integration.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>

using vyr::cld::bridge::contain;
using vyr::cld::bridge::marshal_as;
using vyr::cld::bridge::read_host_encoding;
using VyrCldapi::Cld_Integration;
using VyrCldapi::ProgressAction;
using VyrCldapi::String;

namespace {

using ProgressFunction = std::function<void(vyr::cld::ProgressEventType, double, const std::string&)>;

// The service's progress notification, converted and handed to one copy of the host's function.
struct ProgressForwarder {
    ProgressFunction callback;

    void operator()(VyrCldapi::ProgressEventType type, double progress, const String& title) const
    {
        const auto host = read_host_encoding();
        // The title first: when both are bad, the null title is the failure reported.
        const auto text = marshal_as<std::string>(title, host);
        // A kind without a name of ours never reaches the host.
        const auto kind = marshal_as<std::optional<vyr::cld::ProgressEventType>>(type, host).value();
        callback(kind, progress, text);
    }
};

} // namespace

namespace VyrCldapiIntegration {

void SetCallbacks(ProgressFunction progressCallback)
{
    contain([&] {
        // The service keeps the only copy of the host's function; the bridge keeps nothing.
        Cld_Integration::SetCallbacks(
            via::CreateDelegate<ProgressAction>(ProgressForwarder{std::move(progressCallback)}));
    });
}

} // namespace VyrCldapiIntegration
