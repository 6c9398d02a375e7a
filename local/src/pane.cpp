#include "pane.h"

#include "service.h"

namespace vyr::cld::local {

Ref<UI::FileBrowserUI> Client::StartFileBrowserUi(Ref<UI::IFileBrowserUICallback> callback)
{
    if (!callback) {
        fail(ExceptionKind::ArgumentNull, "callback");
    }
    Ref<UI::IFileBrowserUICallback> previous;
    std::shared_ptr<Pane> pane;
    {
        const std::lock_guard lock(mutex_);
        previous = std::exchange(callback_, std::move(callback));
        pane_ = std::make_shared<Pane>();
        pane = pane_;
    }
    if (previous) {
        previous->Dispose();
    }
    return pane;
}

void Client::StopFileBrowserUi()
{
    Ref<UI::IFileBrowserUICallback> previous;
    {
        const std::lock_guard lock(mutex_);
        previous = std::exchange(callback_, nullptr);
        pane_.reset();
    }
    if (previous) {
        // Released now, not whenever the last reference goes: the host may unload its code next.
        previous->Dispose();
    }
}

bool Client::ShowImportFilesDialog(ApiModels::TagCategory category, const String& header)
{
    static_cast<void>(category);
    utf8(header, "header");
    return settings_.dialogs.importFiles.value_or(false);
}

bool Client::ShowIncludeFolderDialog()
{
    return settings_.dialogs.includeFolder.value_or(false);
}

void Client::AddIncludeFoldersToProject(const List<String>& includeFolders)
{
    const auto folders = utf8_list(includeFolders, "includeFolders");
    const auto project = context().projectId;
    if (!folders) {
        fail(ExceptionKind::ArgumentNull, "includeFolders");
    }
    if (!project) {
        fail(ExceptionKind::InvalidOperation, "No project is selected.");
    }
    for (const auto& folder : *folders) {
        // The host learns nothing either way: a project it may no longer see keeps no folders.
        static_cast<void>(domain_->add_include_folder(*project, folder));
    }
}

bool Client::AreIncludeFoldersInModel(const List<String>& includeFolders)
{
    const auto folders = utf8_list(includeFolders, "includeFolders");
    const auto project = context().projectId;
    if (!folders) {
        fail(ExceptionKind::ArgumentNull, "includeFolders");
    }
    if (!project) {
        return false;
    }
    return std::all_of(folders->begin(), folders->end(),
                       [&](const std::string& folder) { return domain_->has_include_folder(*project, folder); });
}

List<Ref<FileToImport>> Client::ShowFilesOverviewDialog(const List<String>& filesInCurrentModel,
                                                              const List<String>& resultApplayers,
                                                              String& importToThisLayer)
{
    utf8_list(filesInCurrentModel, "filesInCurrentModel");
    utf8_list(resultApplayers, "resultApplayers");
    const auto& answer = settings_.dialogs.filesToImport;
    if (!answer) {
        // Cancelled: nothing to import and no layer chosen.
        return List<Ref<FileToImport>>::WithCapacity(0);
    }
    auto out = List<Ref<FileToImport>>::WithCapacity(answer->size());
    for (const auto& file : *answer) {
        out.Add(std::make_shared<FileToImport>(
            FileToImport{service_text(file.fileName), file.vendor ? service_text(*file.vendor) : String{}}));
    }
    importToThisLayer = service_text(settings_.dialogs.importLayer);
    return out;
}

} // namespace vyr::cld::local
