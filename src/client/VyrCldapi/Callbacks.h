#pragma once

#include <VyrCldapi/Enums.h>
#include <VyrCldapi/Values.h>

#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>

/// @file
/// Callback objects that cross between the service and its callers. They follow the managed
/// runtime's lifetime rules: the service holds them by shared reference, dropping the last
/// reference runs the finaliser (the destructor), and an explicit Dispose runs the same clean-up
/// once and cancels the finaliser. Implementations keep that promise themselves.
namespace VyrCldapi {

class IDisposable {
public:
    virtual ~IDisposable() = default;
    virtual void Dispose() = 0;
};

template <class Signature> class Delegate;

/// A callable bound to one operation of a shared target object.
template <class R, class... Args> class Delegate<R(Args...)> {
public:
    Delegate() noexcept = default;

    /// Binds `Method` of `target`; the delegate shares ownership of the target.
    template <auto Method, class T> [[nodiscard]] static Delegate Bind(std::shared_ptr<T> target)
    {
        Delegate delegate;
        delegate.invoke_ = [](void* self, Args... args) -> R {
            return (static_cast<T*>(self)->*Method)(std::forward<Args>(args)...);
        };
        if constexpr (std::is_base_of_v<IDisposable, T>) {
            delegate.disposable_ = target.get();
        }
        delegate.target_ = std::move(target);
        return delegate;
    }

    R Invoke(Args... args) const
    {
        if (!invoke_) {
            throw Exception(ExceptionKind::NullReference, "The delegate is not bound.");
        }
        return invoke_(target_.get(), std::forward<Args>(args)...);
    }

    R operator()(Args... args) const { return Invoke(std::forward<Args>(args)...); }

    [[nodiscard]] explicit operator bool() const noexcept { return invoke_ != nullptr; }
    [[nodiscard]] const std::shared_ptr<void>& Target() const noexcept { return target_; }

    /// Explicit release of the bound target, where the target can be released.
    void DisposeTarget() const
    {
        if (disposable_) {
            disposable_->Dispose();
        }
    }

private:
    std::shared_ptr<void> target_;
    IDisposable* disposable_ = nullptr;
    R (*invoke_)(void*, Args...) = nullptr;
};

using ProgressAction = Delegate<void(ProgressEventType type, double progress, const String& title)>;

namespace UI {

/// The service's file-browser pane.
class FileBrowserUI {
public:
    virtual ~FileBrowserUI() = default;
    virtual std::intptr_t get_HWND() = 0;
    virtual bool get_PaneIsActive() = 0;
    virtual void set_PaneIsActive(bool value) = 0;
    virtual void HandleEvents() = 0;
};

/// What the pane asks of its host while it runs.
class IFileBrowserUICallback : public IDisposable {
public:
    virtual std::intptr_t get_HWND() = 0;
    virtual void ShowLockInfoPanelNearUi(const String& fileName) = 0;
    virtual bool PromptSave(const String& fileName) = 0;
    virtual List<String> CollectRelatedFiles(const String& fileName) = 0;
    virtual bool IsFileOperationsAllowed(const String& fileName) = 0;
    virtual bool IsUsingContractPosts() = 0;
};

} // namespace UI
} // namespace VyrCldapi
