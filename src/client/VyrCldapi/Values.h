#pragma once

#include <VyrCldapi/Export.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

/// @file
/// The value types of the service client. They model a managed runtime: text is UTF-16 or null,
/// lists may be null, model objects are shared references that may be null.
namespace VyrCldapi {

/// A shared reference to a model object; may be null.
template <class T> using Ref = std::shared_ptr<T>;

/// A number that may be absent.
template <class T> using Nullable = std::optional<T>;

/// UTF-16 text or null. Null and empty are different values.
class String {
public:
    String() noexcept = default;
    String(std::nullptr_t) noexcept {}
    String(std::u16string text) noexcept : null_(false), text_(std::move(text)) {}
    String(const char16_t* text) : null_(text == nullptr), text_(text ? text : u"") {}

    [[nodiscard]] bool IsNull() const noexcept { return null_; }
    [[nodiscard]] std::size_t Length() const noexcept { return text_.size(); }
    [[nodiscard]] const char16_t* Data() const noexcept { return text_.data(); }
    [[nodiscard]] std::u16string_view View() const noexcept { return text_; }

    friend bool operator==(const String&, const String&) = default;

private:
    bool null_ = true;
    std::u16string text_;
};

/// An ordered list that may be null; its elements may be null where T can be. Like every default
/// value here, List<T>() and List<T>{} are null; an empty list is List<T>::WithCapacity(0).
template <class T> class List {
public:
    List() noexcept = default;
    List(std::nullptr_t) noexcept {}
    List(std::initializer_list<T> items) : null_(false), items_(items) {}
    explicit List(std::vector<T> items) noexcept : null_(false), items_(std::move(items)) {}

    /// An empty, non-null list with room for `capacity` elements.
    [[nodiscard]] static List WithCapacity(std::size_t capacity)
    {
        List list{std::vector<T>{}};
        list.items_.reserve(capacity);
        return list;
    }

    [[nodiscard]] bool IsNull() const noexcept { return null_; }
    [[nodiscard]] std::size_t Count() const noexcept { return items_.size(); }
    [[nodiscard]] std::size_t Capacity() const noexcept { return items_.capacity(); }
    [[nodiscard]] const T& operator[](std::size_t i) const { return items_[i]; }
    [[nodiscard]] auto begin() const noexcept { return items_.begin(); }
    [[nodiscard]] auto end() const noexcept { return items_.end(); }

    void Add(T item) { items_.push_back(std::move(item)); }

    friend bool operator==(const List&, const List&) = default;

private:
    bool null_ = true;
    std::vector<T> items_;
};

/// A span of time in 100-nanosecond ticks.
struct TimeSpan {
    std::int64_t Ticks = 0;
    friend bool operator==(const TimeSpan&, const TimeSpan&) = default;
};

enum class DateTimeKind : std::int32_t { Unspecified = 0, Utc = 1, Local = 2 };

/// A point in time: 100-nanosecond ticks since 0001-01-01 00:00:00, with a kind.
struct DateTime {
    std::int64_t Ticks = 0;
    DateTimeKind Kind = DateTimeKind::Unspecified;
    friend bool operator==(const DateTime&, const DateTime&) = default;
};

enum class ExceptionKind : std::int32_t {
    ArgumentNull,
    ArgumentOutOfRange,
    Argument,
    OutOfMemory,
    NullReference,
    InvalidOperation,
};

/// A failure raised by the service client or by the conversions around it.
class VYRCLDAPI_EXPORT Exception : public std::exception {
public:
    Exception(ExceptionKind kind, std::string_view message);

    [[nodiscard]] ExceptionKind Kind() const noexcept { return kind_; }
    [[nodiscard]] const char* what() const noexcept override;

private:
    ExceptionKind kind_;
    // Shared so that copying a failure never allocates.
    std::shared_ptr<const std::string> message_;
};

} // namespace VyrCldapi
