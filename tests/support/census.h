#pragma once

namespace vyr::cld::test {

// How many copies of a test double exist, and how many ever did. A copy destroyed twice shows as
// destroyed > created (and as a double free under AddressSanitizer); a leaked one as live > 0.
struct Census {
    int created = 0;
    int destroyed = 0;
    [[nodiscard]] int live() const { return created - destroyed; }
};

// A member that enters every copy of its owner in a census.
class Counted {
public:
    explicit Counted(Census& census) : census_(&census) { ++census_->created; }
    Counted(const Counted& other) : census_(other.census_) { ++census_->created; }
    Counted& operator=(const Counted&) = default;
    ~Counted() { ++census_->destroyed; }

private:
    Census* census_;
};

} // namespace vyr::cld::test
