#include "ui/pane.h"

#include "frame/contain.h"
#include "frame/failures.h"
#include "frame/text.h"
#include "via/delegate.h"

#include <VyrCldapi/Cld_Integration.h>

#include <string>
#include <utility>

using vyr::cld::bridge::contain;
using vyr::cld::bridge::FileBrowserUiCallback;
using vyr::cld::bridge::marshal_as;
using VyrCldapi::Cld_Integration;
using VyrCldapi::List;
using VyrCldapi::String;

namespace vyr::cld::bridge {

FileBrowserUiCallback::FileBrowserUiCallback(std::unique_ptr<vyr::cld::IFileBrowserUICallback> callback) noexcept
    : m_callback(std::move(callback))
{
}

vyr::cld::IFileBrowserUICallback& FileBrowserUiCallback::host() const
{
    if (m_released) {
        raise_released();
    }
    if (!m_callback) {
        raise_no_callback();
    }
    return *m_callback;
}

std::intptr_t FileBrowserUiCallback::get_HWND()
{
    return reinterpret_cast<std::intptr_t>(host().getHwnd());
}

void FileBrowserUiCallback::ShowLockInfoPanelNearUi(const String& fileName)
{
    const auto name = marshal_as<std::string>(fileName);
    host().showLockInfoPanelNearUi(name);
}

bool FileBrowserUiCallback::PromptSave(const String& fileName)
{
    const auto name = marshal_as<std::string>(fileName);
    return host().promptSave(name);
}

List<String> FileBrowserUiCallback::CollectRelatedFiles(const String& fileName)
{
    const auto name = marshal_as<std::string>(fileName);
    return marshal_as<List<String>>(host().collectRelatedFiles(name));
}

bool FileBrowserUiCallback::IsFileOperationsAllowed(const String& fileName)
{
    const auto name = marshal_as<std::string>(fileName);
    return host().isFileOperationsAllowed(name);
}

bool FileBrowserUiCallback::IsUsingContractPosts()
{
    return host().isUsingContractPosts();
}

void FileBrowserUiCallback::Dispose()
{
    m_released = true;
    m_callback.reset();
}

} // namespace vyr::cld::bridge

namespace vyr::cld {

FileBrowserUi::operator bool() const
{
    return m_wrapper && m_wrapper->pane;
}

HWND FileBrowserUi::getHwnd()
{
    if (!*this) {
        return nullptr;
    }
    return contain([&] { return reinterpret_cast<HWND>(m_wrapper->pane->get_HWND()); });
}

void FileBrowserUi::setPaneIsActive(bool set)
{
    if (!*this) {
        return;
    }
    contain([&] { m_wrapper->pane->set_PaneIsActive(set); });
}

bool FileBrowserUi::getPaneIsActive()
{
    if (!*this) {
        return false;
    }
    return contain([&] { return m_wrapper->pane->get_PaneIsActive(); });
}

void FileBrowserUi::handleEvents()
{
    if (!*this) {
        return;
    }
    contain([&] { m_wrapper->pane->HandleEvents(); });
}

} // namespace vyr::cld

namespace VyrCldapiIntegration {

vyr::cld::FileBrowserUi StartFileBrowserUi(std::unique_ptr<vyr::cld::IFileBrowserUICallback> callback)
{
    return contain([&] {
        auto adapter = std::make_shared<FileBrowserUiCallback>(std::move(callback));
        // Handed over, not shared: from here the service alone decides when the adapter goes.
        return marshal_as<vyr::cld::FileBrowserUi>(Cld_Integration::StartFileBrowserUi(std::move(adapter)));
    });
}

void StopFileBrowserUi()
{
    contain([] { Cld_Integration::StopFileBrowserUi(); });
}

} // namespace VyrCldapiIntegration
